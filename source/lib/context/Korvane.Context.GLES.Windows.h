#pragma once
// The platform layer under the OpenGL render context. It makes the program's one
// OpenGL context (on EGL: surfaceless until a window has been handed over),
// registers TContextOpenGLWindows with the context manager as the default 3D
// context class, gives texture contexts their frame buffers and answers the
// platform queries that belong to the platform.
//
// Every context of the program, window or texture, draws with that single GL
// context, which is made current on the main thread when it is created and stays
// current until the program shuts down. No buffer swap is made anywhere.

#include <cstdint>

#include "Korvane.Context.GLES.h"

namespace korvane {

enum class TContextApi : uint8_t { apiOpenGL, apiOpenGLES };

// What the program's GL context is requested with.
struct TContextPixelSettings {
    TContextApi Api;
    int32_t MajorVersion;
    int32_t MinorVersion;
    // A forward-compatible context instead of the compatibility profile.
    bool ForwardCompatible;
    int32_t ColorBits;
    int32_t DepthBits;
    int32_t StencilBits;
    int32_t AccumBits;
    int32_t AuxBuffers;
    // 0 main plane, above 0 overlay, below 0 underlay.
    int32_t Layer;
};

// An OpenGL 4.3 compatibility-profile context, RGBA with 24 colour and 16 depth bits.
inline constexpr TContextPixelSettings ContextPixelSettings{TContextApi::apiOpenGL, 4, 3, false, 24, 16, 0, 0, 0, 0};

enum class TContextOption : uint8_t { DoubleBuffered, GDI, Stereo };
using TContextOptions = TSet<TContextOption>;

// Makes a GL context on the display ADC with the settings and answers its handle.
// Raises "Could not get function pointer adress for wglCreateContextAttribsARB -
// OpenGL 3.x and above not supported!" when the display cannot make contexts of a
// chosen version, and EAbort "Could not create the desired OpenGL rendering
// context!" when the driver refuses the version and profile.
void* CreateRenderingContext(void* ADC, TContextOptions AOptions, const TContextPixelSettings& ASettings);

// The unpack alignment and row length (in pixels) that read rows of AWidth
// pixels of ABytesPerPixel bytes lying APitch bytes apart (0: tightly packed);
// volume data (ADepth above 0) is tightly packed. False when OpenGL cannot
// describe that pitch.
bool UnpackLayout(int AWidth, int ADepth, int ABytesPerPixel, int APitch, int& AAlignment, int& ARowLength);

class TCustomContextWindowsClass : public TKorvaneContextOpenGLESClass {
public:
    using TKorvaneContextOpenGLESClass::TKorvaneContextOpenGLESClass;

    // Only the concrete class answers; this one raises "Missing method: TCustomContextWindows.Valid()".
    bool Valid() const override;
    void CreateSharedContext() const override;
    void DestroySharedContext() const override;

    // Whether the program's GL context was made (making it on first need).
    bool PlatformIsContextAvailable() const override;
    // Pushes the client pixel store and sets the unpack layout of UnpackLayout;
    // raises (pushing nothing) when the pitch cannot be described.
    void PlatformSetPixelState(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch) const override;
    int PlatformMaxLightCount() const override { return 32; }
    TContextStyles PlatformStyle() const override { return {TContextStyle::RenderTargetFlipped}; }
    TContextShaderArch PlatformGetShaderArch() const override { return TContextShaderArch::GLSL; }
    bool PlatformTextureCompressionAllowed() const override;
};

class TCustomContextWindows : public TKorvaneContextOpenGLES {
    KORVANE_CLASS(TCustomContextWindows, TKorvaneContextOpenGLES)
    friend class TCustomContextWindowsClass;

    static const TCustomContextWindowsClass& ClassInfo()
    {
        return static_cast<const TCustomContextWindowsClass&>(*StaticClass());
    }
    ~TCustomContextWindows() override;

    // Remembers the window whose surface the shared context is made for.
    static void SetWindowHandle(TWindowHandle* pHandle);
    // The instance that holds the program's GL context, or nullptr.
    static TCustomContextWindows* SharedContext();
    // Set once any platform context has been destroyed; no shared context is made after it.
    static bool ShuttingDown();

    // Test seams: ask for another version the next time the shared context is
    // made (0, 0 goes back to ContextPixelSettings), and start again from no
    // shared context (its GL context is destroyed, the shutting-down flag and the
    // window handle cleared).
    static void SetRequestedVersionForTesting(int AMajor, int AMinor);
    static void ResetSharedContextForTesting();

    void* WindowNative() const { return FHWND; }
    void* Display() const { return FHDC; }
    void* GLContext() const { return FContext; }

protected:
    // A window context has no frame buffers of its own.
    void DoCreateBuffer() override {}

private:
    void* FHWND = nullptr;    // the window's native handle, or none
    void* FHDC = nullptr;     // the EGL display
    void* FContext = nullptr; // the GL context
};

class TContextOpenGLWindowsClass : public TCustomContextWindowsClass {
public:
    using TCustomContextWindowsClass::TCustomContextWindowsClass;
    TContext3D* CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight, TMultisample AMultisample,
                                 bool ADepthStencil) const override;
    TContext3D* CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil) const override;
    // The program's GL context was made (making it on first need).
    bool Valid() const override;
};

class TContextOpenGLWindows : public TCustomContextWindows {
    KORVANE_CLASS(TContextOpenGLWindows, TCustomContextWindows)

    static const TContextOpenGLWindowsClass& ClassInfo()
    {
        return static_cast<const TContextOpenGLWindowsClass&>(*StaticClass());
    }

    void CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight, TMultisample AMultisample,
                          bool ADepthStencil) override;
    void CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil) override;

protected:
    // A texture context gets its frame buffers here.
    void DoCreateBuffer() override;
    // Makes the default frame buffer on the target texture (with a packed
    // depth-stencil render buffer when the context has depth and stencil) and the
    // empty translucent frame buffer.
    virtual void CreateTextureFrameBuffers();
};

// Registers TContextOpenGLWindows as the default 3D context class, with a log line
// before and after. May run any number of times.
void RegisterOpenGLWindowsContext();

} // namespace korvane
