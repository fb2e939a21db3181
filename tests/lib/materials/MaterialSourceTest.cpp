#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Korvane.Controller.h"
#include "Korvane.Material.SplatMap.h"
#include "MaterialTestSupport.h"
#include "PassDoubles.h"

using namespace korvane;
using namespace korvane::test;

namespace {

template <class T = TKorvaneDefaultMaterialSource>
Owned<T> NewSource(TComponent* AOwner = nullptr)
{
    return Owned<T>(TKorvaneDefaultMaterialSource::Create<T>(AOwner));
}

std::vector<std::string> PoolNames(const TKorvaneDefaultMaterialSource& ASource)
{
    std::vector<std::string> names;
    for (int i = 0; i < ASource.Bitmaps()->Count(); ++i) names.push_back(ASource.Bitmaps()->Items(i)->Name());
    return names;
}

std::vector<std::string> TexturePoolNames(const TKorvaneDefaultMaterialSource& ASource)
{
    std::vector<std::string> names;
    const TKorvaneTexturePool* pool = ASource.DefaultMaterial()->Textures();
    for (int i = 0; i < pool->Count(); ++i) names.push_back(pool->Items(i)->DisplayName());
    return names;
}

TKorvaneBitmapPoolEntry* AddPlain(TKorvaneDefaultMaterialSource& ASource, const std::string& AName,
                                  TKorvaneTextureKind AKind = TKorvaneTextureKind::Texture2D)
{
    return ASource.AddBitmap(AName, TPixelFormatEx::RGBA8, TPixelFormatEx::RGBA, TKorvaneTextureDataType::dtUnsignedByte,
                             false, false, false, TContextShaderKind::PixelShader, AKind);
}

const std::vector<std::string> SplatPool = {"SplatTexture0", "SplatTexture1", "SplatTexture2", "SplatTexture3",
                                            "Texture0"};

} // namespace

TEST(MaterialSource, ANewSplatMapSourceHoldsTheTerrainImagesThenTheSplatMap)
{
    auto source = NewSource<TKorvaneSplatMapMaterialSource>();
    EXPECT_EQ(PoolNames(*source), SplatPool);
    EXPECT_EQ(TexturePoolNames(*source), SplatPool) << "the material's texture pool follows the bitmap pool";
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(source->Bitmaps()->Items(i)->IgnoreInArray()) << i;
    EXPECT_TRUE(source->Bitmaps()->Items(4)->IgnoreInArray());
    EXPECT_EQ(source->DefaultMaterial()->ShaderData().Material._PoolTexturesOffset, 0);
    EXPECT_TRUE(source->UseLighting() && source->UseSpecular() && source->UseTexturing() && source->UseTexture0());
    EXPECT_TRUE(source->DefaultMaterial()->FragmentShaderNode()->Defined("SPLATMAP"));
    EXPECT_TRUE(source->DefaultMaterial()->VertexShaderNode()->Defined("SPLATMAP"));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(source->GetSplatTexture(i), source->Bitmaps()->Items(i)->Bitmap());
    EXPECT_EQ(MessageOf([&] { source->GetSplatTexture(4); }), "SplatTexture4 not activated in material");
}

TEST(MaterialSource, TheTilingAccessorsKeepAddressingTheTerrainImagesAfterFurtherUpdates)
{
    auto source = NewSource<TKorvaneSplatMapMaterialSource>();
    const TPointF tilings[4] = {{4, 4}, {1, 1}, {4, 4}, {2, 2}};
    for (uint8_t i = 0; i < 4; ++i) source->SetSplatTextureTiling(i, tilings[i]);
    // Every update finds the five entries already there; the offset must stay
    // on "SplatTexture0" and not move past the terrain images.
    source->UpdateDefaultBitmaps();
    source->SetUseTexture0(true);
    for (uint8_t i = 0; i < 4; ++i) {
        EXPECT_EQ(source->GetSplatTextureTiling(i), tilings[i]) << int(i);
        EXPECT_EQ(source->Bitmaps()->Items(i)->Tiling(), tilings[i]) << int(i);
        EXPECT_EQ(source->DefaultMaterial()->Textures()->Items(i)->Tiling(), tilings[i]) << "synchronised";
    }

    // A pool streamed with another entry in front keeps the terrain images reachable.
    auto streamed = NewSource<TKorvaneSplatMapMaterialSource>();
    Owned<TKorvaneBitmapPool> pool(new TKorvaneBitmapPool(nullptr, TKorvaneBitmapPoolEntry::StaticClass()));
    pool->Add()->SetName("UserTexture");
    for (int i = 0; i < 4; ++i) {
        TKorvaneBitmapPoolEntry* e = pool->Add();
        e->SetName("SplatTexture" + std::to_string(i));
        e->SetTiling(TPointF(float(i + 1), float(i + 1)));
    }
    streamed->SetBitmaps(pool.get());
    streamed->UpdateDefaultBitmaps();
    EXPECT_EQ(streamed->DefaultMaterial()->ShaderData().Material._PoolTexturesOffset, 1);
    EXPECT_EQ(streamed->GetSplatTextureTiling(3), TPointF(4, 4));
    EXPECT_NE(MessageOf<EListError>([&] { streamed->GetSplatTextureTiling(200); }), "(no exception)");
}

TEST(MaterialSource, AddBitmapRefusesAFullPoolEvenForANameItHolds)
{
    auto source = NewSource<TKorvaneSplatMapMaterialSource>();
    for (int i = 0; i < 11; ++i) AddPlain(*source, "Extra" + std::to_string(i));
    ASSERT_EQ(source->Bitmaps()->Count(), 16);
    const std::string full = "failed to add bitmap to pool - maximum number of textures in pool reached = 16";
    EXPECT_EQ(MessageOf([&] { AddPlain(*source, "Another"); }), full);
    EXPECT_EQ(MessageOf([&] { AddPlain(*source, "Texture0"); }), full) << "the limit comes before the lookup";
    EXPECT_EQ(source->Bitmaps()->Count(), 16);

    auto other = NewSource();
    EXPECT_EQ(MessageOf([&] { AddPlain(*other, ""); }), "failed to add bitmap to pool - no entry name supplied!");
    EXPECT_EQ(other->Bitmaps()->Count(), 0);
}

TEST(MaterialSource, AnEntryReAddedWithAnotherTextureKindMovesToTheEnd)
{
    auto source = NewSource<TKorvaneSplatMapMaterialSource>();
    TKorvaneBitmapPoolEntry* same = AddPlain(*source, "SplatTexture1");
    EXPECT_EQ(same->Index(), 1) << "the same kind keeps its place";
    TKorvaneBitmapPoolEntry* moved = AddPlain(*source, "SplatTexture1", TKorvaneTextureKind::CubeMap);
    EXPECT_EQ(PoolNames(*source), (std::vector<std::string>{"SplatTexture0", "SplatTexture2", "SplatTexture3",
                                                             "Texture0", "SplatTexture1"}));
    EXPECT_EQ(moved->TextureKind(), TKorvaneTextureKind::CubeMap);
    EXPECT_EQ(TexturePoolNames(*source), PoolNames(*source));
}

TEST(MaterialSource, TheTextureGetterRaisesOutsideDesignWhenTexture0IsOff)
{
    auto source = NewSource();
    ASSERT_FALSE(source->UseTexture0());
    EXPECT_EQ(MessageOf([&] { source->Texture(); }), "Texture0 not activated in material");
    EXPECT_EQ(MessageOf([&] { source->NormalMap(); }), "NormalMapTexture not activated in material");
    EXPECT_EQ(MessageOf([&] { source->DisplacementMap(); }), "DisplacementMapTexture not activated in material");
    TBitmap image(2, 2);
    EXPECT_EQ(MessageOf([&] { source->SetTexture(&image); }), "Texture0 not activated in material");

    source->SetDesigning(true);
    EXPECT_EQ(source->Texture(), nullptr);
    EXPECT_EQ(source->NormalMap(), nullptr);
    source->SetTexture(&image);
    EXPECT_EQ(source->Bitmaps()->Count(), 0) << "texture 0 is still off: nothing to assign to";
}

TEST(MaterialSource, SwitchesCreateTheirDefaultBitmapsWhenTheirSetterSaysSo)
{
    auto source = NewSource();
    EXPECT_EQ(source->Bitmaps()->Count(), 0) << "no texture switch on: no default bitmap";
    source->SetUseTexture0(true);
    EXPECT_EQ(PoolNames(*source), std::vector<std::string>{"Texture0"}) << "at once";
    source->SetUseNormalMapping(true);
    EXPECT_EQ(PoolNames(*source), std::vector<std::string>{"Texture0"}) << "not before the next update";
    source->UpdateDefaultBitmaps();
    EXPECT_EQ(PoolNames(*source), (std::vector<std::string>{"Texture0", "NormalMapTexture"}));

    source->SetShadows(true);
    ASSERT_EQ(source->Bitmaps()->Count(), 10);
    EXPECT_EQ(source->Bitmaps()->Items(2)->Name(), "ShadowMapTexture0");
    EXPECT_EQ(source->Bitmaps()->Items(9)->Name(), "ShadowMapTexture7");
    EXPECT_TRUE(source->Bitmaps()->Items(9)->IsDynamic());
    source->SetShadows(false);
    EXPECT_EQ(PoolNames(*source), (std::vector<std::string>{"Texture0", "NormalMapTexture"}));
    EXPECT_EQ(TexturePoolNames(*source), PoolNames(*source)) << "their texture entries go with them";
}

using MaterialSourceDrawing = TMaterialDrawFixture;

TEST_F(MaterialSourceDrawing, AssigningTheTextureRebuildsTheTexturePoolAndMarksTheProgram)
{
    auto source = NewSource<TKorvaneSplatMapMaterialSource>();
    TKorvaneDefaultMaterial* material = source->DefaultMaterial();
    material->Apply(FContext.get());
    ASSERT_FALSE(material->ShaderProgramOutdated());

    TBitmap painted(4, 4);
    painted.Clear(0xFF00FF00);
    source->SetTexture(&painted);
    EXPECT_TRUE(material->ShaderProgramOutdated()) << "the next apply registers the sources again";
    EXPECT_EQ(source->Texture()->Width(), 4);
    const TKorvaneTexturePoolEntry* entry = material->FindTexturePoolEntryByName("Texture0");
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry->Texture(), nullptr);
    EXPECT_EQ(entry->Texture(), source->Texture()->TextureReference()) << "the bitmap's new GPU texture";
    EXPECT_NE(entry->Texture()->Handle(), 0u) << "uploaded";
    EXPECT_EQ(entry->Texture()->Width(), 4);
}

TEST(MaterialSource, RemovingAPassClearsEveryInputThatNamesIt)
{
    Owned<TComponent> owner(new TComponent(nullptr));
    auto* shadow = new TRecordingPass<TKorvaneRenderPassSMStoreDepth>(owner.get());
    auto* depth = new TRecordingPass<TKorvaneRenderPassCustomDepth>(owner.get());
    auto source = NewSource();
    source->SetMainShadowMapPass(shadow);
    source->SetShadowMapPass(3, shadow);
    source->SetReflectionPass(shadow);
    source->SetDepthPass(depth);
    EXPECT_TRUE(source->DefaultMaterial()->DepthMapping());

    shadow->Free();
    EXPECT_EQ(source->MainShadowMapPass(), nullptr);
    EXPECT_EQ(source->GetShadowMapPass(3), nullptr);
    EXPECT_EQ(source->ReflectionPass(), nullptr);
    EXPECT_EQ(source->Inputs().count("ShadowMapTexture3"), 1u) << "a name stays once set";
    EXPECT_EQ(source->DepthPass(), depth);

    depth->Free();
    EXPECT_EQ(source->DepthPass(), nullptr);
    EXPECT_FALSE(source->DefaultMaterial()->DepthMapping()) << "the depth mapping follows the depth pass";
}

TEST(MaterialSource, ASourceMadeThroughItsClassReferenceIsComplete)
{
    TComponent* made = TKorvaneSplatMapMaterialSource::StaticClass()->CreateComponent(nullptr);
    Owned<TComponent> owned(made);
    auto* source = dynamic_cast<TKorvaneSplatMapMaterialSource*>(made);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(source->SplatMapMaterial(), nullptr);
    EXPECT_EQ(PoolNames(*source), SplatPool);
    EXPECT_EQ(GetClass("Korvane.Material.SplatMap.TKorvaneSplatMapMaterialSource"),
              TKorvaneSplatMapMaterialSource::StaticClass());
}
