#pragma once
// Frame buffer objects on OpenGL. Frame buffers and render buffers are made,
// bound and attached through the framebuffer-object extension's entry points
// and deleted through the core ones; the frame-buffer target is always
// GL_FRAMEBUFFER. Loading this unit installs TOpenGLFrameBufferObject and
// TOpenGLFBOTextureMap in FrameBufferObjectClass and FBOTextureMapClass.

#include "Korvane.Context.FrameBuffers.h"
#include "Korvane.GL.Internal.h"

namespace korvane {

class TOpenGLFBOTextureMap : public TFBOTextureMap {
    KORVANE_CLASS(TOpenGLFBOTextureMap, TFBOTextureMap)

    using TFBOTextureMap::RemoveTexture;
    // Detaches a colour attachment (Depth and Stencil need no GPU call) and
    // clears the reference.
    void RemoveTexture(TRenderTarget ATarget) override;
};

class TOpenGLFBOTextureMapClass : public TFBOTextureMapClass {
public:
    using TFBOTextureMapClass::TFBOTextureMapClass;
    TFBOTextureMap* Create(TFrameBufferObject* AFBO) const override;
};

class TOpenGLFrameBufferObject : public TFrameBufferObject {
    KORVANE_CLASS(TOpenGLFrameBufferObject, TFrameBufferObject)

    // True when complete. Otherwise, with textures attached, raises "error #%d:
    // failed to use framebuffer-object #%d" and the reason; without textures an
    // incomplete or missing attachment only answers False.
    bool CheckStatus() override;
    void CreateHandle() override;
    void DestroyHandle() override;
    void Reset() override;
    void CheckMaxAttachments(TRenderTarget ATarget) override;
    void AttachTexture(TContext3D* AContext, TTexture* ATexture, TRenderTarget ATarget) override;
    void CreateRenderBuffer(int AWidth, int AHeight) override;
    void DestroyRenderBuffer() override;
    void CreateDepthBuffer(int AWidth, int AHeight) override;
    void DestroyDepthBuffer() override;
    // A shared depth buffer that already has this size keeps its storage and contents.
    void AttachDepthBuffer(uint32_t ABufId, TPoint ASize) override;
    void Bind(TContext3D* AContext) override;
    void Unbind(TContext3D* AContext) override;
    void Resize(int AWidth, int AHeight) override;
    void Prepare(TRenderTargets ATargets) override;
    using TFrameBufferObject::Clear;
    // Clears each target in target order. A colour target clears the draw
    // buffer that holds its attachment (draw buffer 0 with AForceDraw, which
    // makes that attachment the only draw buffer); one that no draw buffer holds
    // is not cleared.
    void Clear(TRenderTargets ATargets, const TAlphaColorF& AColor, float ADepth, uint32_t AStencil,
               bool AForceDraw) override;

private:
    // The GL objects this frame buffer made; Handle(), ColorBuffer() and
    // DepthBuffer() answer their names.
    TGLName FFrameBuffer;
    TGLName FColorRenderBuffer;
    TGLName FDepthRenderBuffer;
};

class TOpenGLFrameBufferObjectClass : public TFrameBufferObjectClass {
public:
    using TFrameBufferObjectClass::TFrameBufferObjectClass;
    TFrameBufferObject* Create(TContext3D* AContext, bool AIsMultisampleBuffer, TMultisample AMultisample,
                               TContext3D* AOwnerContext = nullptr) const override;
    // GL_COLOR_ATTACHMENTn, GL_DEPTH_ATTACHMENT, GL_STENCIL_ATTACHMENT; 0 outside the enumeration.
    uint32_t RenderTargetToValue(TRenderTarget ATarget) const override;
};

} // namespace korvane
