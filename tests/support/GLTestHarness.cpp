#include "GLTestHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Platform.EGL.h"
#include "Platform.SysUtils.h"

namespace korvane::test {

void EnsureGLContext()
{
    platform::EGLDevice::Instance().CreateContext();
}

namespace {
std::atomic<int> GNetPauses{0};

void GLAPIENTRY OnGLDebugMessage(GLenum, GLenum AType, GLuint AId, GLenum, GLsizei ALength, const GLchar* AMessage,
                                 const void*)
{
    if (AType != GL_DEBUG_TYPE_ERROR || GNetPauses.load() > 0) return;
    const std::string text = ALength >= 0 ? std::string(AMessage, static_cast<size_t>(ALength)) : std::string(AMessage);
    ADD_FAILURE() << "OpenGL error reported by the driver (message " << AId << "): " << text;
}

// Sends the current context's debug messages to OnGLDebugMessage, on the
// thread and at the moment of the call that caused them.
void InstallOnCurrentContext()
{
    if (!platform::EGLDevice::HasCurrentContext() || !epoxy_is_desktop_gl()) return;
    if (epoxy_gl_version() < 43 && !epoxy_has_gl_extension("GL_KHR_debug")) return;
    glEnable(GL_DEBUG_OUTPUT);
    glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
    glDebugMessageControl(GL_DONT_CARE, GL_DEBUG_TYPE_ERROR, GL_DONT_CARE, 0, nullptr, GL_TRUE);
    glDebugMessageCallback(OnGLDebugMessage, nullptr);
}
} // namespace

void InstallGLErrorNet()
{
    platform::EGLDevice::Instance().SetContextCreatedHook(InstallOnCurrentContext);
    InstallOnCurrentContext();
}

GLErrorNetPause::GLErrorNetPause() { ++GNetPauses; }
GLErrorNetPause::~GLErrorNetPause() { --GNetPauses; }

void LeaveGLErrorPending()
{
    GLErrorNetPause pause;
    glEnable(0x7FFF); // no such capability
}

OffscreenFramebuffer::OffscreenFramebuffer(int width, int height) : FWidth(width), FHeight(height)
{
    EnsureGLContext();
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &FPrevDraw);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &FPrevRead);
    glGetIntegerv(GL_VIEWPORT, FPrevViewport);
    glGenFramebuffers(1, &FFramebuffer);
    glGenRenderbuffers(1, &FColor);
    glBindRenderbuffer(GL_RENDERBUFFER, FColor);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glGenRenderbuffers(1, &FDepth);
    glBindRenderbuffer(GL_RENDERBUFFER, FDepth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, FFramebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, FColor);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, FDepth);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        throw Exception("test frame buffer is incomplete");
    Bind();
}

OffscreenFramebuffer::~OffscreenFramebuffer()
{
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(FPrevDraw));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(FPrevRead));
    glViewport(FPrevViewport[0], FPrevViewport[1], FPrevViewport[2], FPrevViewport[3]);
    glDeleteRenderbuffers(1, &FColor);
    glDeleteRenderbuffers(1, &FDepth);
    glDeleteFramebuffers(1, &FFramebuffer);
}

void OffscreenFramebuffer::Bind()
{
    glBindFramebuffer(GL_FRAMEBUFFER, FFramebuffer);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glViewport(0, 0, FWidth, FHeight);
}

void OffscreenFramebuffer::ReadRect(int x, int y, int width, int height, uint8_t* pixels)
{
    GLint prev = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &prev);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, FFramebuffer);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(prev));
}

std::array<uint8_t, 4> OffscreenFramebuffer::ReadPixel(int x, int y)
{
    std::array<uint8_t, 4> p{};
    ReadRect(x, y, 1, 1, p.data());
    return p;
}

std::vector<uint8_t> OffscreenFramebuffer::ReadAll()
{
    std::vector<uint8_t> pixels(static_cast<size_t>(FWidth) * static_cast<size_t>(FHeight) * 4);
    ReadRect(0, 0, FWidth, FHeight, pixels.data());
    return pixels;
}

RgbaImage OffscreenFramebuffer::ReadImage()
{
    const std::vector<uint8_t> bottomUp = ReadAll();
    const size_t row = static_cast<size_t>(FWidth) * 4;
    std::vector<uint8_t> topDown(bottomUp.size());
    for (size_t y = 0; y < static_cast<size_t>(FHeight); ++y)
        std::copy_n(bottomUp.data() + (static_cast<size_t>(FHeight) - 1 - y) * row, row, topDown.data() + y * row);
    return RgbaImage(FWidth, FHeight, std::move(topDown));
}

bool NearColor(const std::array<uint8_t, 4>& a, const std::array<uint8_t, 4>& b, int tolerance)
{
    for (size_t i = 0; i < 4; ++i)
        if (std::abs(int(a[i]) - int(b[i])) > tolerance) return false;
    return true;
}

} // namespace korvane::test
