#include "Korvane.Context.FrameBuffers.OpenGL.h"

#include <epoxy/gl.h>

#include <vector>

#include "Korvane.Context.GLES.h"
#include "Korvane.Context.Texturing.OpenGL.h"
#include "Korvane.Context.Types.h"

namespace korvane {

namespace {


// How a texture is bound and attached: the binding query, the bind target and
// the attachment target (a cube map attaches one face).
struct TTextureTargets {
    GLenum Binding;
    GLenum BindTarget;
    GLenum AttachTarget;
};

TTextureTargets TargetsOf(const TTexture* ATexture)
{
    const auto* korvane = dynamic_cast<const TKorvaneTexture*>(ATexture);
    if (!korvane) return {GL_TEXTURE_BINDING_2D, GL_TEXTURE_2D, GL_TEXTURE_2D};
    if (korvane->Kind == TKorvaneTextureKind::CubeMap)
        return {GL_TEXTURE_BINDING_CUBE_MAP, GL_TEXTURE_CUBE_MAP, CubeMapFaceToGL(korvane->AttachedCubeMapFace)};
    uint32_t binding = 0, target = 0;
    korvane->GetBindingAndKind(binding, target);
    return {binding, target, target};
}

bool GLAvailable() { return TKorvaneContext::IsContextAvailable(); }

// Deletes a GL object while the framework's context can be used; without it
// the name is only forgotten.
void DropName(TGLName& AName)
{
    if (GLAvailable()) AName.Reset();
    else AName.Release();
}

// Storage for the bound render buffer: multisampled for a multisample frame buffer.
void RenderBufferStorage(bool AMultisample, int ASamples, GLenum AFormat, int AWidth, int AHeight)
{
    if (AMultisample)
        glRenderbufferStorageMultisampleEXT(GL_RENDERBUFFER, ASamples, AFormat, AWidth, AHeight);
    else
        glRenderbufferStorageEXT(GL_RENDERBUFFER, AFormat, AWidth, AHeight);
}

// Raises the context-method error when OpenGL reports one.
void CheckStep(TContext3D* AContext, const char* AStep)
{
    if (HasGLErrors()) RaiseContextExceptionFmt(AContext, SErrorInContextMethod, AStep);
}

} // namespace

// ---------------------------------------------------------------------------
// TOpenGLFBOTextureMap

TClass TOpenGLFBOTextureMap::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TOpenGLFBOTextureMap, TOpenGLFBOTextureMapClass>("Korvane.Context.FrameBuffers.OpenGL");
    return &info;
}

TFBOTextureMap* TOpenGLFBOTextureMapClass::Create(TFrameBufferObject* AFBO) const
{
    return Construct<TOpenGLFBOTextureMap>(AFBO);
}

void TOpenGLFBOTextureMap::RemoveTexture(TRenderTarget ATarget)
{
    const int colour = RenderTargetColorIndex(ATarget);
    TTexture* texture = GetTextureByTarget(ATarget);
    if (colour >= 0 && texture && GLAvailable())
        glFramebufferTexture2DEXT(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + static_cast<GLenum>(colour),
                                  TargetsOf(texture).AttachTarget, 0, 0);
    ForgetTexture(ATarget);
}

// ---------------------------------------------------------------------------
// TOpenGLFrameBufferObject

TClass TOpenGLFrameBufferObject::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info = *new TClassInfo<TOpenGLFrameBufferObject, TOpenGLFrameBufferObjectClass>(
        "Korvane.Context.FrameBuffers.OpenGL");
    return &info;
}

TFrameBufferObject* TOpenGLFrameBufferObjectClass::Create(TContext3D* AContext, bool AIsMultisampleBuffer,
                                                          TMultisample AMultisample, TContext3D*) const
{
    return Construct<TOpenGLFrameBufferObject>(AContext, AIsMultisampleBuffer, AMultisample);
}

uint32_t TOpenGLFrameBufferObjectClass::RenderTargetToValue(TRenderTarget ATarget) const
{
    if (ATarget == TRenderTarget::Depth) return GL_DEPTH_ATTACHMENT;
    if (ATarget == TRenderTarget::Stencil) return GL_STENCIL_ATTACHMENT;
    if (static_cast<int>(ATarget) >= RenderTargetCount) return 0;
    return GL_COLOR_ATTACHMENT0 + static_cast<uint32_t>(RenderTargetColorIndex(ATarget));
}

bool TOpenGLFrameBufferObject::CheckStatus()
{
    const GLenum status = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER);
    if (status == GL_FRAMEBUFFER_COMPLETE) return true;
    const bool hasTextures = FTextureMap && FTextureMap->Count() > 0;
    const char* reason = "unexpected error";
    switch (status) {
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT:
        if (!hasTextures) return false;
        reason = "Not all framebuffer attachment points are framebuffer attachment complete. This means that at "
                 "least one attachment point with a renderbuffer or texture attached has its attached object no "
                 "longer in existence or has an attached image with a width or height of zero, or the color "
                 "attachment point has a non-color-renderable image attached, or the depth attachment point has a "
                 "non-depth-renderable image attached, or the stencil attachment point has a non-stencil-renderable "
                 "image attached.";
        break;
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT:
        if (!hasTextures) return false;
        reason = "Not all attached images have the same width and height.";
        break;
    case GL_FRAMEBUFFER_UNSUPPORTED:
        reason = "The combination of internal formats of the attached images violates an "
                 "implementation-dependent set of restrictions.";
        break;
    default: break;
    }
    throw Exception(Format("error #%d: failed to use framebuffer-object #%d\r\n%s", status, FHandle, reason));
}

void TOpenGLFrameBufferObject::CreateHandle()
{
    if (IsCreated()) return;
    FFrameBuffer = TGLName::Create(TGLObjectKind::FrameBuffer,
                                   FIsMultisampleBuffer ? "TOpenGLFrameBufferObject.MultisampleFrame"
                                                        : "TOpenGLFrameBufferObject.Frame");
    FHandle = FFrameBuffer.Get();
}

void TOpenGLFrameBufferObject::DestroyHandle()
{
    if (!IsCreated()) return;
    DropName(FFrameBuffer);
    FHandle = 0;
}

void TOpenGLFrameBufferObject::Reset()
{
    if (!IsCreated() || !FTextureMap || FTextureMap->Count() == 0) return;
    TGLFrameBufferBindScope bound(this, FContext);
    FTextureMap->RemoveAll();
    glFramebufferTexture2DEXT(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, 0, 0);
    glFramebufferTexture2DEXT(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_TEXTURE_2D, 0, 0);
    FTextureMap->Clear();
}

void TOpenGLFrameBufferObject::CheckMaxAttachments(TRenderTarget ATarget)
{
    const int colour = RenderTargetColorIndex(ATarget);
    if (colour <= 0) return;
    if (GLInteger(GL_MAX_COLOR_ATTACHMENTS) < colour + 1)
        throw Exception("failed to attach texture to FBO - not enough attachments available");
}

void TOpenGLFrameBufferObject::AttachTexture(TContext3D* AContext, TTexture* ATexture, TRenderTarget ATarget)
{
    if (!ATexture) return;
    CheckMaxAttachments(ATarget);
    if (ATexture->Handle() == 0) {
        if (AContext) AContext->ContextClass().DoInitializeTexture(ATexture);
        else ATexture->Initialize();
    }
    if (FTextureMap->TextureExists(ATarget, ATexture)) return;
    if (!FContext) FContext = AContext;
    const GLenum attachment = RenderTargetToValue(ATarget);
    if (attachment == 0) throw Exception("TFrameBufferObject.AttachTexture() - unsupported target");
    const TTextureTargets targets = TargetsOf(ATexture);
    TGLTextureBindingScope textureBinding(targets.Binding, targets.BindTarget);
    glBindTexture(targets.BindTarget, static_cast<GLuint>(ATexture->Handle()));
    TGLFrameBufferBindScope bound(this, FContext);
    glFramebufferTexture2DEXT(GL_FRAMEBUFFER, attachment, targets.AttachTarget, static_cast<GLuint>(ATexture->Handle()),
                              0);
    FTextureMap->AddTexture(ATexture, ATarget);
    FSize = TSize(ATexture->Width(), ATexture->Height());
    CheckStatus();
}

void TOpenGLFrameBufferObject::CreateRenderBuffer(int AWidth, int AHeight)
{
    // A colour buffer made before goes; it is replaced.
    DestroyRenderBuffer();
    TGLFrameBufferBindScope bound(this, FContext);
    FColorRenderBuffer = TGLName::Create(TGLObjectKind::RenderBuffer, "TOpenGLFrameBufferObject.Color");
    FColorBuffer = FColorRenderBuffer.Get();
    FOwnsColorBuffer = true;
    glBindRenderbufferEXT(GL_RENDERBUFFER, FColorBuffer);
    glRenderbufferStorageMultisampleEXT(GL_RENDERBUFFER, FSamples, GL_RGBA, AWidth, AHeight);
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, FColorBuffer);
    glBindRenderbufferEXT(GL_RENDERBUFFER, 0);
    FSize = TSize(AWidth, AHeight);
    CheckStatus();
}

void TOpenGLFrameBufferObject::DestroyRenderBuffer()
{
    if (FOwnsColorBuffer) {
        DropName(FColorRenderBuffer);
        FColorBuffer = 0;
    }
    FOwnsColorBuffer = false;
}

void TOpenGLFrameBufferObject::CreateDepthBuffer(int AWidth, int AHeight)
{
    // A depth buffer made before goes; it is replaced.
    DestroyDepthBuffer();
    TGLFrameBufferBindScope bound(this, FContext);
    FDepthRenderBuffer = TGLName::Create(TGLObjectKind::RenderBuffer, "TOpenGLFrameBufferObject.Depth");
    FDepthBuffer = FDepthRenderBuffer.Get();
    FOwnsDepthBuffer = true;
    glBindRenderbufferEXT(GL_RENDERBUFFER, FDepthBuffer);
    RenderBufferStorage(FIsMultisampleBuffer, FSamples, GL_DEPTH24_STENCIL8, AWidth, AHeight);
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, FDepthBuffer);
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, FDepthBuffer);
    glBindRenderbufferEXT(GL_RENDERBUFFER, 0);
    FSize = TSize(AWidth, AHeight);
    CheckStatus();
}

void TOpenGLFrameBufferObject::DestroyDepthBuffer()
{
    if (FOwnsDepthBuffer) {
        DropName(FDepthRenderBuffer);
        FDepthBuffer = 0;
    }
    FOwnsDepthBuffer = false;
}

void TOpenGLFrameBufferObject::AttachDepthBuffer(uint32_t ABufId, TPoint ASize)
{
    TGLFrameBufferBindScope bound(this, FContext);
    glBindRenderbufferEXT(GL_RENDERBUFFER, ABufId);
    // New storage would throw away the depth the other frame buffer rendered:
    // a buffer of the right size and format is shared as it is.
    GLint width = 0, height = 0, format = 0;
    glGetRenderbufferParameterivEXT(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH_EXT, &width);
    glGetRenderbufferParameterivEXT(GL_RENDERBUFFER, GL_RENDERBUFFER_HEIGHT_EXT, &height);
    glGetRenderbufferParameterivEXT(GL_RENDERBUFFER, GL_RENDERBUFFER_INTERNAL_FORMAT_EXT, &format);
    if (width != ASize.X || height != ASize.Y || format != GL_DEPTH24_STENCIL8)
        glRenderbufferStorageEXT(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, ASize.X, ASize.Y);
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, ABufId);
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, ABufId);
    glBindRenderbufferEXT(GL_RENDERBUFFER, 0);
    CheckStatus();
}

void TOpenGLFrameBufferObject::Bind(TContext3D* AContext)
{
    if (!IsCreated()) return;
    glBindFramebufferEXT(GL_FRAMEBUFFER, FHandle);
    if (auto* context = dynamic_cast<TKorvaneContextOpenGLES*>(AContext)) context->PushFBO(this);
}

void TOpenGLFrameBufferObject::Unbind(TContext3D* AContext)
{
    if (auto* context = dynamic_cast<TKorvaneContextOpenGLES*>(AContext)) {
        context->PopFBO();
        const TFrameBufferObject* top = context->GetCurrentlyBoundBuffer();
        glBindFramebufferEXT(GL_FRAMEBUFFER, top ? top->Handle() : 0);
        return;
    }
    glBindFramebufferEXT(GL_FRAMEBUFFER, 0);
}

void TOpenGLFrameBufferObject::Resize(int AWidth, int AHeight)
{
    FSize = TSize(AWidth, AHeight);
    TGLFrameBufferBindScope bound(this, FContext);
    if (FColorBuffer != 0) {
        glBindRenderbufferEXT(GL_RENDERBUFFER, FColorBuffer);
        RenderBufferStorage(FIsMultisampleBuffer, FSamples, GL_RGBA, AWidth, AHeight);
    } else {
        CreateRenderBuffer(AWidth, AHeight);
    }
    if (FDepthBuffer != 0) {
        glBindRenderbufferEXT(GL_RENDERBUFFER, FDepthBuffer);
        RenderBufferStorage(FIsMultisampleBuffer, FSamples, GL_DEPTH24_STENCIL8, AWidth, AHeight);
    } else {
        CreateDepthBuffer(AWidth, AHeight);
    }
    glBindRenderbufferEXT(GL_RENDERBUFFER, 0);
    FSize = TSize(AWidth, AHeight);
    CheckStatus();
}

void TOpenGLFrameBufferObject::Prepare(TRenderTargets ATargets)
{
    if (!CheckStatus()) return;
    std::vector<GLenum> buffers;
    for (int i = 0; i < RenderTargetCount; ++i) {
        const auto target = static_cast<TRenderTarget>(i);
        if (ATargets.Contains(target) && RenderTargetColorIndex(target) >= 0)
            buffers.push_back(RenderTargetToValue(target));
    }
    if (buffers.empty()) return;
    glDrawBuffers(static_cast<GLsizei>(buffers.size()), buffers.data());
    CheckStep(FContext, "TFrameBufferObject.Prepare()");
}

void TOpenGLFrameBufferObject::Clear(TRenderTargets ATargets, const TAlphaColorF& AColor, float ADepth,
                                     uint32_t AStencil, bool AForceDraw)
{
    if (!CheckStatus()) return;
    const GLfloat colour[4] = {AColor.R, AColor.G, AColor.B, AColor.A};
    // The draw buffer that holds an attachment; -1 when none does.
    auto drawBufferOf = [](GLenum AAttachment) {
        const GLint count = GLInteger(GL_MAX_DRAW_BUFFERS);
        for (GLint i = 0; i < count; ++i)
            if (static_cast<GLenum>(GLInteger(GL_DRAW_BUFFER0 + static_cast<GLenum>(i))) == AAttachment)
                return static_cast<int>(i);
        return -1;
    };
    for (int i = 0; i < RenderTargetCount; ++i) {
        const auto target = static_cast<TRenderTarget>(i);
        if (!ATargets.Contains(target)) continue;
        if (target == TRenderTarget::Depth) {
            glClearBufferfv(GL_DEPTH, 0, &ADepth);
            CheckStep(FContext, "TFrameBufferObject.Clear() - clearing depth");
        } else if (target == TRenderTarget::Stencil) {
            const GLint stencil = static_cast<GLint>(AStencil);
            glClearBufferiv(GL_STENCIL, 0, &stencil);
            CheckStep(FContext, "TFrameBufferObject.Clear() - clearing stencil");
        } else {
            const GLenum attachment = RenderTargetToValue(target);
            if (AForceDraw) glDrawBuffers(1, &attachment);
            const int drawBuffer = AForceDraw ? 0 : drawBufferOf(attachment);
            if (drawBuffer >= 0) glClearBufferfv(GL_COLOR, drawBuffer, colour);
            CheckStep(FContext, "TFrameBufferObject.Clear() - activating render target");
        }
    }
}

namespace units {
void FrameBuffersOpenGLInitialize()
{
    FrameBufferObjectClass = &static_cast<const TOpenGLFrameBufferObjectClass&>(
        *TOpenGLFrameBufferObject::StaticClass());
    FBOTextureMapClass = &static_cast<const TOpenGLFBOTextureMapClass&>(*TOpenGLFBOTextureMap::StaticClass());
}
void FrameBuffersOpenGLFinalize()
{
    FrameBufferObjectClass = &TFrameBufferObject::ClassInfo();
    FBOTextureMapClass = &TFBOTextureMap::ClassInfo();
}
} // namespace units

} // namespace korvane
