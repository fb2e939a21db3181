#pragma once
// The framework's render context: the abstract base of the OpenGL context. Its
// capability queries are class functions that ask the class registered with the
// context manager as the default 3D context class, so that class must descend
// from TKorvaneContext.

#include <cstdint>
#include <string>

#include "Korvane.Context.Types.h"
#include "Platform.Types3D.h"

namespace korvane {

class TExtensions;
class TKorvaneContext;

// ---------------------------------------------------------------------------
// Unit variables (one set for the whole program)

// Near and far plane given to every new context.
extern float DefaultNearPlane;
extern float DefaultFarPlane;
// Whether shader compile errors may raise at all.
extern bool RaiseShaderCompileErrors;
// The optional global error handler; Kind is 0 context, 1 shader compile, 2 initialisation.
using TContextErrorHandler = void (*)(TObject* Sender, uint8_t Kind, const std::string& Message);
extern TContextErrorHandler ContextErrorHandler;
// Set by every viewport to whether it is being designed.
extern bool DesignTimeMode;
// GL_MAX_DRAW_BUFFERS of the program's GL context, read once when it is made; 0 before.
extern int ContextMaxDrawBuffers;

// ---------------------------------------------------------------------------
// The class reference of TKorvaneContext and its descendants

class TKorvaneContextClass : public TContextClass {
public:
    using TContextClass::TContextClass;

    // Whether the class can render (the OpenGL classes answer it).
    virtual bool Valid() const;
    // Makes / frees the program's one GL context.
    virtual void CreateSharedContext() const;
    virtual void DestroySharedContext() const;

    // Platform queries, answered by the OpenGL and the platform context classes.
    virtual int PlatformDirectStateAccess() const;
    virtual void PlatformSetPixelState(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch) const;
    virtual void PlatformUnsetPixelState() const;
    virtual bool PlatformIsContextAvailable() const;
    virtual std::string PlatformGetVendorName() const;
    virtual std::string PlatformGetRendererName() const;
    virtual std::string PlatformGetVersion() const;
    virtual std::string PlatformGetExtensionString() const;
    virtual bool PlatformHasAnyErrors() const;
    virtual bool PlatformHasAnyErrors(intptr_t& AError) const;
    virtual TContextShaderArch PlatformGetShaderArch() const;
    virtual int PlatformMaxTextureSize() const;
    virtual int PlatformMaxTexture3DSize() const;
    virtual int PlatformTextureUnitCount() const;
    virtual int PlatformMaxTextureImageUnits() const;
    virtual int PlatformMaxVertexShaderUniformBlocks() const;
    virtual int PlatformMaxFragmentShaderUniformBlocks() const;
    virtual int PlatformMaxUniformBlockSize() const;
    virtual int PlatformMaxDrawBuffers() const;
    virtual int PlatformMaxLightCount() const;
    virtual TContextStyles PlatformStyle() const;
    virtual bool PlatformTextureCompressionAllowed() const;

    // The class functions of the context base answer through the default class.
    TContextStyles Style() const override;
    int MaxLightCount() const override;
    int MaxTextureSize() const override;
    int TextureUnitCount() const override;
    TPixelFormat PixelFormat() const override;

protected:
    [[noreturn]] void AbstractCall(const char* AName) const;
};

// ---------------------------------------------------------------------------

class TKorvaneContext : public TContext3D {
    KORVANE_CLASS(TKorvaneContext, TContext3D)

    // The metaclass, typed.
    static const TKorvaneContextClass& ClassInfo() { return static_cast<const TKorvaneContextClass&>(*StaticClass()); }
    // The object's metaclass as a context class of the framework.
    const TKorvaneContextClass& KorvaneClassType() const
    {
        return static_cast<const TKorvaneContextClass&>(*ClassType());
    }

    void CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight, TMultisample AMultisample,
                          bool ADepthStencil) override;
    void CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil) override;

    float NearPlane() const { return FNearPlane; }
    void SetNearPlane(float value) { FNearPlane = value; }
    float FarPlane() const { return FFarPlane; }
    void SetFarPlane(float value) { FFarPlane = value; }

    // --- class functions: each asks the default context class ---------------

    // The registered default context class; raises EContext3DException when it
    // does not descend from TKorvaneContext.
    static const TKorvaneContextClass& PlatformClass();
    static int DirectStateAccess();
    static void SetPixelState(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch);
    static void UnsetPixelState();
    static bool IsContextAvailable();
    static std::string GetVendorName();
    static std::string GetRendererName();
    static std::string GetVersion();
    static std::string GetExtensionString();
    static bool HasAnyErrors();
    static bool HasAnyErrors(intptr_t& AError);
    static TContextShaderArch GetShaderArch();
    static int MaxTextureSize();
    static int MaxTexture3DSize();
    static int MaxTextureImageUnits();
    static int MaxVertexShaderUniformBlocks();
    static int MaxFragmentShaderUniformBlocks();
    static int MaxUniformBlockSize();
    static int MaxDrawBuffers();
    static int MaxLightCount();
    static TContextStyles Style();
    static bool TextureCompressionAllowed();
    // Always 8.
    static int TextureUnitCount();
    // Always BGRA.
    static TPixelFormat PixelFormat();
    static bool IsInDesignTime() { return DesignTimeMode; }

    // The program's extension list, read once through ExtensionsClass on the first
    // question; nullptr while no GL context is available.
    static TExtensions* Extensions();
    // Whether the extension list holds AName (False without a GL context).
    static bool HasExtension(const std::string& AName);

protected:
    void InitContext() override;
    // Cleared by the platform contexts: no multisample frame buffer is ever made.
    bool FSupportMS = true;

private:
    float FNearPlane = 0.0f, FFarPlane = 0.0f;
};

} // namespace korvane
