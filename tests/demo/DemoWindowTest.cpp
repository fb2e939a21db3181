// The demo in a real window (under Xvfb when there is no display of one's
// own): its client area, and a drag from the window system that paints the
// image and, a few frames later, the plane. Skipped, not failed, when no X
// server or no xdotool can be had.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "DemoTestSupport.h"
#include "Korvane.Utils.Timer.h"
#include "Platform.Controls.h"
#include "Platform.EGL.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// The part of a screenshot the viewport covers (right of the 320-pixel panel).
TOwned<TBitmap> ViewportPart(TBitmap& AShot)
{
    TOwned<TBitmap> part = MakeOwned<TBitmap>(AShot.Width() - 320, AShot.Height());
    TBitmapData from, to;
    if (AShot.Map(TMapAccess::Read, from) && part->Map(TMapAccess::Write, to)) {
        for (int y = 0; y < part->Height(); ++y)
            for (int x = 0; x < part->Width(); ++x) to.SetPixel(x, y, from.GetPixel(x + 320, y));
        part->Unmap(to);
        AShot.Unmap(from);
    }
    return part;
}

void PumpFor(int AMilliseconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMilliseconds);
    while (std::chrono::steady_clock::now() < until) Application().HandleMessage(5);
}

// Opens the display for a window; the reason the test cannot have one, else empty.
std::string OpenWindowSystem()
{
    if (!std::getenv("DISPLAY")) return "no X server (DISPLAY is not set)";
    auto& device = platform::EGLDevice::Instance();
    if (device.HasContext() && !device.UsesX11Display())
        return "this process already made its GL context without a display";
    Application().SetHeadless(false);
    Application().Initialize();
    if (Application().Headless()) return "no display could be opened";
    return {};
}

TEST(DemoWindow, AnXdotoolDragPaintsTheImageAndThenThePlane)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X server (DISPLAY is not set)";
    if (RunCommand("command -v xdotool").empty()) GTEST_SKIP() << "xdotool is not there";
    if (const std::string why = OpenWindowSystem(); !why.empty()) GTEST_SKIP() << why;

    auto* form = Application().CreateForm<TForm2>();
    // The rig stands still, so that only the paint changes the plane.
    form->Timer1->SetEnabled(false);
    if (RenderThroughLegacyRenderer)
        form->KorvaneViewport1->SetRendererType(TRendererType::LegacyRenderer);
    form->Show();
    ASSERT_NE(form->Window(), nullptr);
    PumpFor(1500);

    const unsigned long id = form->Window()->NativeId();
    const std::string info = RunCommand("xwininfo -id " + std::to_string(id));
    if (!info.empty()) {
        EXPECT_EQ(NumberAfter(info, "Width: "), 1024) << info;
        EXPECT_EQ(NumberAfter(info, "Height: "), 640) << info;
    }

    TOwned<TBitmap> shot0 = MakeOwned<TBitmap>();
    form->PaintNow();
    form->Window()->Screenshot(*shot0);
    ASSERT_EQ(shot0->Width(), 1024);
    ASSERT_EQ(shot0->Height(), 640);
    TOwned<TBitmap> view0 = ViewportPart(*shot0);
    ASSERT_GT(CountHues(*view0).Sand, 1000) << "the plane shows sand before the drag";

    // A drag across the image, from the window system.
    const TRectF image = form->PaintBox1->AbsoluteRect();
    const int y = int(image.Top + 60), x0 = int(image.Left + 40), x1 = int(image.Left + 280);
    std::string drag = "xdotool mousemove --window " + std::to_string(id) + " " + std::to_string(x0) + " " +
                       std::to_string(y) + " mousedown 1";
    // Steps shorter than the 16-pixel brush, so that the stamps overlap.
    for (int x = x0 + 8; x <= x1; x += 8)
        drag += " sleep 0.01 mousemove --window " + std::to_string(id) + " " + std::to_string(x) + " " +
                std::to_string(y);
    drag += " mouseup 1 2>&1";
    std::atomic<bool> done{false};
    std::thread dragger([&] {
        RunCommand(drag);
        done = true;
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done && std::chrono::steady_clock::now() < until) Application().HandleMessage(5);
    dragger.join();
    PumpFor(1500); // a few frames after the release's upload

    TOwned<TBitmap> shot = MakeOwned<TBitmap>();
    form->PaintNow();
    form->Window()->Screenshot(*shot);
    // The image shows the red stroke where the drag went.
    int redInImage = 0, samples = 0;
    for (int x = x0; x <= x1; x += 4, ++samples)
        if (PixelAt(*shot, x, y) == 0xFFFF0000) ++redInImage;
    EXPECT_GE(redInImage * 10, samples * 9) << "red along the drag in the screenshot: " << redInImage << " of " << samples;
    EXPECT_EQ(PixelAt(form->PaintBox1->Bitmap()[0], int(x1 - image.Left - 120), int(y - image.Top)), 0xFFFF0000u);
    // The plane changed, to grass where the stroke lies.
    TOwned<TBitmap> view = ViewportPart(*shot);
    const THueCount changed = CountChangedHues(*view0, *view);
    EXPECT_GT(changed.Grass, 50) << "sand " << changed.Sand << " other " << changed.Other;
    form->Close();
}

// The rig's timer only turns the rig: the window is painted by the frame
// timer's ticks alone, and the next one shows the rig as the last turn left it.
// Painting the window on every turn kept the main thread painting and left the
// frame timer few turns of its own.
TEST(DemoWindow, TurningTheRigPaintsNothingUntilTheNextFrameShowsTheTurn)
{
    if (const std::string why = OpenWindowSystem(); !why.empty()) GTEST_SKIP() << why;
    auto* form = Application().CreateForm<TForm2>();
    // The test turns the rig itself, at moments of its choosing.
    form->Timer1->SetEnabled(false);
    TKorvaneViewport& viewport = *form->KorvaneViewport1;
    viewport.SetDiagnosticsActive(true);
    form->Show();
    ASSERT_NE(form->Window(), nullptr);
    // Serves the loop until the frame timer has delivered more than AFrames
    // frames; a sanitized build on a busy machine may take seconds per frame.
    const auto framesBeyond = [&](int64_t AFrames) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (viewport.Diagnostics().TotalFrames <= AFrames && std::chrono::steady_clock::now() < until)
            Application().HandleMessage(5);
        return viewport.Diagnostics().TotalFrames > AFrames;
    };
    ASSERT_TRUE(framesBeyond(0)) << "the frame timer delivers frames";
    ASSERT_TRUE(viewport.FrameTimer()->Active());

    TOwned<TBitmap> shot0 = MakeOwned<TBitmap>();
    form->Window()->Screenshot(*shot0);
    TOwned<TBitmap> view0 = ViewportPart(*shot0);
    int paints = 0;
    form->PaintBox1->OnPaint = [&](TControl*, TControlPainter&, const TRectF&) { ++paints; };
    const int64_t frames0 = viewport.Diagnostics().TotalFrames;
    const int64_t requests0 = viewport.RenderRequests();
    const float angle0 = form->Dummy1->RotationAngle().Y();

    // Thirty ticks of the rig's timer with no message served in between.
    for (int i = 0; i < 30; ++i) form->Timer1Timer(form->Timer1);
    EXPECT_FLOAT_EQ(form->Dummy1->RotationAngle().Y() - angle0, 30);
    EXPECT_GE(viewport.RenderRequests() - requests0, 30) << "every turn asked for a frame";
    EXPECT_EQ(paints, 0) << "a turn painted the window";
    EXPECT_EQ(viewport.Diagnostics().TotalFrames, frames0);

    ASSERT_TRUE(framesBeyond(frames0));
    EXPECT_GE(paints, 1) << "the frame's tick painted the window";
    // The window's last picture (painted by that tick) shows the plane turned.
    TOwned<TBitmap> shot = MakeOwned<TBitmap>();
    form->Window()->Screenshot(*shot);
    TOwned<TBitmap> view = ViewportPart(*shot);
    ASSERT_GT(CountHues(*view0).Sand, 1000) << "the tick's paint shows the plane";
    EXPECT_GT(CountChangedHues(*view0, *view).Lit(), 1000) << "the plane turned";
    form->PaintBox1->OnPaint = nullptr;
    form->Close();
}

} // namespace
