#include "Korvane.Context.GLES.Windows.h"

#include <epoxy/gl.h>

#include <mutex>
#include <vector>

#include "Korvane.GL.Internal.h"
#include "Platform.EGL.h"
#include "Platform.Log.h"

namespace korvane {

namespace {
TCustomContextWindows* GShared = nullptr;
bool GShuttingDown = false;
TWindowHandle* GWindowHandle = nullptr;
int GTestMajor = 0, GTestMinor = 0;

// Every shared context made (at most one over a run), guarded by its own lock.
struct TContextList {
    std::mutex Lock;
    std::vector<TOwned<TCustomContextWindows>> Items;
};
TContextList* GContextList = nullptr;

} // namespace

// ---------------------------------------------------------------------------

void* CreateRenderingContext(void* ADC, TContextOptions, const TContextPixelSettings& ASettings)
{
    // The context has no surface of its own (it renders into frame buffer
    // objects), so no pixel format is chosen: the colour and depth bits and the
    // buffering options only matter for a window surface.
    auto& device = platform::EGLDevice::Instance();
    if (ADC != device.OpenDisplay()) throw Exception("CreateRenderingContext: unknown display");
    if (!device.SupportsContextAttributes())
        throw Exception(
            "Could not get function pointer adress for wglCreateContextAttribsARB - OpenGL 3.x and above not supported!");
    platform::GLContextRequest request;
    request.ES = ASettings.Api == TContextApi::apiOpenGLES;
    request.Major = GTestMajor > 0 ? GTestMajor : ASettings.MajorVersion;
    request.Minor = GTestMajor > 0 ? GTestMinor : ASettings.MinorVersion;
    request.ForwardCompatible = ASettings.ForwardCompatible;
    request.Compatibility = !ASettings.ForwardCompatible;
    try {
        device.CreateContext(request);
    } catch (const Exception& e) {
        Log::d("<ERROR> %s", e.Message());
        throw EAbort("Could not create the desired OpenGL rendering context!");
    }
    return device.Context();
}

// ---------------------------------------------------------------------------
// TCustomContextWindows

bool TCustomContextWindowsClass::Valid() const { throw Exception("Missing method: TCustomContextWindows.Valid()"); }

void TCustomContextWindowsClass::CreateSharedContext() const
{
    if (GShuttingDown || GShared) return;
    if (!GContextList) GContextList = new TContextList();
    auto* shared = new TCustomContextWindows();
    GShared = shared;
    {
        std::lock_guard<std::mutex> lock(GContextList->Lock);
        GContextList->Items.emplace_back(shared);
    }
    try {
        auto& device = platform::EGLDevice::Instance();
        shared->FHWND = GWindowHandle ? GWindowHandle->Native() : nullptr;
        shared->FHDC = device.OpenDisplay();
        shared->FContext = CreateRenderingContext(shared->FHDC, {TContextOption::DoubleBuffered}, ContextPixelSettings);
        device.MakeCurrent();
        Log::d(TKorvaneContext::GetVendorName());
        Log::d(TKorvaneContext::GetRendererName());
        Log::d(TKorvaneContext::GetVersion());
        Log::d(TKorvaneContext::GetExtensionString());
        device.LoadGLEntryPoints();
        ContextMaxDrawBuffers = GLInteger(GL_MAX_DRAW_BUFFERS);
    } catch (const Exception& e) {
        // A context that was made but not finished is given up: nothing may
        // draw with entry points that were never loaded.
        if (shared->FContext) {
            platform::EGLDevice::Instance().DestroyContext();
            shared->FContext = nullptr;
        }
        RaiseInitializationException(shared, "Failed to initialize context: %s", {e.Message()});
    }
}

void TCustomContextWindowsClass::DestroySharedContext() const
{
    if (!GShared) return;
    TCustomContextWindows* shared = GShared;
    // The list gives the context up first; it is freed outside the lock.
    TOwned<TCustomContextWindows> owned;
    if (GContextList) {
        std::lock_guard<std::mutex> lock(GContextList->Lock);
        for (auto& c : GContextList->Items)
            if (c.get() == shared) owned = std::move(c);
    }
    if (!owned) owned.reset(shared);
    owned.reset();
    GShared = nullptr;
}

bool UnpackLayout(int AWidth, int ADepth, int ABytesPerPixel, int APitch, int& AAlignment, int& ARowLength)
{
    AAlignment = 1;
    ARowLength = 0;
    const int64_t packed = static_cast<int64_t>(AWidth) * ABytesPerPixel;
    // Volume data, rows without a pitch and tightly packed rows.
    if (ADepth > 0 || APitch <= 0 || packed == APitch || ABytesPerPixel <= 0) return true;
    if (APitch < packed) return false;
    // Padded rows: the row length in pixels, and the alignment that rounds that
    // many pixels up to the pitch. Rows of 4-byte pixels use alignment 4.
    const int rowLength = APitch / ABytesPerPixel;
    const int64_t rowBytes = static_cast<int64_t>(rowLength) * ABytesPerPixel;
    for (int alignment : {ABytesPerPixel == 4 ? 4 : 1, 1, 2, 4, 8}) {
        if (((rowBytes + alignment - 1) / alignment) * alignment == APitch) {
            AAlignment = alignment;
            ARowLength = rowLength;
            return true;
        }
    }
    return false;
}

bool TCustomContextWindowsClass::PlatformIsContextAvailable() const
{
    // Asked several times per draw: once the shared context exists, no call.
    if (!GShared) CreateSharedContext();
    return GShared && GShared->FContext;
}

void TCustomContextWindowsClass::PlatformSetPixelState(int AWidth, int, int ADepth, int ABytesPerPixel,
                                                       int APitch) const
{
    if (!TKorvaneContext::IsContextAvailable()) return;
    // The EXT entry point resets the pixel store to its defaults while pushing;
    // with only the ARB extension (or none) the plain push serves.
    if (TKorvaneContext::DirectStateAccess() == 2000) glPushClientAttribDefaultEXT(GL_CLIENT_PIXEL_STORE_BIT);
    else glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    ClientAttribStackDepth = GLInteger(GL_CLIENT_ATTRIB_STACK_DEPTH);

    GLint alignment = 1, rowLength = 0;
    if (!UnpackLayout(AWidth, ADepth, ABytesPerPixel, APitch, alignment, rowLength)) {
        glPopClientAttrib();
        ClientAttribStackDepth = GLInteger(GL_CLIENT_ATTRIB_STACK_DEPTH);
        throw Exception(Format("rows %d bytes apart cannot be read as %d pixels of %d bytes", APitch, AWidth,
                               ABytesPerPixel));
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
}

bool TCustomContextWindowsClass::PlatformTextureCompressionAllowed() const
{
    return TKorvaneContext::HasExtension("GL_ARB_texture_compression");
}

TClass TCustomContextWindows::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TCustomContextWindows, TCustomContextWindowsClass>("Korvane.Context.GLES.Windows");
    return &info;
}

TCustomContextWindows::~TCustomContextWindows()
{
    GShuttingDown = true;
    if (this == GShared) {
        // The cached programs live in this GL context: they go while it is still
        // current, so that none outlives it with a name that a later context may
        // give to another program.
        if (FContext) TKorvaneContext::FreeProgramCache();
        GShared = nullptr;
        if (FContext) {
            // Releases the context from this thread and destroys it.
            platform::EGLDevice::Instance().DestroyContext();
            FContext = nullptr;
        }
    }
}

void TCustomContextWindows::SetWindowHandle(TWindowHandle* pHandle) { GWindowHandle = pHandle; }
TCustomContextWindows* TCustomContextWindows::SharedContext() { return GShared; }
bool TCustomContextWindows::ShuttingDown() { return GShuttingDown; }

void TCustomContextWindows::SetRequestedVersionForTesting(int AMajor, int AMinor)
{
    GTestMajor = AMajor;
    GTestMinor = AMinor;
}

void TCustomContextWindows::ResetSharedContextForTesting()
{
    ClassInfo().DestroySharedContext();
    platform::EGLDevice::Instance().DestroyContext();
    GShuttingDown = false;
    GWindowHandle = nullptr;
    ContextMaxDrawBuffers = 0;
}

// ---------------------------------------------------------------------------
// TContextOpenGLWindows

TContext3D* TContextOpenGLWindowsClass::CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight,
                                                         TMultisample AMultisample, bool ADepthStencil) const
{
    return Construct<TContextOpenGLWindows>(
        [&](TContextOpenGLWindows* c) { c->CreateFromWindow(AParent, AWidth, AHeight, AMultisample, ADepthStencil); });
}

TContext3D* TContextOpenGLWindowsClass::CreateFromTexture(TTexture* ATexture, TMultisample AMultisample,
                                                          bool ADepthStencil) const
{
    return Construct<TContextOpenGLWindows>(
        [&](TContextOpenGLWindows* c) { c->CreateFromTexture(ATexture, AMultisample, ADepthStencil); });
}

bool TContextOpenGLWindowsClass::Valid() const
{
    if (!GShared) CreateSharedContext();
    // A shared object whose GL context could not be made is not valid.
    return GShared && GShared->GLContext();
}

TClass TContextOpenGLWindows::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TContextOpenGLWindows, TContextOpenGLWindowsClass>("Korvane.Context.GLES.Windows");
    return &info;
}

void TContextOpenGLWindows::CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight,
                                             TMultisample AMultisample, bool ADepthStencil)
{
    FSupportMS = false;
    SetWindowHandle(AParent);
    TCustomContextWindows::CreateFromWindow(AParent, AWidth, AHeight, AMultisample, ADepthStencil);
    ClassInfo().CreateSharedContext();
}

void TContextOpenGLWindows::CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
{
    FSupportMS = false;
    TCustomContextWindows::CreateFromTexture(ATexture, AMultisample, ADepthStencil);
}

void TContextOpenGLWindows::DoCreateBuffer()
{
    if (!GShared || !Texture()) return;
    // Only errors of the frame buffers made here count below.
    DrainStaleGLErrors("TContextOpenGLWindows.DoCreateBuffer");
    CreateTextureFrameBuffers();
    if (HasAnyErrors()) throw EContext3DException(Format("error: cannot create render buffers %s", ClassName()));
}

void TContextOpenGLWindows::CreateTextureFrameBuffers()
{
    if (!FrameBufferObjectClass) throw EContext3DException("no frame buffer object class is installed");
    FDefaultFrameBuf.reset(FrameBufferObjectClass->Create(this, false, TMultisample::None, nullptr));
    FDefaultFrameBuf->AttachTexture(this, Texture(), TRenderTarget::Color_0);
    if (DepthStencil()) FDefaultFrameBuf->CreateDepthBuffer(Width(), Height());
    FTranslucentBuf.reset(FrameBufferObjectClass->Create(this, false, TMultisample::None, nullptr));
}

void RegisterOpenGLWindowsContext()
{
    Log::d("Registering Korvane3D TContextOpenGLWindows context ...");
    TContextManager::RegisterContext(TContextOpenGLWindows::ClassInfo(), true);
    Log::d("Korvane3D TContextOpenGLWindows context registered");
}

namespace units {
void WindowsContextInitialize()
{
    // The device outlives this unit's shut-down, which releases its context.
    platform::EGLDevice::Instance();
    RegisterOpenGLWindowsContext();
}
void WindowsContextFinalize()
{
    Log::d("Unregistering Korvane3D TContextOpenGLWindows context...");
    TCustomContextWindows::ClassInfo().DestroySharedContext();
    Log::d("Korvane3D TContextOpenGLWindows context unregistered");
    if (GContextList) {
        {
            std::lock_guard<std::mutex> lock(GContextList->Lock);
            for (auto& c : GContextList->Items) c.reset();
            GContextList->Items.clear();
        }
        delete GContextList;
        GContextList = nullptr;
    }
}
} // namespace units

} // namespace korvane
