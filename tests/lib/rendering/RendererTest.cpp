#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "Korvane.Controller.Passes.Deferred.h"
#include "Korvane.Controller.Passes.EmissiveBlur.h"
#include "Korvane.Controller.Passes.FXAA.h"
#include "Korvane.Controller.Passes.GlobalIllumBlur.h"
#include "Korvane.Controller.Passes.GlobalIllumination.h"
#include "Korvane.Controller.Passes.Voxelize.h"
#include "RenderingTestSupport.h"

using namespace korvane;
using test::Owned;
using test::TTestViewport;

namespace {

class Renderers : public ::testing::Test {
protected:
    void SetUp() override { Viewport.reset(new TTestViewport(32, 16)); }
    void TearDown() override { Viewport.reset(); }

    template <class T>
    Owned<T> Make(TRendererFlags AFlags, const std::string& AId = "main")
    {
        return Owned<T>(TRenderer::Create<T>(AId, Viewport.get(), AFlags));
    }

    Owned<TTestViewport> Viewport;
};

// "<renderer id>_<kind>_<number>" with one of the internal kinds.
bool IsInternalPassId(const std::string& AId, const std::string& ARendererId)
{
    for (const char* kind : {"DeferredComposite", "EmissiveBlur", "Voxelize", "GlobalIllum", "GlobalIllumBlur", "FXAA"}) {
        const std::string prefix = ARendererId + "_" + kind + "_";
        if (AId.rfind(prefix, 0) != 0 || AId.size() == prefix.size()) continue;
        bool digits = true;
        for (size_t i = prefix.size(); i < AId.size(); ++i) digits = digits && std::isdigit(uint8_t(AId[i]));
        if (digits) return true;
    }
    return false;
}

const TRendererFlags NoInternalPasses{TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum,
                                      TRendererFlag::IgnoreCompositeCtrl};

TEST_F(Renderers, TheForwardGBufferHasItsSixFormatsAttachedToBothFrameBuffers)
{
    auto renderer = Make<TForwardRenderer>(NoInternalPasses);
    EXPECT_EQ(renderer->Size(), TPoint(32, 16));
    renderer->Apply();
    struct Row {
        TKorvaneTexture* Texture;
        GLint Format;
        bool OnDefault, OnTranslucent;
        TRenderTarget Target;
    };
    const Row rows[] = {
        {renderer->AlbedoTexture(), GL_RGBA8, true, false, TRenderTarget::Color_0},
        {renderer->TranslucentAlbedoTexture(), GL_RGBA16F, false, true, TRenderTarget::Color_0},
        {renderer->AlphaTexture(), GL_R16F, true, true, TRenderTarget::Color_1},
        {renderer->PositionTexture(), GL_RGBA16F, true, true, TRenderTarget::Color_2},
        {renderer->NormalsTexture(), GL_RGB16F, true, true, TRenderTarget::Color_3},
        {renderer->EmissiveTexture(), GL_RGB8, true, true, TRenderTarget::Color_4},
    };
    for (const Row& row : rows) {
        ASSERT_NE(row.Texture, nullptr);
        SCOPED_TRACE(static_cast<int>(row.Target));
        EXPECT_EQ(test::TextureLevelParameter(row.Texture, GL_TEXTURE_INTERNAL_FORMAT), row.Format);
        // Every attachment covers the whole frame, or GL would clip the G-buffer to the smallest.
        EXPECT_EQ(test::TextureLevelParameter(row.Texture, GL_TEXTURE_WIDTH), 32);
        EXPECT_EQ(test::TextureLevelParameter(row.Texture, GL_TEXTURE_HEIGHT), 16);
        EXPECT_EQ(renderer->DefaultFrameBuf()->GetTextureByRenderTarget(row.Target) == row.Texture, row.OnDefault);
        EXPECT_EQ(renderer->TranslucentBuf()->GetTextureByRenderTarget(row.Target) == row.Texture,
                  row.OnTranslucent);
    }
    EXPECT_FLOAT_EQ(renderer->EmissiveTexture()->TextureScale(), 0.25f);
    EXPECT_FLOAT_EQ(renderer->AlbedoTexture()->TextureScale(), 1.0f);
    EXPECT_EQ(renderer->PositionTexture()->WrapS, TKorvaneTextureWrap::ClampToEdge);
}

TEST_F(Renderers, TheLegacyRendererClearsToItsColourAndEndsTheTranslucentHalf)
{
    auto renderer = Make<TLegacyRenderer>({});
    EXPECT_EQ(renderer->RenderTargets(), TRenderTargets{TRenderTarget::Color_0});
    renderer->SetColor(TAlphaColorF(0, 1, 0, 1));
    renderer->Apply();
    ASSERT_TRUE(renderer->BeginOpaqueRendering());
    renderer->EndOpaqueRendering();
    for (const auto& pixel : test::TexturePixels(renderer->CompositeTexture()->Texture()))
        ASSERT_EQ(pixel, (std::array<uint8_t, 4>{0, 255, 0, 255}));

    ASSERT_TRUE(renderer->BeginTranslucentRendering());
    EXPECT_TRUE(renderer->KorvaneContext()->TranslucentRendering());
    renderer->EndTranslucentRendering();
    EXPECT_FALSE(renderer->KorvaneContext()->TranslucentRendering());
}

TEST_F(Renderers, WithoutRenderTargetsAndCompositeTheRendererDrawsIntoItsCompositeTexture)
{
    auto renderer = Make<TForwardRenderer>(AllRendererFlags);
    renderer->Apply();
    for (TKorvaneTexture* texture : {renderer->AlbedoTexture(), renderer->TranslucentAlbedoTexture(),
                                     renderer->AlphaTexture(), renderer->PositionTexture(), renderer->NormalsTexture(),
                                     renderer->EmissiveTexture()})
        EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(renderer->DeferredCompositeCtrl(), nullptr);
    TTexture* composite = renderer->CompositeTexture()->Texture();
    EXPECT_EQ(renderer->DefaultFrameBuf()->GetTextureByRenderTarget(TRenderTarget::Color_0), composite);
    EXPECT_EQ(renderer->TranslucentBuf()->GetTextureByRenderTarget(TRenderTarget::Color_0), composite);

    renderer->SetColor(TAlphaColorF(1, 0, 0, 1));
    ASSERT_TRUE(renderer->BeginOpaqueRendering());
    renderer->EndOpaqueRendering();
    // The translucent half shares the texture: beginning it must keep the opaque result.
    ASSERT_TRUE(renderer->BeginTranslucentRendering());
    renderer->EndTranslucentRendering();
    for (const auto& pixel : test::TexturePixels(composite)) ASSERT_EQ(pixel, (std::array<uint8_t, 4>{255, 0, 0, 255}));
}

TEST_F(Renderers, ResizingRecreatesOnlyWhatChanged)
{
    auto renderer = Make<TForwardRenderer>(NoInternalPasses);
    renderer->Apply();
    TContext3D* context = renderer->SharedContext();
    TKorvaneTexture* albedo = renderer->AlbedoTexture();
    renderer->Resize(TPoint(32, 16), 1.0f);
    renderer->SetSize(TPoint(32, 16));
    renderer->SetScale(1.0f);
    EXPECT_EQ(renderer->SharedContext(), context);
    EXPECT_EQ(renderer->AlbedoTexture(), albedo);

    renderer->SetScale(2.0f);
    ASSERT_NE(renderer->SharedContext(), nullptr);
    EXPECT_EQ(renderer->SharedContext()->Width(), 32);
    EXPECT_EQ(renderer->SharedContext()->Height(), 16);
    EXPECT_FLOAT_EQ(renderer->SharedContext()->Scale(), 2.0f);

    renderer->Resize(TPoint(40, 24), 2.0f);
    EXPECT_EQ(renderer->SharedContext()->Width(), 40);
    EXPECT_EQ(renderer->DefaultFrameBuf()->Size(), TSize(40, 24));
    ASSERT_NE(renderer->AlbedoTexture(), nullptr);
    EXPECT_EQ(test::TextureLevelParameter(renderer->AlbedoTexture(), GL_TEXTURE_WIDTH), 40);
}

// The largest 3D texture is whatever the test says.
class TSmallVolumeRenderer : public TForwardRenderer {
public:
    using TForwardRenderer::TForwardRenderer;
    int Max3D = 1 << 20;

protected:
    int MaxTexture3DSize() const override { return Max3D; }
};

TEST_F(Renderers, SettingsAreClampedAndTheVoxelDetailFitsTheGPU)
{
    struct Case {
        const char* Name;
        std::function<void(TSmallVolumeRenderer&)> Set;
        std::function<double(TSmallVolumeRenderer&)> Get;
        double Expected;
    };
    const Case cases[] = {
        {"distance 0", [](auto& r) { r.SetTranslucentDistance(0); }, [](auto& r) { return r.TranslucentDistance(); }, 1},
        {"distance 20000", [](auto& r) { r.SetTranslucentDistance(20000); },
         [](auto& r) { return r.KorvaneContext()->TranslucentDistance(); }, 10000},
        {"detail 9", [](auto& r) { r.SetGlobalIllumDetail(9); }, [](auto& r) { return r.GlobalIllumDetail(); }, 7},
        {"detail 7 on 2048", [](auto& r) { r.Max3D = 2048; r.SetGlobalIllumDetail(7); },
         [](auto& r) { return r.GlobalIllumDetail(); }, 5},
        {"detail -1", [](auto& r) { r.SetGlobalIllumDetail(-1); }, [](auto& r) { return r.GlobalIllumDetail(); }, 0},
        {"emissive blur 20", [](auto& r) { r.SetEmissiveBlur(20); }, [](auto& r) { return r.EmissiveBlur(); }, 15},
        {"softness 6", [](auto& r) { r.SetGlobalIllumSoftness(6); },
         [](auto& r) { return r.GlobalIllumSoftness(); }, 5},
        {"shadow -1", [](auto& r) { r.SetShadowStrength(-1); }, [](auto& r) { return r.ShadowStrength(); }, 0},
        {"fxaa 9", [](auto& r) { r.SetFXAA(9); }, [](auto& r) { return r.FXAA(); }, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Owned<TSmallVolumeRenderer> renderer(
            TRenderer::Create<TSmallVolumeRenderer>("r", Viewport.get(), NoInternalPasses));
        c.Set(*renderer);
        EXPECT_DOUBLE_EQ(c.Get(*renderer), c.Expected);
    }
}

TEST_F(Renderers, TheCompositeRendererBuildsItsInternalPassesOutsideThePassTable)
{
    Owned<TSmallVolumeRenderer> renderer(TRenderer::Create<TSmallVolumeRenderer>("main", Viewport.get(), {}));
    renderer->SetGlobalIllumDetail(3);
    renderer->SetFXAA(2);
    renderer->Apply();
    ASSERT_NE(renderer->DeferredCompositeCtrl(), nullptr);
    ASSERT_NE(renderer->FXAACtrl(), nullptr);
    EXPECT_EQ(renderer->FXAACtrl()->Iterations, 2);
    EXPECT_EQ(renderer->FXAACtrl()->GetInputPass(), renderer->DeferredCompositeCtrl());
    EXPECT_EQ(renderer->DeferredCompositeCtrl()->Renderer(), renderer.get());
    ASSERT_NE(renderer->VoxelizeCtrl(), nullptr);
    EXPECT_TRUE(renderer->VoxelizeCtrl()->Enabled());
    EXPECT_EQ(renderer->VoxelizeCtrl()->VoxelSize(), 128);
    EXPECT_EQ(renderer->GlobalIllumCtrl()->VoxelGeometry(), renderer->VoxelizeCtrl());
    EXPECT_EQ(renderer->GlobalIllumBlurCtrl()->GlobalIllumPass(), renderer->GlobalIllumCtrl());

    TKorvaneRenderPassController* internal[] = {renderer->DeferredCompositeCtrl(), renderer->EmissiveBlurCtrl(),
                                                renderer->VoxelizeCtrl(),          renderer->GlobalIllumCtrl(),
                                                renderer->GlobalIllumBlurCtrl(),   renderer->FXAACtrl()};
    for (TKorvaneRenderPassController* ctrl : internal) {
        ASSERT_NE(ctrl, nullptr);
        EXPECT_TRUE(IsInternalPassId(ctrl->Id(), "main")) << ctrl->Id();
        EXPECT_TRUE(ctrl->IsInternalRenderPass());
        EXPECT_EQ(ctrl->Owner(), Viewport.get());
        ctrl->UpdateRenderPass();
    }
    EXPECT_EQ(Viewport->Context()->RenderPasses()->Count(), 0);

    // Detail 0 switches the three illumination passes off.
    renderer->SetGlobalIllumDetail(0);
    EXPECT_FALSE(renderer->VoxelizeCtrl()->Enabled());
    EXPECT_FALSE(renderer->GlobalIllumCtrl()->Enabled());
    EXPECT_FALSE(renderer->GlobalIllumBlurCtrl()->Enabled());

    // A resize builds them anew; the old ones are gone from the viewport.
    const int before = Viewport->ComponentCount();
    renderer->Resize(TPoint(24, 24), 1.0f);
    EXPECT_EQ(Viewport->ComponentCount(), before);
}

TEST_F(Renderers, FailuresNameTheirStep)
{
    auto renderer = Make<TForwardRenderer>(NoInternalPasses);
    TRenderContext context;
    EXPECT_EQ(test::MessageOf([&] { renderer->Composite(&context); }), "renderer do not contain composite render-pass");

    // A composite texture that cannot be a render target.
    auto failing = [](TRenderer*, const TPoint&, float, TKorvaneTextureBitmap*& ATexture) {
        ATexture = TKorvaneTextureBitmap::Create(0, 0);
    };
    Owned<TLegacyRenderer> broken(new TLegacyRenderer("broken", nullptr, {}, failing));
    const std::string message = test::MessageOf([&] { broken->CreateContext(); });
    EXPECT_EQ(message.rfind("Failed to create renderer context - ", 0), 0u) << message;
}

} // namespace
