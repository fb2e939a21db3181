#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Korvane.Material.Blinn.h"
#include "Korvane.Material.BumpMap.h"
#include "Korvane.Material.Lambert.h"
#include "Korvane.Material.Layered.h"
#include "Korvane.Material.NormalMap.h"
#include "Korvane.Material.PBR.h"
#include "Korvane.Material.Phong.h"
#include "Korvane.Material.VertexColor.h"
#include "Korvane.Material.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {

constexpr TAlphaColorF Glow{0.25f, 0.5f, 0.75f, 1};

// The assets of the pictures, outliving the definitions that lend them.
std::vector<Owned<TKorvaneTextureAsset>>& Assets()
{
    static std::vector<Owned<TKorvaneTextureAsset>> assets;
    return assets;
}

// A texture of AChannel whose asset holds a 2 x 2 picture of AColor.
void AddPicture(TMaterialDef& ADef, TColorChannelDef AChannel, TAlphaColor AColor)
{
    auto* asset = Assets().emplace_back(new TKorvaneTextureAsset(nullptr)).get();
    auto bitmap = MakeOwned<TBitmap>(2, 2);
    bitmap->Clear(AColor);
    asset->ImportFromCachedBitmap("picture" + std::to_string(int(AChannel)) + ".png", std::move(bitmap));
    asset->SetIsStandalone(true);
    ADef.AddTexture(AChannel, asset, false);
}

TAlphaColor PixelAt00(const TBitmap* ABitmap)
{
    TBitmapData data;
    EXPECT_TRUE(const_cast<TBitmap*>(ABitmap)->Map(TMapAccess::Read, data));
    const TAlphaColor pixel = data.GetPixel(0, 0);
    const_cast<TBitmap*>(ABitmap)->Unmap(data);
    return pixel;
}

} // namespace

TEST(MaterialFactory, KindsGiveTheirSourceClassesAndCopyEmissiveAsTheKindSays)
{
    struct TCase {
        int Kind;
        bool Diffuse; // the definition has a diffuse texture
        TClass Class;
        bool EmissiveCopied;
        bool Texturing;
    };
    const TClass lambert = TKorvaneLambertMaterialSource::StaticClass();
    const TCase cases[] = {
        {int(TMaterialDefKind::mkDefault), false, lambert, true, false},
        {int(TMaterialDefKind::mkDefault), true, lambert, false, true},
        {11, true, lambert, false, true},
        {200, false, lambert, true, false},
        {int(TMaterialDefKind::mkColor), true, lambert, true, false},
        {int(TMaterialDefKind::mkLambert), false, lambert, true, false},
        {int(TMaterialDefKind::mkLambert), true, lambert, true, true},
        {int(TMaterialDefKind::mkPhong), true, TKorvanePhongMaterialSource::StaticClass(), true, true},
        {int(TMaterialDefKind::mkBlinnPhong), false, TKorvaneBlinnMaterialSource::StaticClass(), true, false},
        {int(TMaterialDefKind::mkNormalMap), true, TKorvaneNormalMapMaterialSource::StaticClass(), false, true},
        {int(TMaterialDefKind::mkBumpMap), true, TKorvaneBumpMapMaterialSource::StaticClass(), true, true},
        {int(TMaterialDefKind::mkBumpMap), false, TKorvaneBumpMapMaterialSource::StaticClass(), true, false},
        {int(TMaterialDefKind::mkVertexColor), false, TKorvaneVertexColorMaterialSource::StaticClass(), true, false},
        {int(TMaterialDefKind::mkCustom), true, TKorvaneDefaultMaterialSource::StaticClass(), true, true},
        {int(TMaterialDefKind::mkPBR), true, TKorvanePBRMaterialSource::StaticClass(), true, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.Kind) + (c.Diffuse ? " with" : " without") + " diffuse texture");
        TMaterialDef def;
        def.Kind = static_cast<TMaterialDefKind>(c.Kind);
        def.Emissive = Glow;
        if (c.Diffuse) AddPicture(def, TColorChannelDef::Diffuse, 0xFFFF0000);
        Owned<TComponent> owner(new TComponent(nullptr));
        auto* source = dynamic_cast<TKorvaneDefaultMaterialSource*>(TKorvaneMaterial::CreateMaterial(owner.get(), &def));
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(source->ClassType(), c.Class);
        EXPECT_EQ(source->Owner(), owner.get());
        EXPECT_EQ(source->TagObject(), &def);
        EXPECT_EQ(source->EmissiveF() == Glow, c.EmissiveCopied);
        EXPECT_EQ(source->UseTexturing(), c.Texturing);
        EXPECT_TRUE(source->UseLighting());
        if (c.Texturing && c.Diffuse) {
            ASSERT_NE(source->Texture(), nullptr);
            EXPECT_EQ(PixelAt00(source->Texture()), 0xFFFF0000u) << "the diffuse picture reaches texture 0";
        }
    }
}

TEST(MaterialFactory, PBRForcesNormalIntensityOneAndSwitchesEachMapByItsTexture)
{
    TMaterialDef def;
    def.Kind = TMaterialDefKind::mkPBR;
    def.NormalIntensity = 7;
    def.Metallic = 0.3f;
    AddPicture(def, TColorChannelDef::Metalness, 0xFF404040);
    AddPicture(def, TColorChannelDef::Emissive, 0xFF00FF00);
    Owned<TComponent> owner(new TComponent(nullptr));
    auto* source = dynamic_cast<TKorvanePBRMaterialSource*>(TKorvaneMaterial::CreateMaterial(owner.get(), &def));
    ASSERT_NE(source, nullptr);
    EXPECT_FLOAT_EQ(source->NormalIntensity(), 1);
    EXPECT_FLOAT_EQ(source->MetallicBias(), 0.3f);
    EXPECT_FALSE(source->UsePBRAlbedoTexture());
    EXPECT_TRUE(source->UsePBRMetallicTexture());
    EXPECT_FALSE(source->UsePBRRoughnessTexture());
    EXPECT_TRUE(source->UsePBREmissiveTexture());
    EXPECT_TRUE(source->EmissiveF() == TAlphaColorF(1, 1, 1, 1)) << "an emissive map lights at full strength";
    EXPECT_EQ(PixelAt00(source->MetalnessTexture()), 0xFF404040u);
    EXPECT_EQ(PixelAt00(source->EmissiveTexture()), 0xFF00FF00u);
    EXPECT_FALSE(source->UseParallaxOcclusion());
}

TEST(MaterialFactory, SpecularPowerBecomesShininess)
{
    const std::pair<float, float> cases[] = {{0.5f, 50}, {1, 1}, {0.123f, 13}, {32, 32}, {32.2f, 33}, {500, 100}};
    for (const auto& [power, shininess] : cases) {
        SCOPED_TRACE(power);
        TMaterialDef def;
        def.Kind = TMaterialDefKind::mkPhong;
        def.SpecPow = power;
        Owned<TComponent> owner(new TComponent(nullptr));
        auto* source = dynamic_cast<TKorvaneDefaultMaterialSource*>(TKorvaneMaterial::CreateMaterial(owner.get(), &def));
        ASSERT_NE(source, nullptr);
        EXPECT_FLOAT_EQ(source->Shininess(), shininess);
    }
}

TEST(MaterialFactory, ASecondReferenceBelowTheSameOwnerGetsTheSameSource)
{
    TMaterialDef def;
    def.Kind = TMaterialDefKind::mkLambert;
    TMaterialRefDef first, second;
    first.SetReference(&def);
    second.SetReference(&def);
    TModelDef* model = reinterpret_cast<TModelDef*>(&def); // only tested for presence with a resolved reference
    Owned<TComponent> owner(new TComponent(nullptr));
    auto* nested = new TComponent(owner.get()); // a source below a child of the owner is found too
    TMaterialSource* made = TKorvaneMaterial::CreateMaterial(nested, model, &first);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(TKorvaneMaterial::CreateMaterial(owner.get(), model, &second), made);
    EXPECT_EQ(owner->ComponentCount(), 1) << "no second source was made";
    EXPECT_EQ(TKorvaneMaterial::CreateMaterial(owner.get(), nullptr, &second), nullptr) << "no model, no source";
    EXPECT_EQ(TKorvaneMaterial::CreateMaterial(owner.get(), nullptr), nullptr);

}

TEST(MaterialFactory, LayeredDefinitionsGiveOneLayerPerSubMaterialRecursively)
{
    // Sub-materials that no model holds belong to their layered parent.
    TMaterialDef top;
    top.Kind = TMaterialDefKind::mkLayered;
    auto* phong = new TMaterialDef();
    phong->SetId("shiny");
    phong->Kind = TMaterialDefKind::mkPhong;
    auto* nested = new TMaterialDef();
    nested->SetId("inner");
    nested->Kind = TMaterialDefKind::mkLayered;
    auto* pbr = new TMaterialDef();
    pbr->SetId("metal");
    pbr->Kind = TMaterialDefKind::mkPBR;
    nested->AddLayeredMaterial(pbr);
    auto* color = new TMaterialDef();
    color->SetId("flat");
    color->Kind = TMaterialDefKind::mkColor;
    top.AddLayeredMaterial(phong);
    top.AddLayeredMaterial(nested);
    top.AddLayeredMaterial(color);

    Owned<TComponent> owner(new TComponent(nullptr));
    auto* source = dynamic_cast<TKorvaneLayeredMaterialSource*>(TKorvaneMaterial::CreateMaterial(owner.get(), &top));
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->TagObject(), &top);
    EXPECT_EQ(source->Owner(), owner.get());
    struct TLayer {
        const char* Name;
        TClass Class;
        TMaterialDef* Def;
    };
    const TLayer layers[] = {{"shiny", TKorvanePhongMaterialSource::StaticClass(), phong},
                             {"inner", TKorvaneLayeredMaterialSource::StaticClass(), nested},
                             {"flat", TKorvaneLambertMaterialSource::StaticClass(), color}};
    ASSERT_EQ(source->Materials()->Count(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        TKorvaneLayeredMaterialItem* item = source->Materials()->Items(i);
        EXPECT_EQ(item->DisplayName(), layers[i].Name);
        ASSERT_NE(item->Material(), nullptr);
        EXPECT_EQ(item->Material()->ClassType(), layers[i].Class);
        EXPECT_EQ(item->Material()->TagObject(), layers[i].Def);
        EXPECT_EQ(item->Material()->Owner(), owner.get()) << "every layer source has the same owner";
    }
    auto* inner = dynamic_cast<TKorvaneLayeredMaterialSource*>(source->Materials()->Items(1)->Material());
    ASSERT_NE(inner, nullptr);
    ASSERT_EQ(inner->Materials()->Count(), 1);
    EXPECT_EQ(inner->Materials()->Items(0)->Material()->ClassType(), TKorvanePBRMaterialSource::StaticClass());
    EXPECT_EQ(owner->ComponentCount(), 5);

    // A definition made in code that holds itself is refused instead of recursing without end.
    struct TSelfLayered : TMaterialDef {
        TMaterialDef* GetLayeredMaterialByIndex(int AIdx) const override
        {
            return AIdx == 0 ? const_cast<TSelfLayered*>(this) : TMaterialDef::GetLayeredMaterialByIndex(AIdx);
        }
    };
    TSelfLayered loop;
    loop.SetId("loop");
    loop.Kind = TMaterialDefKind::mkLayered;
    loop.AddLayeredMaterial(new TMaterialDef()); // stands in the list for the loop itself
    EXPECT_EQ(MessageOf([&] { TKorvaneMaterial::CreateMaterial(owner.get(), &loop); }),
              "layered material \"loop\" contains itself among its layers");
}
