#pragma once
// The operating-system side of OpenGL: one EGL display and one OpenGL
// compatibility context for the program. Without a window the context is
// current on the surfaceless platform and renders into frame buffer objects.

#include <string>

namespace korvane::platform {

struct GLContextRequest {
    int Major = 4;
    int Minor = 3;
    bool Compatibility = true;
    bool Debug = false;
};

class EGLDevice {
public:
    // The program's one device; created lazily, never destroyed before exit.
    static EGLDevice& Instance();

    // Creates the shared context (surfaceless) if it does not exist yet and makes it
    // current on the calling thread. Raises korvane::Exception with the EGL error on failure.
    void CreateContext(const GLContextRequest& request = {});
    bool HasContext() const { return FContext != nullptr; }
    void MakeCurrent();
    void ReleaseCurrent();
    // Destroys the context (tests of creation failures start again from nothing).
    void DestroyContext();

    void* Display() const { return FDisplay; }
    void* Context() const { return FContext; }

private:
    EGLDevice() = default;
    void EnsureDisplay();

    void* FDisplay = nullptr;
    void* FContext = nullptr;
};

// Text of the last EGL error, e.g. "EGL_BAD_MATCH".
std::string EGLErrorText(int code);

} // namespace korvane::platform
