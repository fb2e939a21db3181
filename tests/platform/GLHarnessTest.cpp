#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

#include "GLTestHarness.h"

using namespace korvane::test;

TEST(GLHarness, ContextIsCompatibilityProfileAndClearsReadBack)
{
    EnsureGLContext();
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    EXPECT_NE(std::string(version).find("Compatibility Profile"), std::string::npos) << version;
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    EXPECT_GE(major * 10 + minor, 43);

    OffscreenFramebuffer fb(4, 4);
    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_TRUE(ImagesMatch(fb.ReadImage(), RgbaImage::Filled(4, 4, {51, 102, 153, 255}), {1, 1.0}, "clear"));
    EXPECT_TRUE(NearColor(fb.ReadPixel(3, 0), {51, 102, 153, 255}, 1));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(GLHarness, FramebufferRestoresPreviousBinding)
{
    EnsureGLContext();
    OffscreenFramebuffer outer(2, 2);
    {
        OffscreenFramebuffer inner(3, 3);
        GLint bound = 0;
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
        EXPECT_EQ(static_cast<GLuint>(bound), inner.Handle());
    }
    GLint bound = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), outer.Handle());
}

// The error net: an invalid call fails the running test with the driver's
// message, and a paused net lets a deliberate error through to glGetError.
TEST(GLHarness, ErrorNetFailsTheTestOnAnInvalidCall)
{
    EnsureGLContext();
    while (glGetError() != GL_NO_ERROR) {
    }
    EXPECT_NONFATAL_FAILURE(glEnable(0xFFFF), "GL_INVALID_ENUM");
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_ENUM));
    EXPECT_NONFATAL_FAILURE(glUseProgram(0x7FFFFFF0u), "glUseProgram");
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_VALUE));
}

TEST(GLHarness, PausedErrorNetLetsADeliberateErrorThrough)
{
    EnsureGLContext();
    {
        GLErrorNetPause pause;
        glEnable(0xFFFF);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_ENUM));
    // The net is back once the pause ends.
    EXPECT_NONFATAL_FAILURE(glEnable(0xFFFF), "glEnable");
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_ENUM));
}
