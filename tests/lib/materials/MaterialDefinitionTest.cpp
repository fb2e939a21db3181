#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Korvane.Material.PBR.h"
#include "Korvane.Material.SplatMap.h"
#include "Platform.Tree.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {

template <class T>
Owned<T> NewSource(TComponent* AOwner = nullptr)
{
    return Owned<T>(TKorvaneDefaultMaterialSource::Create<T>(AOwner));
}

TAlphaColor PixelAt00(const TBitmap* ABitmap)
{
    TBitmapData data;
    if (!ABitmap || !const_cast<TBitmap*>(ABitmap)->Map(TMapAccess::Read, data)) return 0;
    const TAlphaColor pixel = data.GetPixel(0, 0);
    const_cast<TBitmap*>(ABitmap)->Unmap(data);
    return pixel;
}

void Paint(TKorvaneBitmapPoolEntry* AEntry, TAlphaColor AColor)
{
    TBitmap picture(2, 2);
    picture.Clear(AColor);
    AEntry->SetBitmap(&picture);
}

// What a pool holds, entry by entry, in order.
struct TPoolEntry {
    std::string Name;
    TPointF Tiling;
    TAlphaColor Pixel;
    bool operator==(const TPoolEntry&) const = default;
};
std::ostream& operator<<(std::ostream& AOut, const TPoolEntry& AEntry)
{
    return AOut << AEntry.Name << " (" << AEntry.Tiling.X << ", " << AEntry.Tiling.Y << ") " << std::hex
                << AEntry.Pixel << std::dec;
}

std::vector<TPoolEntry> PoolOf(const TKorvaneDefaultMaterialSource& ASource)
{
    std::vector<TPoolEntry> pool;
    for (int i = 0; i < ASource.Bitmaps()->Count(); ++i) {
        const TKorvaneBitmapPoolEntry* entry = ASource.Bitmaps()->Items(i);
        pool.push_back({entry->DisplayName(), entry->Tiling(),
                        entry->Bitmap()->IsEmpty() ? TAlphaColor(0) : PixelAt00(entry->Bitmap())});
    }
    return pool;
}

TValue ExtensionValue(const TMaterialDef& ADef, const char* AId, const char* AKey)
{
    TValue value;
    EXPECT_TRUE(ReadMaterialExtension(ADef, AId, AKey, value)) << AId << "." << AKey;
    return value;
}

} // namespace

TEST(MaterialDefinitions, ASplatMapSourceComesBackWithItsFiveImagesTilingsAndSwitches)
{
    auto original = NewSource<TKorvaneSplatMapMaterialSource>();
    const TAlphaColor colours[] = {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0, 0xFFFF0000};
    const float tilings[] = {4, 1, 4, 2, 3};
    ASSERT_EQ(original->Bitmaps()->Count(), 5);
    for (int i = 0; i < 5; ++i) {
        Paint(original->Bitmaps()->Items(i), colours[i]);
        original->SetTextureTiling(i, TPointF(tilings[i], tilings[i] + 0.5f));
    }
    original->SetUseBlackAsTransparent(true);
    original->SetUseVertexColor(true);
    original->SetUseSpecular(false);
    original->SetDiffuseF(TAlphaColorF(0.1f, 0.2f, 0.3f, 1));
    original->SetEmissiveF(TAlphaColorF(0.4f, 0.5f, 0.6f, 1));
    original->SetShadingIntensity(2.5f);
    original->SetShadows(true); // eight dynamic entries whose names no channel has
    original->SetDisplacement(TVector3D(0.25f, 0.5f, 0.75f, 2));
    const std::vector<TPoolEntry> pool = PoolOf(*original);
    ASSERT_EQ(pool.size(), 13u);

    TMaterialDef def;
    original->StoreToDefinition(&def);
    EXPECT_EQ(def.TypeName, "Korvane.Material.SplatMap.TKorvaneSplatMapMaterialSource");
    for (const char* extension : {"Shading", "Maps", "Displacement", "SplatMap"})
        EXPECT_NE(def.GetExtension(extension), nullptr) << extension;
    EXPECT_TRUE(ExtensionValue(def, "SplatMap", "UseBlackAsTransparent").AsBoolean());
    EXPECT_TRUE(ExtensionValue(def, "SplatMap", "SplatTexture2").AsBoolean());
    ASSERT_NE(def.Textures(), nullptr);
    ASSERT_EQ(def.Textures()->size(), 13u);
    EXPECT_EQ((*def.Textures())[0]->Channel(), TColorChannelDef::UserSpecific) << "SplatTexture0";
    EXPECT_EQ((*def.Textures())[4]->Channel(), TColorChannelDef::Diffuse) << "Texture0";
    // The stored picture is a copy: the pool goes on with its own bitmap.
    const TKorvaneTextureAsset* asset = (*def.Textures())[0]->AssetRef();
    ASSERT_NE(asset, nullptr);
    EXPECT_NE(const_cast<TKorvaneTextureAsset*>(asset)->GetBitmap(), original->Bitmaps()->Items(0)->Bitmap());

    auto loaded = NewSource<TKorvaneSplatMapMaterialSource>();
    loaded->LoadFromDefinition(&def);
    EXPECT_EQ(loaded->TagObject(), &def);
    EXPECT_EQ(PoolOf(*loaded), pool) << "names, tilings and images in pool order";
    EXPECT_TRUE(loaded->UseBlackAsTransparent());
    EXPECT_TRUE(loaded->UseVertexColor());
    EXPECT_FALSE(loaded->UseSpecular());
    EXPECT_TRUE(loaded->Shadows());
    EXPECT_FLOAT_EQ(loaded->ShadingIntensity(), 2.5f);
    EXPECT_TRUE(loaded->DiffuseF() == original->DiffuseF());
    EXPECT_TRUE(loaded->EmissiveF() == original->EmissiveF());
    EXPECT_TRUE(loaded->Displacement() == original->Displacement());
    EXPECT_EQ(loaded->UseNormalMapping(), original->UseNormalMapping());
    EXPECT_EQ(PixelAt00(loaded->GetSplatTexture(3)), colours[3]);
    EXPECT_EQ(PixelAt00(loaded->Texture()), colours[4]);

    // Freeing the definition (and its assets) leaves the original's pool whole.
    def.ClearTextures();
    EXPECT_EQ(PoolOf(*original), pool);
}

TEST(MaterialDefinitions, APBRSourceComesBackWithItsTexturesAndSwitches)
{
    auto original = NewSource<TKorvanePBRMaterialSource>();
    struct TMap {
        const char* Entry;
        TAlphaColor Colour;
    };
    const TMap maps[] = {{"Texture0", 0xFF112233},         {"NormalMapTexture", 0xFF8080FF},
                         {"MetalnessTexture", 0xFF404040}, {"RoughnessTexture", 0xFFC0C0C0},
                         {"AmbientOcclusionTexture", 0xFFE0E0E0}, {"EmissiveTexture", 0xFF00FF00},
                         {"SpecularMapTexture", 0xFF202020}};
    for (const TMap& m : maps) {
        TKorvaneBitmapPoolEntry* entry = original->FindBitmapEntryByName(m.Entry);
        ASSERT_NE(entry, nullptr) << m.Entry;
        Paint(entry, m.Colour);
    }
    original->SetTextureTiling(2, TPointF(8, 8));
    original->SetUsePBREmissiveTexture(true);
    original->SetUsePBRAOTexture(false);
    original->SetMetallicBias(0.3f);
    original->SetRoughnessBias(0.6f);
    original->SetParallaxLevels(32);
    const std::vector<TPoolEntry> pool = PoolOf(*original);

    TMaterialDef def;
    original->StoreToDefinition(&def);
    EXPECT_TRUE(ExtensionValue(def, "PBR", "UsePBREmissiveTexture").AsBoolean());
    EXPECT_FALSE(ExtensionValue(def, "PBR", "UsePBRAOTexture").AsBoolean());
    EXPECT_TRUE(ExtensionValue(def, "PBR", "MetalnessTexture").AsBoolean());
    EXPECT_FALSE(ExtensionValue(def, "ParallaxOcclusionMapping", "ParallaxOcclusionMap").AsBoolean())
        << "the parallax map holds no image";
    EXPECT_EQ(ExtensionValue(def, "ParallaxOcclusionMapping", "ParallaxLevels").AsInteger(), 32);

    auto loaded = NewSource<TKorvanePBRMaterialSource>();
    loaded->LoadFromDefinition(&def);
    EXPECT_EQ(PoolOf(*loaded), pool);
    for (const TMap& m : maps)
        EXPECT_EQ(PixelAt00(loaded->FindBitmapByName(m.Entry)), m.Colour) << m.Entry;
    EXPECT_EQ(PixelAt00(loaded->MetalnessTexture()), 0xFF404040u);
    struct TSwitch {
        const char* Name;
        bool (TKorvaneDefaultMaterialSource::*Get)() const;
    };
    using S = TKorvaneDefaultMaterialSource;
    for (const TSwitch& s : {TSwitch{"albedo", &S::UsePBRAlbedoTexture}, TSwitch{"metallic", &S::UsePBRMetallicTexture},
                             TSwitch{"roughness", &S::UsePBRRoughnessTexture}, TSwitch{"AO", &S::UsePBRAOTexture},
                             TSwitch{"emissive", &S::UsePBREmissiveTexture},
                             TSwitch{"specular", &S::UsePBRSpecularTexture}, TSwitch{"POM", &S::UseParallaxOcclusion},
                             TSwitch{"normal", &S::UseNormalMapping}})
        EXPECT_EQ(((*loaded).*s.Get)(), ((*original).*s.Get)()) << s.Name;
    EXPECT_FLOAT_EQ(loaded->MetallicBias(), 0.3f);
    EXPECT_FLOAT_EQ(loaded->RoughnessBias(), 0.6f);
    EXPECT_EQ(loaded->ParallaxLevels(), 32);
    EXPECT_EQ(loaded->ShadingModel(), TKorvaneShadingModel::smPBR);
}

TEST(MaterialDefinitions, ShininessComesFromTheSpecularPowerAndGoesBackUnchanged)
{
    const std::pair<float, float> cases[] = {{0.5f, 0.5f}, {7.2f, 8}, {500, 100}, {1, 1}, {0.01f, 0.01f}};
    for (const auto& [power, shininess] : cases) {
        SCOPED_TRACE(power);
        TMaterialDef def;
        def.SpecPow = power;
        auto source = NewSource<TKorvaneDefaultMaterialSource>();
        source->LoadFromDefinition(&def);
        EXPECT_FLOAT_EQ(source->Shininess(), shininess);
        TMaterialDef stored;
        source->StoreToDefinition(&stored);
        EXPECT_FLOAT_EQ(stored.SpecPow, shininess);
    }
}

TEST(MaterialDefinitions, TexturesOfNoNamedChannelGetEntriesTheShadersCanDeclare)
{
    TMaterialDef def;
    auto addUserTexture = [&](const std::string& AFileName, TAlphaColor AColour) {
        auto asset = MakeOwned<TKorvaneTextureAsset>(nullptr);
        auto picture = MakeOwned<TBitmap>(2, 2);
        picture->Clear(AColour);
        asset->ImportFromCachedBitmap(AFileName, std::move(picture));
        def.AddTexture(TColorChannelDef::UserSpecific, std::move(asset));
    };
    addUserTexture("Detail_2", 0xFF010203);       // a stored entry's own name
    addUserTexture("maps/grass.png", 0xFF040506); // a file: no sampler name
    addUserTexture("Detail_2", 0xFF070809);       // the name is taken already
    addUserTexture("Texture0", 0xFF0A0B0C);       // a channel's name is not taken over

    auto source = NewSource<TKorvaneDefaultMaterialSource>();
    source->LoadFromDefinition(&def);
    const std::vector<std::pair<std::string, TAlphaColor>> expected = {
        {"Detail_2", 0xFF010203}, {"Texture4", 0xFF040506}, {"Texture5", 0xFF070809}, {"Texture6", 0xFF0A0B0C}};
    for (const auto& [name, colour] : expected) {
        const TKorvaneBitmapPoolEntry* entry = source->FindBitmapEntryByName(name);
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_EQ(PixelAt00(entry->Bitmap()), colour) << name;
    }
}

TEST(MaterialDefinitions, WrongDefinitionsAndBadValues)
{
    auto source = NewSource<TKorvaneDefaultMaterialSource>();
    TMaterialBehaviourDef other;
    source->LoadFromDefinition(&other); // not a material: ignored
    source->StoreToDefinition(nullptr);
    EXPECT_EQ(source->TagObject(), nullptr);
    EXPECT_EQ(TKorvaneDefaultMaterialSource::CreateFromDefinition(nullptr, &other), nullptr);

    TTextureDef texture(nullptr, TColorChannelDef::Diffuse, nullptr, false);
    TKorvaneBitmapPoolEntry* entry = source->Bitmaps()->Add();
    EXPECT_THROW(entry->StoreToDefinition(&other), EInvalidCast);
    EXPECT_THROW(entry->LoadFromDefinition(&other), EInvalidCast);
    entry->SetTiling(TPointF(3, 5));
    entry->SetWrapS(TKorvaneTextureWrap::Repeated);
    entry->StoreToDefinition(&texture);
    EXPECT_TRUE(texture.Tiling == TPointF(3, 5));
    EXPECT_EQ(texture.Sampler().WrapS, TKorvaneTextureWrap::Repeated);

    TMaterialDef bad;
    TakeMaterialExtension(bad, "Shading").Properties().AddOrSetValue("ShadowMethod", TValue::From(7));
    EXPECT_THROW(source->LoadFromDefinition(&bad), EArgumentException);

    TMaterialDef made;
    made.Diffuse = TAlphaColorF(0, 1, 0, 1);
    Owned<TComponent> owner(new TComponent(nullptr));
    TKorvaneDefaultMaterialSource* created = TKorvaneDefaultMaterialSource::CreateFromDefinition(owner.get(), &made);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->Owner(), owner.get());
    EXPECT_EQ(created->ClassType(), TKorvaneDefaultMaterialSource::StaticClass());
    EXPECT_TRUE(created->DiffuseF() == made.Diffuse);
}

// ---------------------------------------------------------------------------
// Behaviours

namespace {

// Where sources look for behaviours: the model node above them.
class TKorvaneModel : public TTreeObject {
    KORVANE_CLASS(TKorvaneModel, TTreeObject)
    using TTreeObject::TTreeObject;
};
KORVANE_IMPLEMENT_CLASS(TKorvaneModel, "Korvane.Model")

// A behaviour that adds nothing to the shaders.
class TQuietBehaviour : public TKorvaneMaterialBehaviour {
public:
    using TKorvaneMaterialBehaviour::TKorvaneMaterialBehaviour;
    bool DoOnRegisterUniformBuffer(std::string&, std::unique_ptr<uint8_t[]>&, int32_t&) override { return false; }
    void DoOnCreateShader(TKorvaneNodeBuilder*, TContextShaderKind) override {}
    void DoOnUpdateShader(TKorvaneNodeBuilder*, TContextShaderKind) override {}
    void DoOnRemoveShader(TKorvaneNodeBuilder*, TContextShaderKind) override {}
    void Apply(TMaterial*, TContext3D*, TKorvaneMaterialBehaviourItem*) override {}
};

} // namespace

TEST(MaterialDefinitions, ABehaviourIsStoredAsAReferenceAndFoundAgainInTheModel)
{
    // The framework's own model node once it exists, else the stand-in.
    const bool standIn = GetClass("Korvane.Model.TKorvaneModel") == nullptr;
    if (standIn) RegisterClass<TKorvaneModel>();
    Owned<TComponent> model(GetClass("Korvane.Model.TKorvaneModel")->CreateComponent(nullptr));

    TMaterialBehaviourDef behaviourDef;
    auto* behaviour = new TQuietBehaviour(model.get());
    behaviour->SetName("glow");
    behaviour->SetDef(&behaviourDef);
    auto* original = TKorvaneDefaultMaterialSource::Create(model.get());
    original->SetName("stone");
    original->AttachMaterialBehaviour(behaviour);

    TMaterialDef def;
    original->StoreToDefinition(&def);
    ASSERT_NE(def.BehaviourRefs(), nullptr);
    ASSERT_EQ(def.BehaviourRefs()->size(), 1u);
    EXPECT_EQ((*def.BehaviourRefs())[0]->Id(), behaviourDef.Id());
    EXPECT_EQ((*def.BehaviourRefs())[0]->DisplayName, "stone_glow");

    auto* loaded = TKorvaneDefaultMaterialSource::Create(model.get());
    loaded->LoadFromDefinition(&def);
    EXPECT_TRUE(loaded->MaterialBehaviourAttached(behaviour));
    // Without a model above it a source finds no behaviour.
    auto orphan = NewSource<TKorvaneDefaultMaterialSource>();
    orphan->LoadFromDefinition(&def);
    EXPECT_EQ(orphan->Behaviours()->Count(), 0);

    model.reset();
    if (standIn) UnRegisterClass(TKorvaneModel::StaticClass());
}
