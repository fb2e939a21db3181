#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Context.Texturing.OpenGL.h"
#include "LogCapture.h"
#include "Platform.IOUtils.h"
#include "TextureTestSupport.h"

using namespace korvane;
using test::Owned;

namespace {
class TextureContext : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::EnsureProgramContext();
        ClearGLErrors();
    }
    void TearDown() override
    {
        GLint bound = -1;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
        EXPECT_EQ(bound, 0) << "a frame buffer stayed bound";
        EXPECT_EQ(ClearGLErrors(), 0u) << "an operation left an OpenGL error behind";
    }

    // The viewport's road: an offscreen texture and a texture context on it.
    static Owned<TKorvaneContext> ContextOn(TTexture& ATexture, bool ADepthStencil)
    {
        TContext3D* c = TContextManager::CreateFromTexture(&ATexture, TMultisample::None, ADepthStencil);
        auto* k = dynamic_cast<TKorvaneContext*>(c);
        EXPECT_NE(k, nullptr);
        return Owned<TKorvaneContext>(k);
    }
    static void RenderTarget(TTexture& ATexture, int AWidth, int AHeight)
    {
        ATexture.SetSize(AWidth, AHeight);
        ATexture.SetStyle({TTextureStyle::RenderTarget});
    }
};

constexpr uint8_t RedBGRA[4] = {0, 0, 255, 255};
constexpr uint8_t GreenBGRA[4] = {0, 255, 0, 255};

// Renders a frame as the viewport does, inside a scene: the whole frame red,
// then its lower half (in OpenGL's rows) green.
void ClearTwoColours(TKorvaneContext& AContext)
{
    ASSERT_TRUE(AContext.BeginScene());
    // The scene renders into the context's own frame buffer, at its size.
    EXPECT_EQ(AContext.GetCurrentlyBoundBuffer(), AContext.DefaultFrameBuf());
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], AContext.Width());
    EXPECT_EQ(viewport[3], AContext.Height());
    AContext.Clear({TClearTarget::Color, TClearTarget::Depth}, TAlphaColors::Red, 1.0f, 0);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, AContext.Width(), AContext.Height() / 2);
    AContext.Clear({TClearTarget::Color}, TAlphaColors::Lime, 1.0f, 0);
    glDisable(GL_SCISSOR_TEST);
    AContext.EndScene();
    EXPECT_EQ(AContext.GetCurrentlyBoundBuffer(), nullptr);
}
} // namespace

TEST_F(TextureContext, ATextureContextGetsItsFrameBuffers)
{
    TTexture texture;
    RenderTarget(texture, 16, 8);
    auto context = ContextOn(texture, true);
    EXPECT_EQ(context->ClassName(), "TContextOpenGLWindows");
    EXPECT_NE(texture.Handle(), 0u);
    TFrameBufferObject* frame = context->DefaultFrameBuf();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Size(), TSize(16, 8));
    EXPECT_EQ(frame->GetTextureByRenderTarget(TRenderTarget::Color_0), &texture);
    EXPECT_NE(frame->DepthBuffer(), 0u);
    EXPECT_EQ(context->GetDefaultTexture(), &texture);
    ASSERT_NE(context->TranslucentBuf(), nullptr);
    EXPECT_EQ(context->TranslucentBuf()->TextureMap()->Count(), 0);
    EXPECT_EQ(context->DefaultMSFrameBuf(), nullptr);

    EXPECT_EQ(context->GetCurrentTexture(), &texture);
    context->BindDefaultBuffer();
    EXPECT_EQ(context->GetCurrentlyBoundBuffer(), frame);
    EXPECT_TRUE(frame->CheckStatus());
    GLint type = 0, depthBits = 0, stencilBits = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &type);
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                          GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE, &depthBits);
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT,
                                          GL_FRAMEBUFFER_ATTACHMENT_STENCIL_SIZE, &stencilBits);
    EXPECT_EQ(type, GL_RENDERBUFFER);
    EXPECT_EQ(depthBits, 24);
    EXPECT_EQ(stencilBits, 8);
    context->UnbindDefaultBuffer();

    // The translucent frame buffer draws into a texture of its own over the same depth.
    Owned<TKorvaneTexture> accumulation(TKorvaneTexture::Create());
    accumulation->SetSize(16, 8);
    context->AttachTextureToTranslucentBuffer(accumulation.get(), TRenderTarget::Color_0);
    EXPECT_NE(accumulation->Handle(), 0u);
    context->LinkDepthBufferToTranslucentBuffer();
    context->TranslucentBuf()->Bind(context.get());
    EXPECT_TRUE(context->TranslucentBuf()->CheckStatus());
    GLint shared = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                          &shared);
    EXPECT_EQ(GLuint(shared), frame->DepthBuffer());
    context->TranslucentBuf()->Unbind(context.get());

    // Without depth and stencil: no depth buffer.
    TTexture flat;
    RenderTarget(flat, 4, 4);
    auto plain = ContextOn(flat, false);
    ASSERT_NE(plain->DefaultFrameBuf(), nullptr);
    EXPECT_EQ(plain->DefaultFrameBuf()->DepthBuffer(), 0u);
}

// What the viewport does with a frame: copy it into memory, top row first.
TEST_F(TextureContext, AFrameIsCopiedAsBGRARowsTopRowFirst)
{
    TTexture texture;
    RenderTarget(texture, 16, 8);
    auto context = ContextOn(texture, true);
    ClearTwoColours(*context);

    const int pitch = 16 * 4 + 8; // padded rows: the padding stays untouched
    std::vector<uint8_t> bits(size_t(pitch) * 8, 0xAB);
    ASSERT_TRUE(context->CopyToBits(bits.data(), pitch, TRect(0, 0, 16, 8)));
    for (int row = 0; row < 8; ++row) {
        const uint8_t* expected = row < 4 ? RedBGRA : GreenBGRA;
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(std::memcmp(&bits[size_t(row) * pitch + x * 4], expected, 4), 0) << "row " << row << " x " << x;
        for (int pad = 64; pad < pitch; ++pad) ASSERT_EQ(bits[size_t(row) * pitch + pad], 0xAB);
    }
    EXPECT_EQ(ReadBackBufferSize(), 16 * 8 * 4);
    EXPECT_EQ(context->GetCurrentlyBoundBuffer(), nullptr);

    // Into a bitmap of the frame's size.
    TBitmap bitmap(16, 8);
    ASSERT_TRUE(context->CopyToBitmap(&bitmap, TRect(0, 0, 16, 8)));
    TBitmapData data;
    ASSERT_TRUE(bitmap.Map(TMapAccess::Read, data));
    EXPECT_EQ(data.GetPixel(0, 0), TAlphaColors::Red);
    EXPECT_EQ(data.GetPixel(15, 7), TAlphaColors::Lime);
    bitmap.Unmap(data);
    TBitmap small(8, 8);
    EXPECT_THROW(context->CopyToBitmap(&small, TRect(0, 0, 16, 8)), EInvalidOperation);
}

// A failed copy is only logged, and the caller learns that nothing was copied.
TEST_F(TextureContext, AFailedCopyAnswersFalse)
{
    TTexture texture;
    RenderTarget(texture, 16, 8);
    auto context = ContextOn(texture, false);
    ClearTwoColours(*context);
    std::vector<uint8_t> bits(16 * 8 * 4, 0xAB);

    test::LogCapture log;
    EXPECT_FALSE(context->CopyToBits(bits.data(), 16 * 4, TRect(0, 0, 8, 8)));
    EXPECT_EQ(log.Lines(), std::vector<std::string>{
                               "TKorvaneContextOpenGLES.DoCopyToBits: context default framebuffer size is not equal "
                               "to destination render size: width=16<>8, height=8<>8"});
    EXPECT_FALSE(context->CopyToBits(bits.data(), 16 * 4 - 1, TRect(0, 0, 16, 8)));
    EXPECT_FALSE(context->CopyToBits(nullptr, 16 * 4, TRect(0, 0, 16, 8)));
    for (uint8_t b : bits) ASSERT_EQ(b, 0xAB);

    // Not fresh: the bitmap is unchanged and not reported as changed.
    TBitmap bitmap(16, 8);
    bitmap.Clear(TAlphaColors::Blue);
    int changes = 0;
    bitmap.OnChange = [&](TObject*) { ++changes; };
    EXPECT_FALSE(context->CopyToBitmap(&bitmap, TRect(0, 0, 16, 4)));
    EXPECT_EQ(changes, 0);

    // A window context has no frame of its own to copy.
    Owned<TContext3D> window(TContextManager::CreateFromWindow(nullptr, 16, 8, TMultisample::None, false));
    EXPECT_FALSE(window->CopyToBits(bits.data(), 16 * 4, TRect(0, 0, 16, 8)));
}

TEST_F(TextureContext, AFailedTextureInitialisationWritesTheDiagnosticFile)
{
    const auto folder = std::filesystem::temp_directory_path() /
                        ("korvane-diagnostics-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(folder);
    const auto file = folder / "korvane3d.context.log";
    std::filesystem::remove(file);
    TPath::SetPublicPath(folder.string());

    // A texture without a pixel format is not made, and nothing is written.
    TTexture none;
    none.SetSize(4, 4);
    none.SetPixelFormat(TPixelFormat::None);
    none.Initialize();
    EXPECT_EQ(none.Handle(), 0u);
    EXPECT_FALSE(std::filesystem::exists(file));

    // Wider than the device allows.
    Owned<TKorvaneTexture> tooWide(TKorvaneTexture::Create());
    tooWide->SetSize(TKorvaneContext::MaxTextureSize() + 1, 1);
    std::string message;
    try {
        test::GLErrorNetPause pause; // the failure under test is OpenGL's own
        tooWide->Initialize();
        ADD_FAILURE() << "the texture was made";
    } catch (const EContext3DException& e) {
        message = e.Message();
    }
    EXPECT_EQ(message, "Cannot create texture: TContextOpenGLWindows (Error = 1281) internal-format=RGBA8, "
                       "format=BGRA, type=UnsignedByte");
    EXPECT_EQ(tooWide->Handle(), 0u);

    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    std::stringstream text;
    text << in.rdbuf();
    const std::string expected = Format(
        "Error: %s\r\nVendor-Name: %s\r\nRenderer-Name: %s\r\nVersion: %s\r\nExtensions: %s\r\nMaxTextureSize: "
        "%d\r\nMaxTexture3DSize: %d\r\nTextureUnitCount: %d\r\nMaxTextureImageUnits: %d\r\n"
        "MaxVertexShaderUniformBlocks: %d\r\nMaxFragmentShaderUniformBlocks: %d\r\nMaxUniformBlockSize: "
        "%d\r\nMaxDrawBuffers: %d\r\n",
        message, TKorvaneContext::GetVendorName(), TKorvaneContext::GetRendererName(), TKorvaneContext::GetVersion(),
        TKorvaneContext::GetExtensionString(), TKorvaneContext::MaxTextureSize(), TKorvaneContext::MaxTexture3DSize(),
        TKorvaneContext::PlatformClass().PlatformTextureUnitCount(), TKorvaneContext::MaxTextureImageUnits(),
        TKorvaneContext::MaxVertexShaderUniformBlocks(), TKorvaneContext::MaxFragmentShaderUniformBlocks(),
        TKorvaneContext::MaxUniformBlockSize(), TKorvaneContext::MaxDrawBuffers());
    EXPECT_EQ(text.str(), expected);
    EXPECT_NE(text.str().find("\r\nMaxTextureSize: " + std::to_string(TKorvaneContext::MaxTextureSize()) + "\r\n"),
              std::string::npos);

    TPath::SetPublicPath("");
    std::filesystem::remove_all(folder);
}

TEST_F(TextureContext, FiltersFollowTheFormatAndTheStyles)
{
    auto filters = [](TTexture& t) {
        GLint previous = 0, minFilter = 0, magFilter = 0, maxLevel = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
        glBindTexture(GL_TEXTURE_2D, GLuint(t.Handle()));
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, &maxLevel);
        glBindTexture(GL_TEXTURE_2D, GLuint(previous));
        return std::array<GLint, 3>{minFilter, magFilter, maxLevel};
    };
    Owned<TKorvaneTexture> integer(TKorvaneTexture::Create());
    integer->SetSize(4, 4);
    integer->Components = TPixelFormatEx::R32UI;
    integer->SetFormat(TPixelFormatEx::RedInteger);
    integer->DataType = TKorvaneTextureDataType::dtUnsignedInt;
    integer->Initialize();
    EXPECT_EQ(filters(*integer), (std::array<GLint, 3>{GL_NEAREST, GL_NEAREST, 1000}));

    Owned<TKorvaneTexture> mipMapped(TKorvaneTexture::Create());
    mipMapped->SetSize(4, 4);
    mipMapped->StyleEx = {TTextureStyle::MipMaps};
    mipMapped->SetMagFilter(TTextureFilter::Nearest);
    mipMapped->Initialize();
    EXPECT_EQ(filters(*mipMapped), (std::array<GLint, 3>{GL_LINEAR_MIPMAP_LINEAR, GL_NEAREST, 16}));

    // A render target gets no mip-maps.
    Owned<TKorvaneTexture> target(TKorvaneTexture::Create());
    target->SetSize(4, 4);
    target->StyleEx = {TTextureStyle::MipMaps, TTextureStyle::RenderTarget};
    target->SetMinFilter(TTextureFilter::Nearest);
    target->Initialize();
    EXPECT_EQ(filters(*target), (std::array<GLint, 3>{GL_NEAREST, GL_LINEAR, 1000}));

    // Finalising deletes the texture and forgets its name.
    const GLuint name = GLuint(target->Handle());
    EXPECT_TRUE(glIsTexture(name));
    target->Finalize();
    EXPECT_EQ(target->Handle(), 0u);
    EXPECT_FALSE(glIsTexture(name));
}

// An upload never reads more of a texture's pixel buffer than the buffer holds.
TEST_F(TextureContext, UploadsStayInsideThePixelBuffer)
{
    Owned<TKorvaneTextureBitmap> bitmap(TKorvaneTextureBitmap::Create());
    bitmap->BeginSetup();
    bitmap->SetSize(2, 2);
    bitmap->SetFormat(TPixelFormatEx::RG);
    bitmap->SetComponents(TPixelFormatEx::RG32F);
    bitmap->SetDataType(TKorvaneTextureDataType::dtFloat);
    bitmap->EndSetup();
    ASSERT_EQ(bitmap->BufferSize(), 32);
    Owned<TKorvaneTexture> texture(TKorvaneTexture::Create());
    texture->Assign(bitmap.get());
    ASSERT_NE(texture->Handle(), 0u);
    // The texture grows, the bitmap's buffer does not.
    texture->SetSize(4, 4);
    try {
        texture->UpdateTexture(nullptr, 0);
        ADD_FAILURE() << "a 4 x 4 texture was filled from 32 bytes";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "TContextOpenGLWindows.DoUpdateTexture: the pixel buffer holds 32 bytes, the texture "
                               "needs 128");
    }
}

namespace {
GLint RenderbufferSize(GLuint ABuffer, GLenum AWhat)
{
    GLint value = 0;
    glGetNamedRenderbufferParameteriv(ABuffer, AWhat, &value);
    return value;
}
} // namespace

TEST_F(TextureContext, AResizedContextKeepsRenderingIntoItsTextureAtTheNewSize)
{
    TTexture texture;
    RenderTarget(texture, 16, 8);
    auto context = ContextOn(texture, true);
    Owned<TKorvaneTexture> accumulation(TKorvaneTexture::Create());
    accumulation->SetSize(16, 8);
    context->AttachTextureToTranslucentBuffer(accumulation.get(), TRenderTarget::Color_0);
    context->LinkDepthBufferToTranslucentBuffer();

    context->SetSize(24, 12);
    TFrameBufferObject* frame = context->DefaultFrameBuf();
    EXPECT_EQ(frame->GetTextureByRenderTarget(TRenderTarget::Color_0), &texture);
    EXPECT_EQ(frame->Size(), TSize(24, 12));
    EXPECT_EQ(texture.Width(), 24);
    EXPECT_EQ(texture.Height(), 12);
    EXPECT_EQ(frame->ColorBuffer(), 0u) << "no colour render buffer may take the texture's place";
    const GLuint depth = frame->DepthBuffer();
    ASSERT_NE(depth, 0u);
    EXPECT_EQ(RenderbufferSize(depth, GL_RENDERBUFFER_WIDTH), 24);
    EXPECT_EQ(RenderbufferSize(depth, GL_RENDERBUFFER_HEIGHT), 12);
    // The translucent buffer shares the new depth buffer, not the freed one.
    context->TranslucentBuf()->Bind(context.get());
    GLint shared = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                          &shared);
    context->TranslucentBuf()->Unbind(context.get());
    EXPECT_EQ(GLuint(shared), depth);

    // A frame drawn now covers the whole new size.
    ClearTwoColours(*context);
    std::vector<uint8_t> bits(24 * 12 * 4, 0);
    ASSERT_TRUE(context->CopyToBits(bits.data(), 24 * 4, TRect(0, 0, 24, 12)));
    auto pixel = [&](int x, int y) { return std::vector<uint8_t>(&bits[(y * 24 + x) * 4], &bits[(y * 24 + x) * 4 + 4]); };
    const std::vector<uint8_t> red(RedBGRA, RedBGRA + 4), green(GreenBGRA, GreenBGRA + 4);
    // Rows come top first: the upper half is red, the lower half green, up to the last column.
    EXPECT_EQ(pixel(0, 0), red);
    EXPECT_EQ(pixel(23, 0), red);
    EXPECT_EQ(pixel(23, 5), red);
    EXPECT_EQ(pixel(0, 11), green);
    EXPECT_EQ(pixel(23, 11), green);
    EXPECT_EQ(pixel(23, 6), green);
}
