#include <gtest/gtest.h>

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <string>
#include <vector>

#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Memory.h"
#include "LogCapture.h"
#include "Platform.EGL.h"

using namespace korvane;

namespace {
struct HandlerCall {
    TObject* Sender;
    uint8_t Kind;
    std::string Message;
};
std::vector<HandlerCall> GCalls;
void RecordingHandler(TObject* Sender, uint8_t Kind, const std::string& Message)
{
    GCalls.push_back({Sender, Kind, Message});
}

// A GL context that is not the program's: while it is current, any GL call
// that the context layer makes would land in it.
class SentinelContext {
public:
    SentinelContext()
    {
        FDisplay = platform::EGLDevice::Instance().OpenDisplay();
        eglBindAPI(EGL_OPENGL_API);
        const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
        FContext = eglCreateContext(FDisplay, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
        if (FContext != EGL_NO_CONTEXT) eglMakeCurrent(FDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, FContext);
    }
    ~SentinelContext()
    {
        eglMakeCurrent(FDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (FContext != EGL_NO_CONTEXT) eglDestroyContext(FDisplay, FContext);
    }
    bool Made() const { return FContext != EGL_NO_CONTEXT; }

private:
    EGLDisplay FDisplay;
    EGLContext FContext = EGL_NO_CONTEXT;
};

class ContextCreationFailure : public ::testing::Test {
protected:
    void SetUp() override
    {
        TCustomContextWindows::ResetSharedContextForTesting();
        TCustomContextWindows::SetRequestedVersionForTesting(9, 9);
        GCalls.clear();
        ContextErrorHandler = RecordingHandler;
    }
    void TearDown() override
    {
        ContextErrorHandler = nullptr;
        TCustomContextWindows::SetRequestedVersionForTesting(0, 0);
        TCustomContextWindows::ResetSharedContextForTesting();
    }
};
} // namespace

TEST_F(ContextCreationFailure, IsReportedRaisedAndLeavesTheClassInvalid)
{
    const std::string message = "Failed to initialize context: Could not create the desired OpenGL rendering context!";
    {
        test::LogCapture log;
        try {
            TKorvaneContext::IsContextAvailable();
            FAIL() << "no exception";
        } catch (const EContext3DException&) {
            FAIL() << "an initialisation failure raises the plain exception class";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), message);
        }
        EXPECT_TRUE(log.Contains(std::string("[Initialization Exception]: ") + message));
    }
    ASSERT_EQ(GCalls.size(), 1u);
    EXPECT_EQ(GCalls[0].Kind, 2);
    EXPECT_EQ(GCalls[0].Message, std::string("[Initialization Exception]: ") + message);
    EXPECT_NE(GCalls[0].Sender, nullptr);
    EXPECT_EQ(GCalls[0].Sender, TCustomContextWindows::SharedContext());

    // The sentinel holds a pending error and non-default state: a GL call made
    // by any query below would drain the error or read the sentinel's limits.
    SentinelContext sentinel;
    ASSERT_TRUE(sentinel.Made());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glEnable(0x7FFF); // GL_INVALID_ENUM stays pending

    test::LogCapture log;
    EXPECT_FALSE(TContextOpenGLWindows::ClassInfo().Valid());
    EXPECT_FALSE(TKorvaneContext::IsContextAvailable());
    EXPECT_EQ(TKorvaneContext::GetVersion(), "");
    EXPECT_EQ(TKorvaneContext::GetVendorName(), "");
    EXPECT_EQ(TKorvaneContext::GetExtensionString(), "");
    EXPECT_FALSE(TKorvaneContext::HasAnyErrors());
    intptr_t code = -1;
    EXPECT_FALSE(TKorvaneContext::HasAnyErrors(code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(TKorvaneContext::MaxTextureSize(), 0);
    EXPECT_EQ(TKorvaneContext::MaxTexture3DSize(), 0);
    EXPECT_EQ(TKorvaneContext::MaxTextureImageUnits(), 0);
    EXPECT_EQ(TKorvaneContext::MaxVertexShaderUniformBlocks(), 0);
    EXPECT_EQ(TKorvaneContext::MaxFragmentShaderUniformBlocks(), 0);
    EXPECT_EQ(TKorvaneContext::MaxUniformBlockSize(), 0);
    EXPECT_EQ(TKorvaneContext::MaxDrawBuffers(), 0);
    EXPECT_EQ(TKorvaneContext::PlatformClass().PlatformTextureUnitCount(), 0);
    EXPECT_FALSE(TKorvaneContext::HasExtension("GL_EXT_direct_state_access"));
    EXPECT_FALSE(TKorvaneContext::TextureCompressionAllowed());
    EXPECT_EQ(TKorvaneMemoryManager::GetTotalMemory(), 0);
    TKorvaneContext::SetPixelState(60, 60, 0, 4, 256);
    TKorvaneContext::UnsetPixelState();
    // Answers that need no GL stay as they are.
    EXPECT_EQ(TKorvaneContext::MaxLightCount(), 32);

    TTexture texture;
    texture.SetSize(16, 16);
    try {
        TContextManager::CreateFromTexture(&texture, TMultisample::None, false);
        FAIL() << "a texture context was made without a GL context";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "TKorvaneContext.CreateFromTexture failed - invalid context");
    }

    // No later question tried again.
    EXPECT_EQ(GCalls.size(), 1u);
    EXPECT_TRUE(log.Lines().empty());

    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_ENUM));
}

TEST_F(ContextCreationFailure, WithoutAHandlerItStillLogsAndRaises)
{
    ContextErrorHandler = nullptr;
    test::LogCapture log;
    EXPECT_THROW(TContextOpenGLWindows::ClassInfo().Valid(), Exception);
    EXPECT_TRUE(log.Contains("[Initialization Exception]: Failed to initialize context: "));
    EXPECT_FALSE(TContextOpenGLWindows::ClassInfo().Valid());
}
