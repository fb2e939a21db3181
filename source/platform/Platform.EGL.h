#pragma once
// The operating-system side of OpenGL: one EGL display and one OpenGL
// compatibility context for the program. Without a window the context is
// current on the surfaceless platform and renders into frame buffer objects.

#include <atomic>
#include <string>

namespace korvane::platform {

struct GLContextRequest {
    int Major = 4;
    int Minor = 3;
    bool Compatibility = true;
    bool Debug = false;
    // A forward-compatible context (no legacy calls) instead of a profile.
    bool ForwardCompatible = false;
    // An OpenGL ES context instead of desktop OpenGL.
    bool ES = false;
};

class EGLDevice {
public:
    // The program's one device; created lazily, never destroyed before exit.
    static EGLDevice& Instance();

    // Creates the shared context (surfaceless) if it does not exist yet and makes it
    // current on the calling thread. Raises korvane::Exception with the EGL error on failure.
    void CreateContext(const GLContextRequest& request = {});
    bool HasContext() const { return FContext.load() != nullptr; }
    void MakeCurrent();
    void ReleaseCurrent();
    // Destroys the context (tests of creation failures start again from nothing).
    void DestroyContext();

    // Opens the display if needed and answers it.
    void* OpenDisplay();

    // Window surfaces. UseX11Display makes the device open its display on that
    // X11 connection instead of the surfaceless platform (Mesa's X11 display
    // makes surfaceless contexts too); it must come before the display opens,
    // else it raises. A window surface is made for an X11 window; the program's
    // one context is made current on it to draw a window and on no surface
    // otherwise.
    void UseX11Display(void* AX11Display);
    bool UsesX11Display() const { return FX11Display != nullptr; }
    void* CreateWindowSurface(unsigned long AX11Window);
    void DestroySurface(void* ASurface);
    void MakeCurrentOn(void* ASurface);
    void SwapBuffers(void* ASurface);

    // Whether the display can make contexts of a chosen version and profile
    // (EGL 1.5 or EGL_KHR_create_context). Opens the display.
    bool SupportsContextAttributes();

    // Resolves the GL entry points of the current context through libepoxy and
    // answers its GL version times ten (43 for 4.3). Raises when no desktop GL
    // context is current.
    int LoadGLEntryPoints();
    // How often LoadGLEntryPoints ran in this process.
    int EntryPointLoadCount() const { return FEntryPointLoads; }

    // True when some OpenGL context is current on the calling thread.
    static bool HasCurrentContext();

    // Called on the creating thread each time a new context has been made
    // current for the first time (the tests install their GL error net here).
    using TContextCreatedHook = void (*)();
    void SetContextCreatedHook(TContextCreatedHook AHook) { FContextCreatedHook = AHook; }

    void* Display() const { return FDisplay; }
    void* Context() const { return FContext.load(); }

private:
    EGLDevice() = default;
    void EnsureDisplay();

    void* FDisplay = nullptr;
    void* FX11Display = nullptr;
    std::atomic<void*> FContext{nullptr};
    int FEGLVersion = 0;

    int FEntryPointLoads = 0;
    TContextCreatedHook FContextCreatedHook = nullptr;
};

// Text of the last EGL error, e.g. "EGL_BAD_MATCH".
std::string EGLErrorText(int code);

} // namespace korvane::platform
