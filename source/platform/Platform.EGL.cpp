#include "Platform.EGL.h"

#include <epoxy/egl.h>

#include <vector>

#include "Platform.SysUtils.h"

namespace korvane::platform {

std::string EGLErrorText(int code)
{
    switch (code) {
    case EGL_SUCCESS: return "EGL_SUCCESS";
    case EGL_NOT_INITIALIZED: return "EGL_NOT_INITIALIZED";
    case EGL_BAD_ACCESS: return "EGL_BAD_ACCESS";
    case EGL_BAD_ALLOC: return "EGL_BAD_ALLOC";
    case EGL_BAD_ATTRIBUTE: return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_CONFIG: return "EGL_BAD_CONFIG";
    case EGL_BAD_CONTEXT: return "EGL_BAD_CONTEXT";
    case EGL_BAD_CURRENT_SURFACE: return "EGL_BAD_CURRENT_SURFACE";
    case EGL_BAD_DISPLAY: return "EGL_BAD_DISPLAY";
    case EGL_BAD_MATCH: return "EGL_BAD_MATCH";
    case EGL_BAD_NATIVE_PIXMAP: return "EGL_BAD_NATIVE_PIXMAP";
    case EGL_BAD_NATIVE_WINDOW: return "EGL_BAD_NATIVE_WINDOW";
    case EGL_BAD_PARAMETER: return "EGL_BAD_PARAMETER";
    case EGL_BAD_SURFACE: return "EGL_BAD_SURFACE";
    case EGL_CONTEXT_LOST: return "EGL_CONTEXT_LOST";
    default: return Format("EGL error 0x%x", code);
    }
}

EGLDevice& EGLDevice::Instance()
{
    static EGLDevice device;
    return device;
}

void EGLDevice::EnsureDisplay()
{
    if (FDisplay) return;
    EGLDisplay display = FX11Display
                             ? eglGetPlatformDisplayEXT(EGL_PLATFORM_X11_KHR, FX11Display, nullptr)
                             : eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY)
        throw Exception(FX11Display ? "cannot open the X11 EGL display" : "cannot open the surfaceless EGL display");
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor))
        throw Exception("cannot initialize EGL: " + EGLErrorText(eglGetError()));
    FDisplay = display;
    FEGLVersion = major * 10 + minor;
}

void* EGLDevice::OpenDisplay()
{
    EnsureDisplay();
    return FDisplay;
}

bool EGLDevice::SupportsContextAttributes()
{
    EnsureDisplay();
    return FEGLVersion >= 15 || epoxy_has_egl_extension(static_cast<EGLDisplay>(FDisplay), "EGL_KHR_create_context");
}

int EGLDevice::LoadGLEntryPoints()
{
    ++FEntryPointLoads;
    if (!eglGetCurrentContext()) throw Exception("no OpenGL context is current");
    // libepoxy resolves each entry point on its first call for the current
    // context; asking it for the version makes it look at this context now.
    if (!epoxy_is_desktop_gl()) throw Exception("the current context is not a desktop OpenGL context");
    return epoxy_gl_version();
}

void EGLDevice::CreateContext(const GLContextRequest& request)
{
    if (FContext) {
        MakeCurrent();
        return;
    }
    EnsureDisplay();
    if (!eglBindAPI(request.ES ? EGL_OPENGL_ES_API : EGL_OPENGL_API))
        throw Exception("cannot bind the OpenGL API: " + EGLErrorText(eglGetError()));
    std::vector<EGLint> attributes{EGL_CONTEXT_MAJOR_VERSION, request.Major, EGL_CONTEXT_MINOR_VERSION, request.Minor};
    if (!request.ES) {
        if (request.ForwardCompatible) {
            attributes.insert(attributes.end(), {EGL_CONTEXT_OPENGL_FORWARD_COMPATIBLE, EGL_TRUE});
        } else {
            attributes.insert(attributes.end(),
                              {EGL_CONTEXT_OPENGL_PROFILE_MASK, request.Compatibility
                                                                    ? EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT
                                                                    : EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT});
        }
    }
    attributes.insert(attributes.end(), {EGL_CONTEXT_OPENGL_DEBUG, request.Debug ? EGL_TRUE : EGL_FALSE, EGL_NONE});
    EGLContext context = eglCreateContext(static_cast<EGLDisplay>(FDisplay), EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes.data());
    if (context == EGL_NO_CONTEXT)
        throw Exception(Format("cannot create an OpenGL %d.%d context: %s", request.Major, request.Minor,
                               EGLErrorText(eglGetError())));
    FContext = context;
    MakeCurrent();
    if (FContextCreatedHook) FContextCreatedHook();
}

bool EGLDevice::HasCurrentContext() { return eglGetCurrentContext() != EGL_NO_CONTEXT; }

void EGLDevice::MakeCurrent()
{
    if (!FContext) throw Exception("no OpenGL context");
    if (!eglMakeCurrent(static_cast<EGLDisplay>(FDisplay), EGL_NO_SURFACE, EGL_NO_SURFACE,
                        static_cast<EGLContext>(FContext.load())))
        throw Exception("cannot make the OpenGL context current: " + EGLErrorText(eglGetError()));
}

void EGLDevice::ReleaseCurrent()
{
    if (FDisplay) eglMakeCurrent(static_cast<EGLDisplay>(FDisplay), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

void EGLDevice::DestroyContext()
{
    if (!FContext) return;
    ReleaseCurrent();
    eglDestroyContext(static_cast<EGLDisplay>(FDisplay), static_cast<EGLContext>(FContext.load()));
    FContext = nullptr;
}

void EGLDevice::UseX11Display(void* AX11Display)
{
    if (FX11Display == AX11Display) return;
    if (FDisplay) {
        if (FContext) throw Exception("the EGL display is already open: a window display must be chosen first");
        eglTerminate(static_cast<EGLDisplay>(FDisplay));
        FDisplay = nullptr;
    }
    FX11Display = AX11Display;
}

void* EGLDevice::CreateWindowSurface(unsigned long AX11Window)
{
    EnsureDisplay();
    if (!FX11Display) throw Exception("window surfaces need the X11 EGL display");
    const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                 EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_DEPTH_SIZE, 24,
                                 EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(static_cast<EGLDisplay>(FDisplay), attributes, &config, 1, &count) || count < 1)
        throw Exception("no EGL configuration for a window: " + EGLErrorText(eglGetError()));
    EGLNativeWindowType window = AX11Window;
    EGLSurface surface = eglCreatePlatformWindowSurfaceEXT(static_cast<EGLDisplay>(FDisplay), config, &window, nullptr);
    if (surface == EGL_NO_SURFACE)
        throw Exception("cannot create a window surface: " + EGLErrorText(eglGetError()));
    return surface;
}

void EGLDevice::DestroySurface(void* ASurface)
{
    if (!ASurface || !FDisplay) return;
    if (eglGetCurrentSurface(EGL_DRAW) == ASurface) MakeCurrent();
    eglDestroySurface(static_cast<EGLDisplay>(FDisplay), static_cast<EGLSurface>(ASurface));
}

void EGLDevice::MakeCurrentOn(void* ASurface)
{
    if (!FContext) throw Exception("no OpenGL context");
    if (!eglMakeCurrent(static_cast<EGLDisplay>(FDisplay), ASurface, ASurface, static_cast<EGLContext>(FContext.load())))
        throw Exception("cannot make the OpenGL context current on a window: " + EGLErrorText(eglGetError()));
}

void EGLDevice::SwapBuffers(void* ASurface)
{
    if (!eglSwapBuffers(static_cast<EGLDisplay>(FDisplay), static_cast<EGLSurface>(ASurface)))
        throw Exception("cannot present the window: " + EGLErrorText(eglGetError()));
}

} // namespace korvane::platform
