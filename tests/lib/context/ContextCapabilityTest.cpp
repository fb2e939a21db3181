#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <memory>
#include <string>

#include "Korvane.Context.GLES.Windows.h"
#include "LogCapture.h"
#include "Platform.EGL.h"
#include "TestHelpers.h"

using namespace korvane;

namespace {
// Each test starts from no shared context, so the first question makes it.
class ContextCapability : public ::testing::Test {
protected:
    void SetUp() override { TCustomContextWindows::ResetSharedContextForTesting(); }
    void TearDown() override { TCustomContextWindows::ResetSharedContextForTesting(); }
};

using ContextPtr = test::Owned<TContext3D>;
} // namespace

TEST_F(ContextCapability, QueriesAnswerOnTheCompatibilityContext)
{
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    EXPECT_TRUE(TContextOpenGLWindows::ClassInfo().Valid());
    EXPECT_TRUE(TKorvaneContextOpenGLES::ClassInfo().Valid());

    const std::string version = TKorvaneContext::GetVersion();
    EXPECT_NE(version.find("Compatibility Profile"), std::string::npos) << version;
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    EXPECT_GE(major * 10 + minor, 43);
    EXPECT_FALSE(TKorvaneContext::GetVendorName().empty());
    EXPECT_FALSE(TKorvaneContext::GetRendererName().empty());
    EXPECT_NE(TKorvaneContext::GetExtensionString().find("GL_ARB_"), std::string::npos);

    EXPECT_EQ(TKorvaneContext::MaxLightCount(), 32);
    EXPECT_EQ(TKorvaneContext::Style(), TContextStyles{TContextStyle::RenderTargetFlipped});
    EXPECT_EQ(TKorvaneContext::GetShaderArch(), TContextShaderArch::GLSL);
    EXPECT_EQ(TKorvaneContext::TextureUnitCount(), 8);
    EXPECT_EQ(TKorvaneContext::PixelFormat(), TPixelFormat::BGRA);

    // The limits are the driver's own.
    auto limit = [](GLenum name) {
        GLint v = 0;
        glGetIntegerv(name, &v);
        return v;
    };
    EXPECT_EQ(TKorvaneContext::MaxTextureSize(), limit(GL_MAX_TEXTURE_SIZE));
    EXPECT_GE(TKorvaneContext::MaxTextureSize(), 1024);
    EXPECT_EQ(TKorvaneContext::MaxTexture3DSize(), limit(GL_MAX_3D_TEXTURE_SIZE));
    EXPECT_EQ(TKorvaneContext::PlatformClass().PlatformTextureUnitCount(),
              limit(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS));
    EXPECT_GE(TKorvaneContext::PlatformClass().PlatformTextureUnitCount(), 16);
    EXPECT_EQ(TKorvaneContext::MaxTextureImageUnits(), limit(GL_MAX_TEXTURE_IMAGE_UNITS));
    EXPECT_EQ(TKorvaneContext::MaxVertexShaderUniformBlocks(), limit(GL_MAX_VERTEX_UNIFORM_BLOCKS));
    EXPECT_EQ(TKorvaneContext::MaxFragmentShaderUniformBlocks(), limit(GL_MAX_FRAGMENT_UNIFORM_BLOCKS));
    EXPECT_EQ(TKorvaneContext::MaxUniformBlockSize(), limit(GL_MAX_UNIFORM_BLOCK_SIZE));
    EXPECT_EQ(TKorvaneContext::MaxDrawBuffers(), limit(GL_MAX_DRAW_BUFFERS));
    EXPECT_EQ(ContextMaxDrawBuffers, limit(GL_MAX_DRAW_BUFFERS));

    // The class functions of the context base answer through the default class too.
    const TContextClass& def = TContextManager::DefaultContextClass();
    EXPECT_EQ(def.MaxLightCount(), 32);
    EXPECT_EQ(def.MaxTextureSize(), TKorvaneContext::MaxTextureSize());
    EXPECT_EQ(def.TextureUnitCount(), 8);

    EXPECT_EQ(TKorvaneContext::DirectStateAccess(), 2000); // Mesa lists GL_EXT_direct_state_access
    EXPECT_TRUE(TKorvaneContext::TextureCompressionAllowed());
    EXPECT_FALSE(TKorvaneContext::HasAnyErrors());
}

TEST_F(ContextCapability, TheContextIsMadeOnceAndLoadedOnce)
{
    test::LogCapture log;
    auto& device = platform::EGLDevice::Instance();
    const int loadsBefore = device.EntryPointLoadCount();
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    EXPECT_EQ(device.EntryPointLoadCount(), loadsBefore + 1);
    TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->WindowNative(), nullptr); // no window handed over: surfaceless
    EXPECT_NE(shared->GLContext(), nullptr);
    EXPECT_EQ(shared->GLContext(), device.Context());

    // The vendor, renderer, version and extension lines were logged bare, once.
    const auto lines = log.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], TKorvaneContext::GetVendorName());
    EXPECT_EQ(lines[1], TKorvaneContext::GetRendererName());
    EXPECT_EQ(lines[2], TKorvaneContext::GetVersion());
    EXPECT_EQ(lines[3], TKorvaneContext::GetExtensionString());
    const size_t logged = log.Lines().size();

    // A mark in the draw-buffer variable shows whether the query runs again.
    const int drawBuffers = ContextMaxDrawBuffers;
    ContextMaxDrawBuffers = -7;
    TWindowHandle window;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(TKorvaneContext::IsContextAvailable());
        EXPECT_TRUE(TContextOpenGLWindows::ClassInfo().Valid());
        TContextOpenGLWindows::ClassInfo().CreateSharedContext();
        EXPECT_GT(TKorvaneContext::MaxTextureSize(), 0);
        ContextPtr c(TContextManager::CreateFromWindow(&window, 64, 32, TMultisample::None, true));
    }
    EXPECT_EQ(TCustomContextWindows::SharedContext(), shared);
    EXPECT_EQ(device.EntryPointLoadCount(), loadsBefore + 1);
    EXPECT_EQ(ContextMaxDrawBuffers, -7);
    EXPECT_EQ(log.Lines().size(), logged);
    ContextMaxDrawBuffers = drawBuffers;
}

TEST_F(ContextCapability, WindowAndTextureContexts)
{
    TWindowHandle window;
    ContextPtr w(TContextManager::CreateFromWindow(&window, 320, 200, TMultisample::FourSamples, true));
    ASSERT_NE(w, nullptr);
    auto* wc = dynamic_cast<TContextOpenGLWindows*>(w.get());
    ASSERT_NE(wc, nullptr);
    EXPECT_EQ(wc->ClassName(), "TContextOpenGLWindows");
    EXPECT_EQ(wc->Width(), 320);
    EXPECT_EQ(wc->Height(), 200);
    EXPECT_TRUE(wc->DepthStencil());
    EXPECT_FLOAT_EQ(wc->NearPlane(), 0.1f);
    EXPECT_FLOAT_EQ(wc->FarPlane(), 10000.0f);
    EXPECT_EQ(wc->Texture(), nullptr);
    // The window context made the shared context; it is not the shared one.
    ASSERT_NE(TCustomContextWindows::SharedContext(), nullptr);
    EXPECT_NE(TCustomContextWindows::SharedContext(), wc);
    EXPECT_EQ(wc->GLContext(), nullptr);

    TTexture texture;
    texture.SetSize(64, 48);
    ContextPtr t(TContextManager::CreateFromTexture(&texture, TMultisample::None, false));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Texture(), &texture);
    EXPECT_EQ(t->Width(), 64);
    EXPECT_EQ(t->Height(), 48);

    // Destroying any platform context marks the shut-down; the shared context lives on.
    EXPECT_FALSE(TCustomContextWindows::ShuttingDown());
    t.reset();
    EXPECT_TRUE(TCustomContextWindows::ShuttingDown());
    EXPECT_TRUE(TKorvaneContext::IsContextAvailable());
}

TEST_F(ContextCapability, NoSharedContextIsMadeAfterShutDownBegan)
{
    // A context object that never made the shared context, destroyed first.
    ContextPtr c(TContextOpenGLWindows::ClassInfo().CreateFromTexture(nullptr, TMultisample::None, false));
    // Creating a texture context asked for validity, which made the shared context.
    ASSERT_NE(TCustomContextWindows::SharedContext(), nullptr);
    TCustomContextWindows::ClassInfo().DestroySharedContext();
    EXPECT_TRUE(TCustomContextWindows::ShuttingDown());
    EXPECT_FALSE(TKorvaneContext::IsContextAvailable());
    EXPECT_EQ(TCustomContextWindows::SharedContext(), nullptr);
    EXPECT_FALSE(TContextOpenGLWindows::ClassInfo().Valid());
    EXPECT_EQ(TKorvaneContext::MaxTextureSize(), 0);
}

TEST_F(ContextCapability, AbstractClassesDoNotAnswer)
{
    EXPECT_THROW(
        {
            try {
                TCustomContextWindows::ClassInfo().Valid();
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message(), "Missing method: TCustomContextWindows.Valid()");
                throw;
            }
        },
        Exception);
    EXPECT_THROW(TKorvaneContext::ClassInfo().PlatformMaxLightCount(), EAbstractError);
    EXPECT_THROW(TKorvaneContext::ClassInfo().CreateFromWindow(nullptr, 1, 1, TMultisample::None, false),
                 EAbstractError);
}

// The pixel store for uploads: alignment and row length per row layout, undone
// by the unset.
TEST_F(ContextCapability, PixelStateFollowsTheRowLayout)
{
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    struct Case {
        int Width, Height, Depth, Bytes, Pitch;
        GLint Alignment, RowLength;
    } cases[] = {
        {64, 64, 0, 4, 256, 1, 0},  // tightly packed rows
        {60, 60, 0, 4, 256, 4, 64}, // padded rows of 4-byte pixels
        {60, 60, 0, 3, 256, 2, 85}, // padded rows of 3-byte pixels: 85 pixels rounded up to 256 bytes
        {60, 60, 0, 3, 240, 1, 80}, // rows of 80 such pixels
        {60, 60, 0, 16, 0, 1, 0},   // no pitch: tightly packed
        {60, 60, 8, 4, 256, 1, 0},  // volume data
    };
    glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Width << "x" << c.Height << " depth " << c.Depth << " bpp " << c.Bytes
                                        << " pitch " << c.Pitch);
        TKorvaneContext::SetPixelState(c.Width, c.Height, c.Depth, c.Bytes, c.Pitch);
        EXPECT_EQ(ClientAttribStackDepth, 1);
        GLint alignment = 0, rowLength = -1;
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
        glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
        EXPECT_EQ(alignment, c.Alignment);
        EXPECT_EQ(rowLength, c.RowLength);
        TKorvaneContext::UnsetPixelState();
        EXPECT_EQ(ClientAttribStackDepth, 0);
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
        glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
        EXPECT_EQ(alignment, 2);
        EXPECT_EQ(rowLength, 7);
    }
    // A pitch that cannot hold a row, or that OpenGL cannot describe, is refused and pushes nothing.
    for (int pitch : {100, 250}) {
        EXPECT_THROW(TKorvaneContext::SetPixelState(60, 60, 0, 4, pitch), Exception) << pitch;
        EXPECT_EQ(ClientAttribStackDepth, 0);
    }
    // Nothing pushed: the unset pops nothing.
    TKorvaneContext::UnsetPixelState();
    EXPECT_FALSE(TKorvaneContext::HasAnyErrors());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}
