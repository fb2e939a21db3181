#include <gtest/gtest.h>

#include "Korvane.Context.FrameBuffers.OpenGL.h"
#include "Korvane.Context.Texturing.OpenGL.h"
#include "LogCapture.h"
#include "TextureTestSupport.h"

using namespace korvane;
using test::Owned;
using RT = TRenderTarget;

namespace {
class FrameBuffers : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::EnsureProgramContext();
        ClearGLErrors();
        // A framework context to keep the stack of bound frame buffers.
        FContext.reset(TContextManager::CreateFromWindow(nullptr, 16, 16, TMultisample::None, false));
        FKorvane = dynamic_cast<TKorvaneContext*>(FContext.get());
        ASSERT_NE(FKorvane, nullptr);
    }
    void TearDown() override
    {
        EXPECT_EQ(BoundFrameBuffer(), 0) << "a frame buffer stayed bound";
        EXPECT_EQ(ClearGLErrors(), 0u) << "an operation left an OpenGL error behind";
    }

    static GLint BoundFrameBuffer()
    {
        GLint bound = -1;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
        return bound;
    }
    Owned<TFrameBufferObject> NewFrameBuffer()
    {
        return Owned<TFrameBufferObject>(FrameBufferObjectClass->Create(FContext.get(), false, TMultisample::None));
    }
    // A colour texture with its GPU storage.
    static Owned<TKorvaneTexture> ColourTexture(int AWidth = 8, int AHeight = 8)
    {
        Owned<TKorvaneTexture> t(TKorvaneTexture::Create());
        t->SetSize(AWidth, AHeight);
        t->SetStyle({TTextureStyle::RenderTarget});
        t->Initialize();
        return t;
    }
    static GLint AttachmentParameter(GLenum AAttachment, GLenum AName)
    {
        GLint value = -1;
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, AAttachment, AName, &value);
        return value;
    }

    Owned<TContext3D> FContext;
    TKorvaneContext* FKorvane = nullptr;
};
} // namespace

TEST_F(FrameBuffers, TheOpenGLClassesAreInstalled)
{
    auto fbo = NewFrameBuffer();
    EXPECT_EQ(fbo->ClassName(), "TOpenGLFrameBufferObject");
    EXPECT_EQ(fbo->TextureMap()->ClassName(), "TOpenGLFBOTextureMap");
    EXPECT_NE(fbo->Handle(), 0u);
    EXPECT_EQ(fbo->Context(), FContext.get());
    EXPECT_EQ(fbo->RenderTargetToValue(RT::Color_0), static_cast<uint32_t>(GL_COLOR_ATTACHMENT0));
    EXPECT_EQ(fbo->RenderTargetToValue(RT::Depth), static_cast<uint32_t>(GL_DEPTH_ATTACHMENT));
    EXPECT_EQ(fbo->RenderTargetToValue(RT::Stencil), static_cast<uint32_t>(GL_STENCIL_ATTACHMENT));
    EXPECT_EQ(fbo->RenderTargetToValue(RT::Color_15), static_cast<uint32_t>(GL_COLOR_ATTACHMENT15));
    Owned<TFrameBufferObject> ms(FrameBufferObjectClass->Create(FContext.get(), true, TMultisample::FourSamples));
    EXPECT_TRUE(ms->IsMultisampleBuffer());
    EXPECT_EQ(ms->Samples(), 4);
    // Each GL object carries its class and role for debuggers.
    auto label = [](GLenum AIdentifier, GLuint AName) {
        char text[128] = {};
        GLsizei length = 0;
        glGetObjectLabel(AIdentifier, AName, sizeof(text), &length, text);
        return std::string(text, static_cast<size_t>(length));
    };
    EXPECT_EQ(label(GL_FRAMEBUFFER, fbo->Handle()), "TOpenGLFrameBufferObject.Frame");
    EXPECT_EQ(label(GL_FRAMEBUFFER, ms->Handle()), "TOpenGLFrameBufferObject.MultisampleFrame");
    ms->CreateDepthBuffer(4, 4);
    EXPECT_EQ(label(GL_RENDERBUFFER, ms->DepthBuffer()), "TOpenGLFrameBufferObject.Depth");
    ms->CreateRenderBuffer(4, 4);
    EXPECT_EQ(label(GL_RENDERBUFFER, ms->ColorBuffer()), "TOpenGLFrameBufferObject.Color");

    // The frame buffer exists from its creation (it carries its label), and
    // freeing deletes it.
    const GLuint name = fbo->Handle();
    EXPECT_TRUE(glIsFramebuffer(name));
    fbo->Bind(FContext.get());
    fbo->Unbind(FContext.get());
    EXPECT_TRUE(glIsFramebuffer(name));
    fbo.reset();
    EXPECT_FALSE(glIsFramebuffer(name));
}

TEST_F(FrameBuffers, AttachmentsBeyondTheDevicesColourAttachmentsAreRefused)
{
    GLint maxAttachments = 0;
    glGetIntegerv(GL_MAX_COLOR_ATTACHMENTS, &maxAttachments);
    ASSERT_GE(maxAttachments, 1);
    ASSERT_LE(maxAttachments, 15) << "the device has every attachment; nothing to refuse";
    const auto beyond = static_cast<RT>(static_cast<int>(RT::Color_1) + maxAttachments - 1); // Color_<max>
    auto fbo = NewFrameBuffer();
    auto texture = ColourTexture();
    try {
        fbo->AttachTexture(FContext.get(), texture.get(), beyond);
        ADD_FAILURE() << "attached beyond " << maxAttachments << " attachments";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "failed to attach texture to FBO - not enough attachments available");
    }
    EXPECT_EQ(fbo->TextureMap()->Count(), 0);
    EXPECT_EQ(FKorvane->GetCurrentlyBoundBuffer(), nullptr);

    // The last one there is, and the same texture twice, attach once each.
    const auto last = static_cast<RT>(static_cast<int>(beyond) - 1);
    fbo->AttachTexture(FContext.get(), texture.get(), last);
    fbo->AttachTexture(FContext.get(), texture.get(), last);
    EXPECT_EQ(fbo->TextureMap()->Count(), 1);
    EXPECT_EQ(fbo->GetTextureByRenderTarget(last), texture.get());
    EXPECT_EQ(fbo->Size(), TSize(8, 8));
}

TEST_F(FrameBuffers, UnbindingGoesBackToTheFrameBufferBelow)
{
    auto a = NewFrameBuffer();
    auto b = NewFrameBuffer();
    a->Bind(FContext.get());
    b->Bind(FContext.get());
    EXPECT_EQ(BoundFrameBuffer(), GLint(b->Handle()));
    EXPECT_EQ(FKorvane->GetCurrentlyBoundBuffer(), b.get());
    b->Unbind(FContext.get());
    EXPECT_EQ(BoundFrameBuffer(), GLint(a->Handle()));
    EXPECT_EQ(FKorvane->GetCurrentlyBoundBuffer(), a.get());
    a->Unbind(FContext.get());
    EXPECT_EQ(BoundFrameBuffer(), 0);
    EXPECT_EQ(FKorvane->GetCurrentlyBoundBuffer(), nullptr);
    EXPECT_EQ(FKorvane->PopFBO(), nullptr);

    // Without a framework context nothing is stacked and unbinding binds 0.
    a->Bind(FContext.get());
    b->Bind(nullptr);
    EXPECT_EQ(BoundFrameBuffer(), GLint(b->Handle()));
    EXPECT_EQ(FKorvane->GetCurrentlyBoundBuffer(), a.get());
    b->Unbind(nullptr);
    EXPECT_EQ(BoundFrameBuffer(), 0);
    a->Unbind(FContext.get());
}

TEST_F(FrameBuffers, CompletenessIsCheckedWithTheReason)
{
    auto fbo = NewFrameBuffer();
    // Nothing attached: incomplete, but no failure.
    fbo->Bind(FContext.get());
    EXPECT_FALSE(fbo->CheckStatus());
    fbo->Unbind(FContext.get());

    // A depth texture is no colour image.
    Owned<TKorvaneTexture> depth(TKorvaneTexture::Create());
    depth->SetSize(8, 8);
    depth->Components = TPixelFormatEx::Depth24;
    depth->SetFormat(TPixelFormatEx::Depth);
    depth->DataType = TKorvaneTextureDataType::dtUnsignedInt;
    try {
        fbo->AttachTexture(FContext.get(), depth.get(), RT::Color_0);
        ADD_FAILURE() << "a depth image was taken as colour";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(),
                  Format("error #%d: failed to use framebuffer-object #%d\r\nNot all framebuffer attachment points "
                         "are framebuffer attachment complete. This means that at least one attachment point with a "
                         "renderbuffer or texture attached has its attached object no longer in existence or has an "
                         "attached image with a width or height of zero, or the color attachment point has a "
                         "non-color-renderable image attached, or the depth attachment point has a "
                         "non-depth-renderable image attached, or the stencil attachment point has a "
                         "non-stencil-renderable image attached.",
                         GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT, fbo->Handle()));
    }
    EXPECT_NE(depth->Handle(), 0u); // made through the context on the way
    EXPECT_EQ(FKorvane->GetCurrentlyBoundBuffer(), nullptr);

    // Taken off again, the frame buffer is empty and quietly incomplete.
    fbo->Reset();
    EXPECT_EQ(fbo->TextureMap()->Count(), 0);
    fbo->Bind(FContext.get());
    EXPECT_EQ(AttachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE), GL_NONE);
    EXPECT_FALSE(fbo->CheckStatus());
    fbo->Unbind(FContext.get());
    fbo->Reset(); // nothing attached: nothing to do
}

TEST_F(FrameBuffers, CubeMapTexturesAttachTheirFace)
{
    Owned<TKorvaneTextureBitmap> cube(TKorvaneTextureBitmap::Create(8, 8));
    cube->SetKind(TKorvaneTextureKind::CubeMap);
    TKorvaneTexture* texture = cube->KorvaneTexture();
    ASSERT_EQ(texture->Kind, TKorvaneTextureKind::CubeMap);
    texture->AttachedCubeMapFace = TKorvaneCubeMapFace::NegativeY;
    test::DistinctBindings distinct;
    const auto before = test::TextureBindings::Read();
    auto fbo = NewFrameBuffer();
    fbo->AttachTexture(FContext.get(), texture, RT::Color_0);
    EXPECT_EQ(test::TextureBindings::Read(), before);
    fbo->Bind(FContext.get());
    EXPECT_EQ(AttachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_TEXTURE_CUBE_MAP_FACE),
              GL_TEXTURE_CUBE_MAP_NEGATIVE_Y);
    EXPECT_EQ(AttachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME),
              GLint(texture->Handle()));
    fbo->Unbind(FContext.get());
    fbo->DetachTexture(texture);
    EXPECT_EQ(fbo->TextureMap()->Count(), 0);
    fbo->Bind(FContext.get());
    EXPECT_EQ(AttachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE), GL_NONE);
    fbo->Unbind(FContext.get());
}

TEST_F(FrameBuffers, PrepareAndClearReachTheAttachmentsTheyName)
{
    auto fbo = NewFrameBuffer();
    auto c0 = ColourTexture(), c2 = ColourTexture();
    fbo->AttachTexture(FContext.get(), c0.get(), RT::Color_0);
    fbo->AttachTexture(FContext.get(), c2.get(), RT::Color_2);
    fbo->Bind(FContext.get());
    fbo->Prepare({RT::Color_0, RT::Depth, RT::Color_2});
    GLint db0 = 0, db1 = 0;
    glGetIntegerv(GL_DRAW_BUFFER0, &db0);
    glGetIntegerv(GL_DRAW_BUFFER1, &db1);
    EXPECT_EQ(db0, GL_COLOR_ATTACHMENT0);
    EXPECT_EQ(db1, GL_COLOR_ATTACHMENT2);

    auto pixel = [](TKorvaneTexture& t) {
        std::vector<uint8_t> bytes;
        int64_t size = 0;
        t.RequestTextureData(bytes, size, 0);
        return bytes.size() >= 4 ? std::array<uint8_t, 4>{bytes[0], bytes[1], bytes[2], bytes[3]}
                                 : std::array<uint8_t, 4>{};
    };
    const TAlphaColorF red(1, 0, 0, 1), blue(0, 0, 1, 1);
    // Color_2 lies in draw buffer 1: that is the one cleared.
    fbo->Clear({RT::Color_0}, blue, 1.0f, 0, false);
    fbo->Clear({RT::Color_2}, red, 1.0f, 0, false);
    EXPECT_EQ(pixel(*c0), (std::array<uint8_t, 4>{255, 0, 0, 255})); // BGRA
    EXPECT_EQ(pixel(*c2), (std::array<uint8_t, 4>{0, 0, 255, 255}));
    // Forced, the attachment becomes the only draw buffer and is cleared there.
    fbo->Clear(RT::Color_2, blue, 1.0f, 0, true);
    EXPECT_EQ(pixel(*c2), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    fbo->Unbind(FContext.get());
}

TEST_F(FrameBuffers, SharedDepthBuffersKeepTheirDepthAndOwner)
{
    auto owner = NewFrameBuffer();
    auto colourA = ColourTexture(), colourB = ColourTexture();
    owner->AttachTexture(FContext.get(), colourA.get(), RT::Color_0);
    owner->CreateDepthBuffer(8, 8);
    ASSERT_NE(owner->DepthBuffer(), 0u);
    EXPECT_TRUE(owner->OwnsDepthBuffer());
    owner->Bind(FContext.get());
    EXPECT_TRUE(owner->CheckStatus());
    owner->Clear(RT::Depth, TAlphaColorF(), 0.25f, 0, false);
    owner->Unbind(FContext.get());

    auto sharer = NewFrameBuffer();
    sharer->AttachTexture(FContext.get(), colourB.get(), RT::Color_0);
    sharer->AttachDepthBuffer(owner->DepthBuffer(), TPoint(8, 8));
    EXPECT_EQ(sharer->DepthBuffer(), 0u); // not recorded, not owned
    sharer->Bind(FContext.get());
    float depth = -1;
    glReadPixels(3, 3, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_NEAR(depth, 0.25f, 1e-6f); // the owner's depth, not new storage
    sharer->Unbind(FContext.get());

    const GLuint shared = owner->DepthBuffer();
    sharer.reset();
    EXPECT_TRUE(glIsRenderbuffer(shared));
    owner.reset();
    EXPECT_FALSE(glIsRenderbuffer(shared));
}
