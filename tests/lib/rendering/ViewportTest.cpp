// The viewport control: its settings and clamps, the frame loop (manual,
// paint-driven and fixed-rate on a stepped clock), resizing, the renderer
// choice, and its scene services (rendering list, culling, scene bounds,
// picking, coordinates, screenshots, render-pass registration).

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Camera.h"
#include "Korvane.Context.h"
#include "Korvane.Controller.h"
#include "Korvane.Light.h"
#include "Korvane.Plane.h"
#include "Korvane.Utils.Timer.h"
#include "Korvane.Viewport.h"
#include "LogCapture.h"
#include "Platform.Forms.h"
#include "SteppingClock.h"
#include "TestHelpers.h"

namespace korvane {

// A sky box as the list sees it (the real node lives in a unit above the viewport).
class TKorvaneSkyBox : public TControl3D {
    KORVANE_CLASS(TKorvaneSkyBox, TControl3D)
    explicit TKorvaneSkyBox(TComponent* AOwner) : TControl3D(AOwner) {}
};
KORVANE_IMPLEMENT_CLASS(TKorvaneSkyBox, "ViewportTest")

namespace {

using test::MessageOf;
using test::Owned;

// Counts frames and can hold a tick inside its frame.
class TCountingViewport : public TKorvaneViewport {
public:
    using TKorvaneViewport::TKorvaneViewport;
    void RenderFrame() override
    {
        ++Frames;
        if (DuringFrame) DuringFrame();
        TKorvaneViewport::RenderFrame();
    }
    int Frames = 0;
    std::function<void()> DuringFrame;
};

// A flat colour drawn with the instance model matrix and the context's view and projection.
class TFlatMaterial : public TMaterial {
public:
    explicit TFlatMaterial(TAlphaColorF AColor) : FColor(AColor)
    {
        VS.reset(new TContextShader(TContextShaderKind::VertexShader, "flat",
                                    {TContextShaderSource(TContextShaderArch::GLSL, R"(#version 430
layout(location = 0) in vec3 a_Position;
layout(location = 12) in mat4 a_ModelMatrix;
uniform mat4 ViewProj;
void main() { gl_Position = ViewProj * (a_ModelMatrix * vec4(a_Position, 1.0)); }
)",
                                                          {})}));
        PS.reset(new TContextShader(TContextShaderKind::PixelShader, "flat",
                                    {TContextShaderSource(TContextShaderArch::GLSL, R"(#version 430
uniform vec4 Color;
// Every target of the frame's buffers is written: albedo, opaque alpha, no
// position or normal, no emissive light (an unwritten one is undefined).
layout(location = 0) out vec4 o_Color;
layout(location = 1) out float o_Alpha;
layout(location = 2) out vec4 o_Position;
layout(location = 3) out vec3 o_Normals;
layout(location = 4) out vec3 o_Emissive;
void main()
{
    o_Color = Color;
    o_Alpha = 1.0;
    o_Position = vec4(0.0);
    o_Normals = vec3(0.0);
    o_Emissive = vec3(0.0);
}
)",
                                                          {})}));
    }
    Owned<TContextShader> VS, PS;

protected:
    void DoApply(TContext3D* AContext) override
    {
        AContext->SetShaders(VS.get(), PS.get());
        GLint program = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        const TMatrix3D viewProj = AContext->CurrentCameraMatrix() * AContext->CurrentProjectionMatrix();
        glUniformMatrix4fv(glGetUniformLocation(GLuint(program), "ViewProj"), 1, GL_FALSE, &viewProj.m11);
        glUniform4f(glGetUniformLocation(GLuint(program), "Color"), FColor.R, FColor.G, FColor.B, FColor.A);
    }

private:
    TAlphaColorF FColor;
};

class TFlatSource : public TMaterialSource {
public:
    TFlatSource(TComponent* AOwner, TAlphaColorF AColor) : TMaterialSource(AOwner), FColor(AColor) {}

protected:
    TMaterial* CreateMaterial() override { return new TFlatMaterial(FColor); }

private:
    TAlphaColorF FColor;
};

class ViewportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application().SetHeadless(true);
        Application().Initialize();
        Application().Reset();
        SavedRefresh = TKorvaneViewport::QueryDisplayRefreshRate;
    }
    void TearDown() override
    {
        Application().DestroyComponents();
        Application().Reset();
        while (CheckSynchronize(0)) {
        }
        TKorvaneViewport::QueryDisplayRefreshRate = SavedRefresh;
    }

    TForm* NewForm(int AWidth = 128, int AHeight = 128)
    {
        TForm* form = Application().CreateForm<TForm>();
        form->SetClientWidth(AWidth);
        form->SetClientHeight(AHeight);
        return form;
    }

    std::function<int32_t()> SavedRefresh;
};

// ---------------------------------------------------------------- settings

TEST_F(ViewportTest, FrameRateStepFollowsTheRateAndTheDisplay)
{
    struct Case {
        int32_t Rate;
        bool VSync;
        int32_t Display;
        int32_t Step;
    };
    const Case cases[] = {
        {60, false, 60, 16}, {1, false, 60, 1000}, {60, true, 50, 20}, {60, true, 0, 16}, {30, true, 144, 33},
    };
    for (const Case& c : cases) {
        TKorvaneViewport::QueryDisplayRefreshRate = [&] { return c.Display; };
        TForm* form = NewForm();
        auto* vp = new TKorvaneViewport(form);
        vp->SetVSync(c.VSync);
        vp->SetFixedFrameRate(c.Rate);
        EXPECT_EQ(vp->FrameRateStep(), c.Step) << c.Rate << " fps, vsync " << c.VSync << ", " << c.Display << " Hz";
        EXPECT_EQ(vp->FrameTimer()->Interval(), c.Step);
        form->Free();
    }
}

TEST_F(ViewportTest, SettingsAreClampedAsStored)
{
    TForm* form = NewForm();
    auto* vp = new TKorvaneViewport(form);
    struct Case {
        const char* Name;
        std::function<void()> Set;
        std::function<double()> Get;
        double Expected;
    };
    const Case cases[] = {
        {"EmissiveBlur 20", [&] { vp->SetEmissiveBlur(20); }, [&] { return vp->GetEmissiveBlur(); }, 15},
        {"EmissiveBlur -3", [&] { vp->SetEmissiveBlur(-3); }, [&] { return vp->GetEmissiveBlur(); }, 0},
        {"FXAA 9", [&] { vp->SetFXAA(9); }, [&] { return vp->GetFXAA(); }, 8},
        {"GlobalIllumSoftness 7", [&] { vp->SetGlobalIllumSoftness(7); }, [&] { return vp->GetGlobalIllumSoftness(); },
         5},
        {"ShadowStrength -1", [&] { vp->SetShadowStrength(-1); }, [&] { return vp->GetShadowStrength(); }, 0},
        {"ReflectionStrength 12", [&] { vp->SetReflectionStrength(12); },
         [&] { return vp->GetReflectionStrength(); }, 10},
        {"GlobalIllumDetail 9", [&] { vp->SetGlobalIllumDetail(9); }, [&] { return vp->GetGlobalIllumDetail(); }, 9},
    };
    for (const Case& c : cases) {
        c.Set();
        EXPECT_DOUBLE_EQ(c.Get(), c.Expected) << c.Name;
    }
    // The defaults the constructor sets.
    EXPECT_TRUE(vp->UseFixedFrameRate());
    EXPECT_EQ(vp->FixedFrameRate(), 60);
    EXPECT_TRUE(vp->UsingDesignCamera());
    EXPECT_EQ(vp->Color(), TAlphaColor(0xFF000000));
    EXPECT_EQ(vp->GetFogMode(), 2);
    EXPECT_FLOAT_EQ(vp->TranslucentSaturation(), 1.5f);
    EXPECT_EQ(vp->Align(), TAlignLayout::Client);
}

TEST_F(ViewportTest, TheForwardRendererClampsDetailTheViewportKeeps)
{
    TForm* form = NewForm();
    auto* vp = new TKorvaneViewport(form);
    vp->SetEmissiveBlur(20);
    vp->SetGlobalIllumDetail(9);
    vp->SetRendererType(TRendererType::ForwardRenderer);
    auto* forward = dynamic_cast<TForwardRenderer*>(vp->MainPassRenderer());
    ASSERT_NE(forward, nullptr);
    EXPECT_EQ(vp->GetGlobalIllumDetail(), 9);
    // The renderer's limit is 7; a driver whose 3D textures cannot hold the
    // voxel grid of that detail lowers it further.
    EXPECT_LE(forward->GlobalIllumDetail(), 7);
    EXPECT_GT(forward->GlobalIllumDetail(), 0);
    EXPECT_EQ(forward->EmissiveBlur(), 15) << "the settings reach a new renderer";
    vp->SetFXAA(3);
    EXPECT_EQ(forward->FXAA(), 3);
}

TEST_F(ViewportTest, NoOwnerIsRefusedBeforeAnythingIsMade)
{
    const int before = Application().ComponentCount();
    EXPECT_EQ(MessageOf([] { new TKorvaneViewport(nullptr); }), "owner component not set");
    EXPECT_EQ(Application().ComponentCount(), before);
}

TEST_F(ViewportTest, RendererTypeReplacesTheRendererUnderTheSameId)
{
    TForm* form = NewForm();
    auto* vp = new TKorvaneViewport(form);
    ASSERT_NE(vp->MainPassRenderer(), nullptr) << "the form's layout resized the viewport";
    const std::string id = vp->MainPassRenderer()->Id();
    EXPECT_EQ(id, Format("Viewport@%d", int64_t(reinterpret_cast<intptr_t>(vp))));
    EXPECT_NE(dynamic_cast<TForwardRenderer*>(vp->MainPassRenderer()), nullptr);

    vp->SetRendererType(TRendererType::LegacyRenderer);
    EXPECT_NE(dynamic_cast<TLegacyRenderer*>(vp->MainPassRenderer()), nullptr);
    EXPECT_EQ(vp->MainPassRenderer()->Id(), id);
    EXPECT_EQ(vp->CurrentRenderer(), vp->MainPassRenderer());

    EXPECT_EQ(MessageOf([&] { vp->SetRendererType(static_cast<TRendererType>(7)); }),
              "unsupported renderer type set");
    EXPECT_EQ(vp->MainPassRenderer(), nullptr);
    EXPECT_EQ(vp->Context(), nullptr);
}

TEST_F(ViewportTest, AnIllegalResizeKeepsRendererAndBitmap)
{
    TForm* form = NewForm(200, 300);
    auto* vp = new TKorvaneViewport(form);
    TBitmap* bitmap = vp->FrameBitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->Width(), 200);
    TRenderer* renderer = vp->MainPassRenderer();
    test::LogCapture log;
    vp->SetAlign(TAlignLayout::None);
    vp->SetWidth(0);
    EXPECT_TRUE(log.Contains("ERROR: Illegal viewport resize(0, 300)"));
    EXPECT_EQ(vp->FrameBitmap(), bitmap);
    EXPECT_EQ(bitmap->Width(), 200);
    EXPECT_EQ(vp->MainPassRenderer(), renderer);
}

TEST_F(ViewportTest, RenderingWithoutAContextIsAbortedWithALogLine)
{
    TForm* form = NewForm();
    auto* vp = new TKorvaneViewport(form);
    vp->SetRendererType(TRendererType::LegacyRenderer);
    EXPECT_ANY_THROW(vp->SetRendererType(static_cast<TRendererType>(9)));
    test::LogCapture log;
    vp->RenderFrame();
    EXPECT_TRUE(log.Contains("rendering aborted - context not assigned"));
}

// ---------------------------------------------------------------- rendered frames

class ViewportScene : public ViewportTest {
protected:
    static constexpr TAlphaColor Background = 0xFF204080;

    void SetUp() override
    {
        ViewportTest::SetUp();
        Form = NewForm();
        Vp = new TCountingViewport(Form);
        Vp->SetColor(Background);
        // The default renderer: forward, with the composite chain and FXAA 1.
        Camera = new TKorvaneCamera(Form);
        Camera->SetParent(Vp);
        Camera->Position().SetPoint({0, 0, -5});
        Light = new TKorvaneLight(Form);
        Light->SetParent(Vp);
        Light->Position().SetPoint({3, -3, -4}); // off the ray through the centre
        Plane = AddPlane({0, 0, 0}, 3);
        Camera->SetTarget(Plane);
        Vp->SetCamera(Camera);
        Vp->SetUsingDesignCamera(false);
    }

    TKorvanePlane* AddPlane(const TPoint3D& APosition, float ASize)
    {
        auto* plane = new TKorvanePlane(Form);
        plane->SetParent(Vp);
        plane->SetWidth(ASize);
        plane->SetHeight(ASize);
        plane->Position().SetPoint(APosition);
        plane->SetMaterialSource(Source);
        return plane;
    }

    // Pixel (x, y) of the frame bitmap, top row first, as RGBA.
    std::array<uint8_t, 4> Pixel(int AX, int AY)
    {
        TBitmap* b = Vp->FrameBitmap();
        const std::vector<uint8_t> rgba = b->ToRGBA();
        const size_t i = (size_t(AY) * size_t(b->Width()) + size_t(AX)) * 4;
        return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
    }

    TForm* Form = nullptr;
    TCountingViewport* Vp = nullptr;
    TKorvaneCamera* Camera = nullptr;
    TKorvaneLight* Light = nullptr;
    TKorvanePlane* Plane = nullptr;
    TFlatSource* Source = new TFlatSource(nullptr, TAlphaColorF(1, 0, 0, 1));
    Owned<TFlatSource> SourceOwner{Source};
};

TEST_F(ViewportScene, RenderManualDrawsThePlaneOverTheBackground)
{
    Vp->SetUseFixedFrameRate(false);
    ASSERT_NE(dynamic_cast<TForwardRenderer*>(Vp->MainPassRenderer()), nullptr);
    EXPECT_EQ(Vp->GetFXAA(), 1);
    Vp->RenderManual();
    ASSERT_EQ(Vp->Frames, 1);
    ASSERT_EQ(Vp->FrameBitmap()->Width(), 128);
    const std::array<uint8_t, 4> red{255, 0, 0, 255};
    const std::array<uint8_t, 4> background{0x20, 0x40, 0x80, 255};
    EXPECT_TRUE(test::NearColor(Pixel(64, 64), red, 3));
    for (auto [x, y] : {std::pair{1, 1}, {126, 1}, {1, 126}, {126, 126}})
        EXPECT_TRUE(test::NearColor(Pixel(x, y), background, 3))
            << x << "," << y << ": " << int(Pixel(x, y)[0]) << " " << int(Pixel(x, y)[1]) << " " << int(Pixel(x, y)[2])
            << " " << int(Pixel(x, y)[3]);
    EXPECT_EQ(Vp->Lights().size(), 1u);
}

// Moving a scene object asks for the next frame only: the finished frame and
// the render targets stay (rebuilding them on every change left an animated
// scene's window without a picture).
TEST_F(ViewportScene, AMovedObjectKeepsTheFinishedFrameUntilTheNext)
{
    Vp->SetUseFixedFrameRate(false);
    Vp->RenderManual();
    TBitmap* frame = Vp->FrameBitmap();
    const std::array<uint8_t, 4> red{255, 0, 0, 255};
    ASSERT_TRUE(test::NearColor(Pixel(64, 64), red, 3));
    Plane->RotationAngle().SetY(Plane->RotationAngle().Y() + 1);
    EXPECT_EQ(Vp->FrameBitmap(), frame);
    EXPECT_TRUE(test::NearColor(Pixel(64, 64), red, 3));
    Vp->RenderManual();
    EXPECT_EQ(Vp->Frames, 2);
    EXPECT_TRUE(test::NearColor(Pixel(64, 64), red, 3));
}

// A change of a scene object renders and paints nothing: it marks the form for
// its next paint, and that frame shows the scene as the last change left it.
// Painting the form on every change kept an animated scene's main thread busy
// painting the whole window, faster than frames could come.
TEST_F(ViewportScene, ChangesOnlyAskForTheNextFrameWhichShowsTheLastOfThem)
{
    Vp->SetUseFixedFrameRate(false);
    Vp->RenderManual();
    const std::array<uint8_t, 4> red{255, 0, 0, 255};
    const std::array<uint8_t, 4> background{0x20, 0x40, 0x80, 255};
    // Right of the centre, inside the plane as long as it faces the camera.
    const int x = 100, y = 64;
    ASSERT_TRUE(test::NearColor(Pixel(x, y), red, 3));
    Form->PaintNow();
    ASSERT_FALSE(Form->NeedsPaint());
    const int64_t requests = Vp->RenderRequests();

    // Turned edge-on in steps of one degree.
    for (int i = 0; i < 90; ++i) Plane->RotationAngle().SetY(Plane->RotationAngle().Y() + 1);
    EXPECT_EQ(Vp->RenderRequests() - requests, 90);
    EXPECT_EQ(Vp->Frames, 1);
    EXPECT_TRUE(Form->NeedsPaint()) << "the form paints on the next pass of the message loop";
    EXPECT_TRUE(test::NearColor(Pixel(x, y), red, 3));

    Vp->RenderManual();
    EXPECT_EQ(Vp->Frames, 2);
    EXPECT_TRUE(test::NearColor(Pixel(x, y), background, 3))
        << int(Pixel(x, y)[0]) << " " << int(Pixel(x, y)[1]) << " " << int(Pixel(x, y)[2]);
}

// A material that fails as it is applied: the frame fails in the middle of
// the renderer's work.
class TFailingSource : public TMaterialSource {
public:
    using TMaterialSource::TMaterialSource;

protected:
    class TFailing : public TMaterial {
    protected:
        void DoApply(TContext3D*) override { throw Exception("material failed"); }
    };
    TMaterial* CreateMaterial() override { return new TFailing(); }
};

// A frame that fails reaches the caller and leaves the viewport ready for the
// next: lock released, no tick counted, the next frame renders.
TEST_F(ViewportScene, AFrameThatFailsInTheRendererLeavesTheViewportReady)
{
    Vp->SetUseFixedFrameRate(false);
    Vp->SetEmissiveBlur(2);
    Owned<TFailingSource> failing(new TFailingSource(nullptr));
    Plane->SetMaterialSource(failing.get());
    EXPECT_NE(MessageOf([&] { Vp->RenderManual(); }).find("material failed"), std::string::npos);
    EXPECT_EQ(Vp->Frames, 1);
    EXPECT_EQ(Vp->FixedRendering(), 0);
    // The lock was released: another thread can take it.
    std::atomic<bool> locked{false};
    std::thread([&] {
        Vp->Lock();
        locked = true;
        Vp->Unlock();
    }).join();
    EXPECT_TRUE(locked);

    Plane->SetMaterialSource(Source);
    Vp->RenderManual();
    EXPECT_EQ(Vp->Frames, 2);
    EXPECT_TRUE(test::NearColor(Pixel(64, 64), {255, 0, 0, 255}, 3));
    EXPECT_TRUE(test::NearColor(Pixel(1, 1), {0x20, 0x40, 0x80, 255}, 3));
}

TEST_F(ViewportScene, ManualRenderingPaintsNothingUntilAsked)
{
    Vp->SetUseFixedFrameRate(false);
    Vp->SetManualRendering(true);
    struct TRecorder : TControlPainter {
        int Bitmaps = 0;
        void FillRect(const TRectF&, TAlphaColor, float) override {}
        void FrameRect(const TRectF&, TAlphaColor, float) override {}
        void DrawText(const TRectF&, const std::string&, TAlphaColor, TTextAlign, TTextAlign) override {}
        void DrawBitmap(const TRectF&, const TBitmap&, float) override { ++Bitmaps; }
        void PushClip(const TRectF&) override {}
        void PopClip() override {}
    } painter;
    for (int i = 0; i < 3; ++i) Vp->PaintTo(painter);
    EXPECT_EQ(Vp->Frames, 0);
    EXPECT_EQ(painter.Bitmaps, 0);
    Vp->RenderManual();
    EXPECT_EQ(Vp->Frames, 1);
    Vp->PaintTo(painter);
    EXPECT_EQ(Vp->Frames, 1) << "the request is used up";
    EXPECT_EQ(painter.Bitmaps, 0);
}

TEST_F(ViewportScene, WithoutFixedRateEveryPaintRendersAndDrawsTheFrame)
{
    Vp->SetUseFixedFrameRate(false);
    int bitmaps = 0;
    struct TRecorder : TControlPainter {
        int* Count;
        void FillRect(const TRectF&, TAlphaColor, float) override {}
        void FrameRect(const TRectF&, TAlphaColor, float) override {}
        void DrawText(const TRectF&, const std::string&, TAlphaColor, TTextAlign, TTextAlign) override {}
        void DrawBitmap(const TRectF&, const TBitmap&, float) override { ++*Count; }
        void PushClip(const TRectF&) override {}
        void PopClip() override {}
    } painter;
    painter.Count = &bitmaps;
    Vp->PaintTo(painter);
    Vp->PaintTo(painter);
    EXPECT_EQ(Vp->Frames, 2);
    EXPECT_EQ(bitmaps, 2);
}

// ---------------------------------------------------------------- fixed rate on a stepped clock

class ViewportFixedRate : public ViewportTest {
protected:
    test::TSteppingClock Clock;
    TDefaultClockScope Scope{&Clock};
};

TEST_F(ViewportFixedRate, TenPeriodsGiveTenFramesAndABusyTickIsSkipped)
{
    TForm* form = NewForm();
    auto* vp = new TCountingViewport(form);
    vp->SetFixedFrameRate(50); // 20 ms
    vp->SetDiagnosticsActive(true);
    struct TNull : TControlPainter {
        void FillRect(const TRectF&, TAlphaColor, float) override {}
        void FrameRect(const TRectF&, TAlphaColor, float) override {}
        void DrawText(const TRectF&, const std::string&, TAlphaColor, TTextAlign, TTextAlign) override {}
        void DrawBitmap(const TRectF&, const TBitmap&, float) override {}
        void PushClip(const TRectF&) override {}
        void PopClip() override {}
    } painter;
    // The first fixed-rate paint starts the timer and renders nothing itself.
    vp->PaintTo(painter);
    ASSERT_TRUE(vp->FrameTimer()->Active());
    EXPECT_EQ(vp->Frames, 0);
    ASSERT_TRUE(test::Settle(Clock));
    const int64_t start = Clock.NowTicks() / test::Ms;
    ASSERT_TRUE(test::RunUntil(Clock, start + 200));
    EXPECT_EQ(vp->Frames, 10);

    // A tick that arrives while a frame runs (the main thread serves the
    // queue inside the frame) is skipped, never nested.
    int depth = 0, deepest = 0, nestedTicks = 0;
    vp->DuringFrame = [&] {
        ++depth;
        deepest = std::max(deepest, depth);
        const int before = vp->Frames;
        vp->FixedIntervalTick(vp->FrameTimer());
        nestedTicks += vp->Frames - before;
        --depth;
    };
    ASSERT_TRUE(test::RunUntil(Clock, start + 260));
    EXPECT_EQ(vp->Frames, 13);
    EXPECT_EQ(nestedTicks, 0);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(vp->FixedRendering(), 0);
    vp->DuringFrame = nullptr;

    // Frame times on a clock that stands still are zero: the average must not divide by it.
    ASSERT_TRUE(test::RunUntil(Clock, start + 20 * 40));
    EXPECT_GE(vp->Diagnostics().TotalFrames, 30);
    EXPECT_EQ(vp->Diagnostics().AverageFramesPerSecond, 0.0f);
    EXPECT_EQ(vp->Diagnostics().AverageFrameTime, 0.0f);

    // Frames of half a millisecond each (under the millisecond that whole
    // milliseconds would round them to) average to 0.5 ms and 2000 frames/s.
    vp->DuringFrame = [&] { Clock.Advance(test::Ms / 2); };
    ASSERT_TRUE(test::RunUntil(Clock, start + 20 * 100));
    vp->DuringFrame = nullptr;
    ASSERT_GE(vp->Diagnostics().TotalFrames, 90);
    EXPECT_NEAR(vp->Diagnostics().AverageFrameTime, 0.5f, 1e-4f);
    EXPECT_NEAR(vp->Diagnostics().AverageFramesPerSecond, 2000.0f, 0.5f);

    // Freeing the viewport joins the timer thread: none waits on the clock afterwards.
    ASSERT_GE(Clock.BlockedDeadline(), 0) << "the timer thread waits for its next tick";
    form->Free();
    EXPECT_EQ(Clock.BlockedDeadline(), -1);
}

// ---------------------------------------------------------------- scene services

TEST_F(ViewportScene, TheRenderingListStartsWithTheSkyBoxes)
{
    auto* sky1 = new TKorvaneSkyBox(Form);
    sky1->SetParent(Vp);
    AddPlane({2, 0, 0}, 1);
    auto* sky2 = new TKorvaneSkyBox(Form);
    sky2->SetParent(Vp);
    AddPlane({-2, 0, 0}, 1);
    Vp->CollectRenderingList();
    const auto& list = Vp->RenderingList();
    ASSERT_GE(list.size(), 5u);
    EXPECT_EQ(list[0], sky2) << "the last found is foremost";
    EXPECT_EQ(list[1], sky1);
    int planes = 0;
    for (size_t i = 2; i < list.size(); ++i) {
        EXPECT_EQ(dynamic_cast<TKorvaneSkyBox*>(list[i]), nullptr) << i;
        planes += dynamic_cast<TKorvanePlane*>(list[i]) != nullptr;
    }
    EXPECT_EQ(planes, 3);
}

TEST_F(ViewportScene, CullingSkipsOnlyCheckedMeshesBehindTheCamera)
{
    Vp->SetUseFixedFrameRate(false);
    auto* behindChecked = AddPlane({0, 0, -20}, 1);
    auto* behindUnchecked = AddPlane({0, 0, -21}, 1);
    behindUnchecked->SetFrustumCullingCheck(false);
    auto* hidden = AddPlane({0.5f, 0, 0}, 1);
    hidden->SetVisible(false);
    std::vector<TObject*> drawn;
    for (TKorvanePlane* p : {Plane, behindChecked, behindUnchecked, hidden})
        p->OnRender = [&drawn](TObject* S, TContext3D*) { drawn.push_back(S); };
    Vp->RenderManual();
    EXPECT_NE(std::find(drawn.begin(), drawn.end(), Plane), drawn.end());
    EXPECT_NE(std::find(drawn.begin(), drawn.end(), behindUnchecked), drawn.end());
    EXPECT_EQ(std::find(drawn.begin(), drawn.end(), behindChecked), drawn.end());
    EXPECT_EQ(std::find(drawn.begin(), drawn.end(), hidden), drawn.end()) << "invisible at run time";
}

// Lights register with the viewport however deep they sit and whenever their
// branch is built: before or after it joins the viewport's tree.
TEST_F(ViewportScene, NestedLightsRegisterWhenTheyEnterAndLeaveTheTree)
{
    auto* group = new TDummy(Form);
    group->SetParent(Vp);
    auto* late = new TKorvaneLight(Form);
    late->SetParent(group); // added below a node already in the scene
    auto* branch = new TDummy(Form);
    auto* inner = new TDummy(Form);
    inner->SetParent(branch);
    auto* early = new TKorvaneLight(Form);
    early->SetParent(inner); // built outside, then the branch is nested
    branch->SetParent(Plane);
    EXPECT_EQ(Vp->Lights(), (std::vector<TLight*>{Light, late, early}));

    Vp->SetUseFixedFrameRate(false);
    Vp->RenderManual();
    auto* ctx = dynamic_cast<TKorvaneContext*>(Vp->Context());
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx->ShaderLights().size(), 3u) << "every registered light reaches the frame";

    branch->SetParent(group); // moving within the tree keeps one entry each
    EXPECT_EQ(Vp->Lights().size(), 3u);
    branch->SetParent(nullptr);
    EXPECT_EQ(Vp->Lights(), (std::vector<TLight*>{Light, late}));
    group->Free();
    EXPECT_EQ(Vp->Lights(), (std::vector<TLight*>{Light}));
    branch->Free();
}

TEST_F(ViewportScene, LightsDummiesAndCamerasNeverEnlargeTheSceneBounds)
{
    TBoundingBox bounds(0, 0, 0, 0, 0, 0);
    const TKorvaneFrustum frustum{};
    auto* dummy = new TDummy(Form);
    dummy->SetParent(Vp);
    dummy->Position().SetPoint({100, 100, 100});
    Light->Position().SetPoint({-100, 0, 0});
    for (TControl3D* c : std::initializer_list<TControl3D*>{dummy, Light, Camera}) {
        EXPECT_TRUE(TKorvaneRenderingHelper::Renderable(c, frustum, {}, bounds, true, true));
        TKorvaneRenderingHelper::UpdateSceneBounds(c, {}, bounds);
    }
    EXPECT_EQ(bounds.Left, 0);
    EXPECT_EQ(bounds.Right, 0);
    EXPECT_EQ(bounds.Far, 0);
    // A mesh does enlarge them.
    Plane->SetFrustumCullingCheck(false);
    EXPECT_TRUE(TKorvaneRenderingHelper::Renderable(Plane, frustum, {}, bounds, true, true));
    EXPECT_LT(bounds.Left, -1.4f);
    EXPECT_GT(bounds.Right, 1.4f);
}

TEST_F(ViewportScene, PickingAtThePlaneCentreFindsItAndScreenToWorldLiesOnIt)
{
    Vp->SetUseFixedFrameRate(false);
    Vp->RenderManual();
    const TPointF centre(64, 64);
    EXPECT_EQ(Vp->ObjectAtPoint3D(Vp->AbsoluteRect().TopLeft() + centre), Plane);
    const TPoint3D world = Vp->ScreenToWorld(centre);
    EXPECT_NEAR(world.Z, 0.0f, 1e-3f) << "on the plane z = 0";
    EXPECT_LT(std::abs(world.X), 1.5f);
    EXPECT_LT(std::abs(world.Y), 1.5f);
    const TPointF back = Vp->WorldToScreen(world);
    EXPECT_NEAR(back.X, 64, 0.5f);
    EXPECT_NEAR(back.Y, 64, 0.5f);
    EXPECT_EQ(Vp->ObjectAtPoint3D(TPointF(-5, -5)), nullptr) << "outside the viewport";
}

// The viewport stops answering hit tests in edit mode, and at design time
// while left Alt is held; then neither it nor its scene is picked.
TEST_F(ViewportScene, EditModeAndTheDesignersAltKeyTurnHitTestingOff)
{
    Vp->SetUseFixedFrameRate(false);
    Vp->RenderManual();
    const auto savedKeys = KeyIsDown;
    struct Case {
        bool Edit, Designing, AltDown, Hit;
    };
    const Case cases[] = {
        {false, false, false, true}, {false, false, true, true},  {true, false, false, false},
        {false, true, false, true},  {false, true, true, false},  {true, true, false, false},
    };
    const TPointF centre = Vp->AbsoluteRect().TopLeft() + TPointF(64, 64);
    for (const Case& c : cases) {
        bool alt = c.AltDown;
        KeyIsDown = [&alt](TKeyboardKey AKey) { return AKey == TKeyboardKey::LeftAlt && alt; };
        Vp->SetDesigning(c.Designing);
        if (Vp->EditMode() != c.Edit) Vp->SetEditMode(c.Edit);
        const std::string label = Format("edit %d, designing %d, alt %d", int(c.Edit), int(c.Designing),
                                         int(c.AltDown));
        EXPECT_EQ(Form->ObjectAtPoint(centre) == Vp, c.Hit) << label;
        if (!c.Hit) {
            EXPECT_EQ(Vp->ObjectAtPoint3D(centre), nullptr) << label;
        } else if (!c.Designing) {
            EXPECT_EQ(Vp->ObjectAtPoint3D(centre), Plane) << label;
        }
    }
    KeyIsDown = savedKeys;
}

// A drag over the scene finds the nearest object that accepts it, through the
// form's search; without one, the viewport itself when it accepts.
TEST_F(ViewportScene, ADropFindsTheNearestAcceptingObjectElseTheViewport)
{
    Vp->SetUseFixedFrameRate(false);
    auto* front = AddPlane({0, 0, -1}, 1); // covers the centre, nearer the camera
    Vp->RenderManual();
    auto accepts = [](const char* AKind) {
        return [AKind](TObject*, const TDragObject& D, const TPointF&, bool& Accept) { Accept = D.Data == AKind; };
    };
    Plane->OnDragOver = accepts("texture");
    front->OnDragOver = accepts("mesh");
    Vp->OnDragOver = accepts("model");
    const TPointF centre = Vp->AbsoluteRect().TopLeft() + TPointF(64, 64);
    const TPointF corner = Vp->AbsoluteRect().TopLeft() + TPointF(3, 3);
    struct Case {
        const char* Data;
        TPointF At;
        TTreeObject* Expected;
    };
    const Case cases[] = {
        {"texture", centre, Plane}, // behind the front plane, which does not take it
        {"mesh", centre, front},
        {"model", centre, Vp},
        {"texture", corner, nullptr}, // over the background only
        {"sound", centre, nullptr},
    };
    for (const Case& c : cases) {
        TDragObject data;
        data.Data = c.Data;
        EXPECT_EQ(Form->FindTarget(c.At, data), c.Expected) << c.Data << " at " << c.At.X << "," << c.At.Y;
    }
    front->OnDragOver = accepts("texture");
    TDragObject texture;
    texture.Data = "texture";
    EXPECT_EQ(Form->FindTarget(centre, texture), front) << "the nearer of two that accept";
}

TEST_F(ViewportScene, RayCastIntersectTakesOnlyObjectsWithMouseHandlers)
{
    Vp->SetUseFixedFrameRate(false);
    Vp->RenderManual();
    const TPointF centre = Vp->AbsoluteRect().TopLeft() + TPointF(64, 64);
    EXPECT_EQ(Vp->RayCastIntersect(centre), nullptr) << "hit, but without a handler";
    int moves = 0;
    TVector3D seenDir;
    Plane->OnMouseMove = [&](TObject* S, TShiftState, float, float, TVector3D, TVector3D ADir) {
        EXPECT_EQ(S, Plane);
        seenDir = ADir;
        ++moves;
    };
    EXPECT_EQ(Vp->RayCastIntersect(centre), Plane);
    EXPECT_EQ(moves, 1);
    EXPECT_GT(seenDir.Z, 0.9f) << "the ray looks into the scene";
    Plane->SetHitTest(false);
    EXPECT_EQ(Vp->RayCastIntersect(centre), nullptr);
}

TEST_F(ViewportTest, AScreenshotFitsTheLargestBitmap)
{
    TForm* form = NewForm(400, 200);
    auto* vp = new TKorvaneViewport(form);
    vp->SetRendererType(TRendererType::LegacyRenderer);
    const int saved = TKorvaneViewport::MaxBitmapSize;
    struct Case {
        float W, H;
        int Max, ExpectW, ExpectH;
    };
    for (const Case& c : {Case{4000, 2000, 2048, 2048, 1024}, Case{400, 200, 2048, 400, 200},
                          Case{1000, 3000, 1500, 500, 1500}}) {
        TKorvaneViewport::MaxBitmapSize = c.Max;
        vp->SetAlign(TAlignLayout::None);
        vp->SetBounds(0, 0, c.W, c.H);
        Owned<TBitmap> shot(vp->MakeScreenshot());
        EXPECT_EQ(shot->Width(), c.ExpectW) << c.W << "x" << c.H;
        EXPECT_EQ(shot->Height(), c.ExpectH) << c.W << "x" << c.H;
    }
    TKorvaneViewport::MaxBitmapSize = saved;
}

// A pass controller that counts how often the viewport refreshes it.
class TCountingPass : public TKorvaneRenderPassController {
public:
    using TKorvaneRenderPassController::TKorvaneRenderPassController;
    void UpdateRenderPass() override { ++Updates; }
    void UpdateOnResize() override { ++Resizes; }
    int Updates = 0, Resizes = 0;
};

TEST_F(ViewportTest, ARenderPassIsRegisteredOnceAndForgottenWhenFreed)
{
    TForm* form = NewForm();
    auto* vp = new TKorvaneViewport(form);
    Owned<TCountingPass> pass(new TCountingPass(nullptr));
    vp->AddRenderPass(pass.get());
    vp->AddRenderPass(pass.get());
    EXPECT_EQ(vp->RenderPasses().size(), 1u);
    EXPECT_EQ(pass->Updates, 2) << "each registration refreshes the list";
    vp->ForceResize();
    EXPECT_EQ(pass->Resizes, 1);
    Owned<TCountingPass> other(new TCountingPass(nullptr));
    vp->RemoveRenderPass(other.get());
    EXPECT_EQ(vp->RenderPasses().size(), 1u);
    pass.reset();
    EXPECT_TRUE(vp->RenderPasses().empty()) << "a freed controller leaves the list";
}

TEST_F(ViewportScene, TheViewportsOwnMouseHandlersRunAfterTheCameraControllers)
{
    Vp->SetUsingDesignCamera(false);
    std::vector<std::string> order;
    TPoint3D impulseSeen{0, 0, 0};
    auto* rig = new TKorvaneSmoothCameraController(Form);
    Vp->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, float, float) { order.push_back("viewport down"); };
    Vp->OnMouseMove = [&](TObject*, TShiftState, float, float) {
        order.push_back("viewport move");
        impulseSeen = rig->Impulse();
    };
    rig->SetViewport(Vp);
    Form->MouseDownAt(TMouseButton::mbLeft, TShiftState{ssLeft}, 60, 60);
    Form->MouseMoveAt(TShiftState{ssLeft}, 80, 70);
    ASSERT_EQ(order, (std::vector<std::string>{"viewport down", "viewport move"}));
    EXPECT_NE(impulseSeen.X, 0.0f) << "the controller took the move before the viewport's handler ran";
}

} // namespace
} // namespace korvane
