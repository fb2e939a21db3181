// A whole frame of the viewport with the forward renderer and the demo's
// composite settings: the scene goes into the G-buffer, the deferred
// composite merges it and FXAA smooths it, read back from the frame bitmap.

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>
#include <string>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Camera.h"
#include "Korvane.Controller.Passes.Deferred.h"
#include "Korvane.Controller.Passes.FXAA.h"
#include "Korvane.Light.h"
#include "Korvane.Material.Lambert.h"
#include "Korvane.Plane.h"
#include "Korvane.Viewport.h"
#include "Platform.Forms.h"
#include "TestHelpers.h"

namespace korvane {
namespace {

class ForwardFrame : public ::testing::Test {
protected:
    static constexpr int Width = 704, Height = 640;
    static constexpr TAlphaColor Background = 0xFF204080;

    void SetUp() override
    {
        Application().SetHeadless(true);
        Application().Initialize();
        Application().Reset();
        Form = Application().CreateForm<TForm>();
        Form->SetClientWidth(Width);
        Form->SetClientHeight(Height);
        Vp = new TKorvaneViewport(Form);
        Vp->SetColor(Background);
        Vp->SetUseFixedFrameRate(false);
        Vp->SetRendererType(TRendererType::ForwardRenderer);
        Vp->SetFXAA(1);
        Vp->ForceResize();
        auto* camera = new TKorvaneCamera(Form);
        camera->SetParent(Vp);
        camera->Position().SetPoint({0, 0, -5});
        auto* light = new TKorvaneLight(Form);
        light->SetParent(Vp);
        light->Position().SetPoint({1, -1, -4});
        light->SetIntensity(1);
        light->SetConstantAttenuation(1);
        Material.reset(TKorvaneDefaultMaterialSource::Create<TKorvaneLambertMaterialSource>(nullptr));
        Material->SetDiffuse(0xFFE03020);
        // The material multiplies its diffuse colour by its texture: white here.
        TBitmap white(4, 4);
        white.Clear(TAlphaColors::White);
        Material->SetTexture(&white);
        Plane = new TKorvanePlane(Form);
        Plane->SetParent(Vp);
        Plane->SetWidth(3);
        Plane->SetHeight(3);
        Plane->SetMaterialSource(Material.get());
        camera->SetTarget(Plane);
        Vp->SetCamera(camera);
        Vp->SetUsingDesignCamera(false);
        // The renderer takes the viewport's lights when it is sized.
        Vp->ForceResize();
    }
    void TearDown() override
    {
        Application().DestroyComponents();
        Application().Reset();
        while (CheckSynchronize(0)) {
        }
    }

    // Pixel (x, y) of the frame bitmap, top row first, as RGBA.
    std::array<int, 4> Pixel(const std::vector<uint8_t>& ARGBA, int AX, int AY) const
    {
        const size_t i = (size_t(AY) * Width + size_t(AX)) * 4;
        return {ARGBA[i], ARGBA[i + 1], ARGBA[i + 2], ARGBA[i + 3]};
    }

    TForm* Form = nullptr;
    TKorvaneViewport* Vp = nullptr;
    TKorvanePlane* Plane = nullptr;
    test::Owned<TKorvaneLambertMaterialSource> Material;
};

TEST_F(ForwardFrame, ALitPlaneGoesThroughTheCompositeChainIntoTheFrame)
{
    Vp->RenderManual();
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    auto* renderer = dynamic_cast<TForwardRenderer*>(Vp->MainPassRenderer());
    ASSERT_NE(renderer, nullptr);
    ASSERT_NE(renderer->DeferredCompositeCtrl(), nullptr);
    ASSERT_NE(renderer->FXAACtrl(), nullptr);
    EXPECT_EQ(renderer->DeferredCompositeCtrl()->FrameCount(), 1u);
    EXPECT_EQ(renderer->FXAACtrl()->FrameCount(), 1u);

    TBitmap* frame = Vp->FrameBitmap();
    ASSERT_EQ(frame->Width(), Width);
    ASSERT_EQ(frame->Height(), Height);
    const std::vector<uint8_t> rgba = frame->ToRGBA();
    // The plane covers about two thirds of the frame's height around its
    // centre: its middle third is plane everywhere.
    const std::array<int, 4> background{0x20, 0x40, 0x80, 255};
    int onPlane = 0;
    for (int y = Height / 3; y < 2 * Height / 3; y += 7)
        for (int x = Width / 3; x < 2 * Width / 3; x += 7) {
            const std::array<int, 4> p = Pixel(rgba, x, y);
            ASSERT_GT(p[0] + p[1] + p[2], 30) << "black at " << x << "," << y;
            ASSERT_NE(p, background) << x << "," << y;
            // The diffuse colour is red: lit, it stays red.
            ASSERT_GT(p[0], p[1] + 40) << x << "," << y;
            ASSERT_GT(p[0], p[2] + 40) << x << "," << y;
            ++onPlane;
        }
    EXPECT_GT(onPlane, 100);
    for (auto [x, y] : {std::pair{2, 2}, {Width - 3, 2}, {2, Height - 3}, {Width - 3, Height - 3}}) {
        const std::array<int, 4> p = Pixel(rgba, x, y);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], background[c], 3) << x << "," << y;
    }

    // A second frame reuses the passes and gives the same picture.
    Vp->RenderManual();
    EXPECT_EQ(renderer->FXAACtrl()->FrameCount(), 2u);
    EXPECT_EQ(Vp->FrameBitmap()->ToRGBA(), rgba);
}

} // namespace
} // namespace korvane
