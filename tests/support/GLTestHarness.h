#pragma once
// One surfaceless OpenGL context per test process and an offscreen frame
// buffer to render into and read back from.

#include <epoxy/gl.h>

#include <array>
#include <cstdint>
#include <vector>

#include "ImageCompare.h"

namespace korvane::test {

// Makes the process's OpenGL context current, creating it on first use.
void EnsureGLContext();

// The GL error net: every context made from now on (and the current one, if
// any) reports its KHR_debug messages synchronously, and an error-type message
// fails the running test with the message's text. The test main installs it.
void InstallGLErrorNet();

// Switches the GL error net off while alive, for tests that provoke GL errors
// on purpose (to test how the framework reports them). Nests.
class GLErrorNetPause {
public:
    GLErrorNetPause();
    ~GLErrorNetPause();
    GLErrorNetPause(const GLErrorNetPause&) = delete;
    GLErrorNetPause& operator=(const GLErrorNetPause&) = delete;
};

// Leaves GL_INVALID_ENUM pending, as a careless earlier call would, without
// tripping the error net (for tests of how the framework drains errors).
void LeaveGLErrorPending();

// RGBA8 colour (and depth/stencil) frame buffer bound for drawing while alive;
// the previous draw/read bindings and viewport come back on destruction.
class OffscreenFramebuffer {
public:
    OffscreenFramebuffer(int width, int height);
    ~OffscreenFramebuffer();
    OffscreenFramebuffer(const OffscreenFramebuffer&) = delete;
    OffscreenFramebuffer& operator=(const OffscreenFramebuffer&) = delete;

    void Bind();
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    GLuint Handle() const { return FFramebuffer; }

    // Pixel (x, y) with y counted from the bottom row, as GL stores it.
    std::array<uint8_t, 4> ReadPixel(int x, int y);
    // All pixels, RGBA, rows bottom first.
    std::vector<uint8_t> ReadAll();
    // All pixels as an image, top row first (as it is seen and written to files).
    RgbaImage ReadImage();

private:
    // RGBA pixels of a rectangle, rows bottom first; the read binding comes back afterwards.
    void ReadRect(int x, int y, int width, int height, uint8_t* pixels);

    int FWidth, FHeight;
    GLuint FFramebuffer = 0, FColor = 0, FDepth = 0;
    GLint FPrevDraw = 0, FPrevRead = 0;
    GLint FPrevViewport[4] = {0, 0, 0, 0};
};

// True when every channel of a is within tolerance of b.
bool NearColor(const std::array<uint8_t, 4>& a, const std::array<uint8_t, 4>& b, int tolerance = 2);

} // namespace korvane::test
