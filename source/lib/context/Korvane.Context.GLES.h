#pragma once
// The OpenGL implementation of the render context. It runs on an OpenGL 4.3
// compatibility-profile context; making that context belongs to the platform
// classes below it (Korvane.Context.GLES.Windows).

#include "Korvane.Context.h"

namespace korvane {

// GL_CLIENT_ATTRIB_STACK_DEPTH as saved by PlatformSetPixelState; the unset pops
// only while it is above 0.
extern int ClientAttribStackDepth;

class TKorvaneContextOpenGLESClass : public TKorvaneContextClass {
public:
    using TKorvaneContextClass::TKorvaneContextClass;

    // A GL context can be used.
    bool Valid() const override;

    int PlatformDirectStateAccess() const override;
    void PlatformSetPixelState(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch) const override;
    void PlatformUnsetPixelState() const override;
    std::string PlatformGetVendorName() const override;
    std::string PlatformGetRendererName() const override;
    std::string PlatformGetVersion() const override;
    std::string PlatformGetExtensionString() const override;
    bool PlatformHasAnyErrors() const override;
    bool PlatformHasAnyErrors(intptr_t& AError) const override;
    int PlatformMaxTextureSize() const override;
    int PlatformMaxTexture3DSize() const override;
    int PlatformTextureUnitCount() const override;
    int PlatformMaxTextureImageUnits() const override;
    int PlatformMaxVertexShaderUniformBlocks() const override;
    int PlatformMaxFragmentShaderUniformBlocks() const override;
    int PlatformMaxUniformBlockSize() const override;
    int PlatformMaxDrawBuffers() const override;
};

class TKorvaneContextOpenGLES : public TKorvaneContext {
    KORVANE_CLASS(TKorvaneContextOpenGLES, TKorvaneContext)

    static const TKorvaneContextOpenGLESClass& ClassInfo()
    {
        return static_cast<const TKorvaneContextOpenGLESClass&>(*StaticClass());
    }
};

} // namespace korvane
