#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>

#include "Korvane.Material.Lambert.h"
#include "Korvane.Material.Layered.h"
#include "MaterialTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// An unlit, untextured Lambert source owned by AOwner showing AColour.
TKorvaneDefaultMaterialSource* FlatSource(TComponent* AOwner, const TAlphaColorF& AColour)
{
    auto* source = TKorvaneDefaultMaterialSource::Create<TKorvaneLambertMaterialSource>(AOwner);
    source->SetUseTexturing(false);
    source->SetUseLighting(false);
    source->SetDiffuseF(AColour);
    source->SetAmbientF(TAlphaColorF(0, 0, 0, 1));
    source->SetEmissiveF(TAlphaColorF(0, 0, 0, 1));
    source->SetSpecularF(TAlphaColorF(0, 0, 0, 1));
    return source;
}

class LayeredDraw : public TMaterialDrawFixture {
protected:
    int64_t DrawCalls() const { return ContextDrawCalls.load(); }

    Owned<TComponent> FOwner{new TComponent(nullptr)};
};

// What the layer passes do to a pixel: ONE, ONE_MINUS_SRC_COLOR on colour and
// ONE, ONE_MINUS_SRC_ALPHA on alpha.
std::array<int, 4> BlendOver(const std::array<int, 4>& ADest, const std::array<uint8_t, 4>& ASource)
{
    std::array<int, 4> result{};
    for (int i = 0; i < 4; ++i) {
        const double s = ASource[i] / 255.0, d = ADest[i] / 255.0;
        const double factor = i < 3 ? 1.0 - s : 1.0 - ASource[3] / 255.0;
        result[i] = int(std::lround((s + d * factor) * 255.0));
    }
    return result;
}

} // namespace

TEST_F(LayeredDraw, WithoutLayersEachPrimitiveIsDrawnOnceWithTheEmptyOutputProgram)
{
    auto* layered = new TKorvaneLayeredMaterialSource(FOwner.get());
    const int64_t before = DrawCalls();
    DrawQuad(layered->Material());
    EXPECT_EQ(DrawCalls() - before, 1);
    // The own program writes zero colour and zero alpha over the blue background.
    EXPECT_EQ(Pixel(16, 16), (std::array<uint8_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(Pixel(2, 2), (std::array<uint8_t, 4>{0, 0, 255, 255})) << "outside the quad";
    EXPECT_EQ(FContext->CurrentLayeredMaterial(), nullptr) << "the draw clears the layered material";
}

TEST_F(LayeredDraw, TwoLayersGiveTheBlendOfTheirColoursInThePixels)
{
    TKorvaneDefaultMaterialSource* base = FlatSource(FOwner.get(), TAlphaColorF(0.8f, 0.4f, 0.0f, 1));
    TKorvaneDefaultMaterialSource* detail = FlatSource(FOwner.get(), TAlphaColorF(0.0f, 0.5f, 0.25f, 0.5f));

    // Each layer alone, drawn without blending, shows the colour it writes.
    DrawQuad(base->Material());
    const std::array<uint8_t, 4> baseColour = Pixel(16, 16);
    FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, 0xFF0000FF, 1.0f, 0);
    DrawQuad(detail->Material());
    const std::array<uint8_t, 4> detailColour = Pixel(16, 16);
    ASSERT_NE(baseColour, detailColour);

    auto* layered = new TKorvaneLayeredMaterialSource(FOwner.get());
    layered->AddLayer("Base", base);
    layered->AddLayer("Detail", detail);
    FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, 0xFF0000FF, 1.0f, 0);
    const int64_t before = DrawCalls();
    DrawQuad(layered->Material());
    EXPECT_EQ(DrawCalls() - before, 3) << "own program, then one pass per layer";

    // The own pass leaves zero; the base blends over it, the detail over the base.
    const std::array<int, 4> expected = BlendOver(BlendOver({0, 0, 0, 0}, baseColour), detailColour);
    const std::array<uint8_t, 4> got = Pixel(16, 16);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], expected[i], 2) << "channel " << i;
    // Neither layer alone: the detail's own colour differs from the blend.
    int difference = 0;
    for (int i = 0; i < 4; ++i) difference += std::abs(int(detailColour[i]) - expected[i]);
    EXPECT_GT(difference, 60);
    EXPECT_EQ(Pixel(2, 2), (std::array<uint8_t, 4>{0, 0, 255, 255})) << "outside the quad";
}

TEST_F(LayeredDraw, AFreedLayerSourceIsSkipped)
{
    TKorvaneDefaultMaterialSource* base = FlatSource(FOwner.get(), TAlphaColorF(0.8f, 0.4f, 0.0f, 1));
    TKorvaneDefaultMaterialSource* detail = FlatSource(FOwner.get(), TAlphaColorF(0.0f, 0.5f, 0.25f, 1));
    auto* layered = new TKorvaneLayeredMaterialSource(FOwner.get());
    layered->AddLayer("Base", base);
    TKorvaneLayeredMaterialItem* second = layered->AddLayer("Detail", detail);

    detail->Free();
    EXPECT_EQ(second->Material(), nullptr);
    const int64_t before = DrawCalls();
    DrawQuad(layered->Material());
    EXPECT_EQ(DrawCalls() - before, 2) << "own program and the base layer only";
    const auto centre = Pixel(16, 16);
    EXPECT_GT(centre[0], 150) << "the base layer's red shows";
}

TEST(LayeredMaterial, LayersKeepTheirOrderNamesAndSources)
{
    Owned<TComponent> owner(new TComponent(nullptr));
    auto* first = new TMaterialSource(owner.get());
    auto* second = new TMaterialSource(owner.get());
    auto* layered = new TKorvaneLayeredMaterialSource(owner.get());
    layered->AddLayer("Base", first);
    layered->AddLayer("Detail", second);

    auto* material = dynamic_cast<TKorvaneLayeredMaterial*>(layered->Material());
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->Source(), layered);
    ASSERT_EQ(material->GetMaterialsCount(), 2);
    struct TCase {
        int Index;
        const char* Name; // nullptr: no item
        TMaterialSource* Source;
    };
    for (const TCase& c : {TCase{0, "Base", first}, TCase{1, "Detail", second}, TCase{2, nullptr, nullptr},
                           TCase{7, nullptr, nullptr}}) {
        SCOPED_TRACE(c.Index);
        TKorvaneLayeredMaterialItem* item = material->GetMaterialItem(nullptr, c.Index);
        if (!c.Name) {
            EXPECT_EQ(item, nullptr);
            EXPECT_EQ(material->GetLayerMaterialSource(nullptr, c.Index), nullptr);
            continue;
        }
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->DisplayName(), c.Name);
        EXPECT_EQ(item->Material(), c.Source);
        EXPECT_EQ(material->GetLayerMaterialSource(nullptr, c.Index), c.Source);
    }
    EXPECT_THROW(material->GetMaterialItem(nullptr, -1), EListError);

    // Copying the layers into another source keeps names and references.
    auto* copy = new TKorvaneLayeredMaterialSource(owner.get());
    copy->SetMaterials(layered->Materials());
    ASSERT_EQ(copy->Materials()->Count(), 2);
    EXPECT_EQ(copy->Materials()->Items(1)->DisplayName(), "Detail");
    EXPECT_EQ(copy->Materials()->Items(1)->Material(), second);
    // Either source hears when a layer's source goes.
    first->Free();
    EXPECT_EQ(layered->Materials()->Items(0)->Material(), nullptr);
    EXPECT_EQ(copy->Materials()->Items(0)->Material(), nullptr);
}

TEST(LayeredMaterial, EachMaterialRegistersShadersOfItsOwn)
{
    Owned<TComponent> owner(new TComponent(nullptr));
    auto* a = dynamic_cast<TKorvaneLayeredMaterial*>((new TKorvaneLayeredMaterialSource(owner.get()))->Material());
    auto* b = dynamic_cast<TKorvaneLayeredMaterial*>((new TKorvaneLayeredMaterialSource(owner.get()))->Material());
    ASSERT_TRUE(a && b);
    a->Initialize();
    b->Initialize();
    ASSERT_NE(a->VertexShader(), nullptr);
    ASSERT_NE(b->VertexShader(), nullptr);
    EXPECT_NE(a->VertexShader(), b->VertexShader());
    EXPECT_NE(a->PixelShader(), b->PixelShader());
    EXPECT_NE(a->VertexShader()->Name(), b->VertexShader()->Name());
    const std::string address = std::to_string(reinterpret_cast<intptr_t>(a));
    EXPECT_EQ(a->VertexShader()->Name(), "Layered-" + address + ".fvs");
    EXPECT_EQ(a->PixelShader()->Name(), "Layered-" + address + ".fps");
    EXPECT_EQ(TShaderManager::FindShader(a->VertexShader()->Name()), a->VertexShader());

    // The vertex stage declares the matrix the context fills; the fragment stage nothing.
    const TContextShaderSource vs = a->VertexShader()->GetSourceByArch(TContextShaderArch::GLSL);
    ASSERT_EQ(vs.Variables.size(), 1u);
    EXPECT_EQ(vs.Variables[0].Name, "MVPMatrix");
    EXPECT_EQ(vs.Variables[0].Kind, TContextShaderVariableKind::Matrix);
    EXPECT_EQ(vs.Variables[0].Size, 4);
    EXPECT_TRUE(a->PixelShader()->GetSourceByArch(TContextShaderArch::GLSL).Variables.empty());
    EXPECT_EQ(a->GetMaterialProperty(TMaterialProperty::ModelViewProjection), "MVPMatrix");

    // Freeing a material takes its shaders off the manager.
    const std::string name = a->VertexShader()->Name();
    a->Source()->Free();
    EXPECT_EQ(TShaderManager::FindShader(name), nullptr);
}

TEST(LayeredMaterial, ApplyingToAContextOfAnotherKindIsAnInvalidCast)
{
    Owned<TComponent> owner(new TComponent(nullptr));
    auto* layered = new TKorvaneLayeredMaterialSource(owner.get());
    EXPECT_THROW(layered->Material()->Apply(nullptr), EInvalidCast);
}
