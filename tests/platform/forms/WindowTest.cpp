// A form in a real window (under Xvfb when there is no display of one's own):
// its client size, what it presents and clicks from the window system.
// Skipped, not failed, when no X server can be had.

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "FormsTestSupport.h"
#include "Platform.EGL.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// A bitmap the GL context renders: a green frame buffer read back.
void RenderGreen(TBitmap& ABitmap, int AWidth, int AHeight)
{
    GLuint fbo = 0, rb = 0;
    glGenFramebuffers(1, &fbo);
    glGenRenderbuffers(1, &rb);
    glBindRenderbuffer(GL_RENDERBUFFER, rb);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, AWidth, AHeight);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glViewport(0, 0, AWidth, AHeight);
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    ABitmap.SetSize(AWidth, AHeight);
    TBitmapData d;
    if (ABitmap.Map(TMapAccess::Write, d)) {
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, AWidth, AHeight, GL_BGRA, GL_UNSIGNED_BYTE, d.Data);
        ABitmap.Unmap(d);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteRenderbuffers(1, &rb);
    glDeleteFramebuffers(1, &fbo);
}

TEST(Window, AFormShowsInAWindowPresentsGLAndTakesClicks)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X server (DISPLAY is not set)";
    auto& device = platform::EGLDevice::Instance();
    if (device.HasContext() && !device.UsesX11Display())
        GTEST_SKIP() << "this process already made its GL context without a display";
    RegisterFormsTestClasses();
    Application().SetHeadless(false);
    Application().Initialize();
    if (Application().Headless()) GTEST_SKIP() << "no display could be opened";

    auto* f = Application().CreateForm<TTestPanelForm>();
    test::Owned<TBitmap> green(new TBitmap());
    f->Find<TControl>("Area")->OnPaint = [&](TControl*, TControlPainter& P, const TRectF& R) {
        if (green->IsEmpty()) RenderGreen(*green, int(R.Width()), int(R.Height()));
        P.DrawBitmap(R, *green);
    };
    f->Show();
    ASSERT_NE(f->Window(), nullptr);
    for (int i = 0; i < 20; ++i) Application().HandleMessage(10);
    f->PaintNow();

    const unsigned long id = f->Window()->NativeId();
    const std::string info = RunCommand("xwininfo -id " + std::to_string(id));
    if (info.empty()) GTEST_SKIP() << "xwininfo is not there";
    EXPECT_EQ(NumberAfter(info, "Width: "), 1024) << info;
    EXPECT_EQ(NumberAfter(info, "Height: "), 640) << info;

    test::Owned<TBitmap> shot(new TBitmap());
    f->Window()->Screenshot(*shot);
    ASSERT_EQ(shot->Width(), 1024);
    TBitmapData d;
    ASSERT_TRUE(shot->Map(TMapAccess::Read, d));
    EXPECT_EQ(d.GetPixel(2, 80).Value, 0xFF2B2B2Bu);  // the panel
    EXPECT_EQ(d.GetPixel(700, 300).Value, 0xFF00FF00u); // the GL-rendered area
    shot->Unmap(d);

    // A click from the window system on the button.
    std::atomic<bool> done{false};
    std::thread clicker([&] {
        RunCommand("xdotool mousemove --window " + std::to_string(id) + " 160 620 click 1 2>&1");
        done = true;
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (f->Clicks == 0 && std::chrono::steady_clock::now() < until) Application().HandleMessage(20);
    clicker.join();
    if (RunCommand("command -v xdotool").empty()) GTEST_SKIP() << "xdotool is not there";
    EXPECT_EQ(f->Clicks, 1);
    f->Close();
    EXPECT_EQ(f->Window(), nullptr);
}

} // namespace
