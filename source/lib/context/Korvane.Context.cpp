#include "Korvane.Context.h"

#include <mutex>

#include "Korvane.Context.Extension.h"

namespace korvane {

float DefaultNearPlane = 0.1f;
float DefaultFarPlane = 10000.0f;
bool RaiseShaderCompileErrors = true;
TContextErrorHandler ContextErrorHandler = nullptr;
bool DesignTimeMode = false;
int ContextMaxDrawBuffers = 0;

namespace {
// The extensions object lives from the first question to the unit's shut-down.
TExtensions* GExtensions = nullptr;

struct TContextUnit {
    ~TContextUnit() { FreeAndNil(GExtensions); }
} ContextUnit;
} // namespace

// ---------------------------------------------------------------------------
// TKorvaneContextClass: abstract until a platform class answers

void TKorvaneContextClass::AbstractCall(const char* AName) const
{
    throw EAbstractError(Format("Abstract Error: %s.%s", ClassName(), AName));
}

bool TKorvaneContextClass::Valid() const { AbstractCall("Valid"); }
void TKorvaneContextClass::CreateSharedContext() const { AbstractCall("CreateSharedContext"); }
void TKorvaneContextClass::DestroySharedContext() const { AbstractCall("DestroySharedContext"); }
int TKorvaneContextClass::PlatformDirectStateAccess() const { AbstractCall("PlatformDirectStateAccess"); }
void TKorvaneContextClass::PlatformSetPixelState(int, int, int, int, int) const { AbstractCall("PlatformSetPixelState"); }
void TKorvaneContextClass::PlatformUnsetPixelState() const { AbstractCall("PlatformUnsetPixelState"); }
bool TKorvaneContextClass::PlatformIsContextAvailable() const { AbstractCall("PlatformIsContextAvailable"); }
std::string TKorvaneContextClass::PlatformGetVendorName() const { AbstractCall("PlatformGetVendorName"); }
std::string TKorvaneContextClass::PlatformGetRendererName() const { AbstractCall("PlatformGetRendererName"); }
std::string TKorvaneContextClass::PlatformGetVersion() const { AbstractCall("PlatformGetVersion"); }
std::string TKorvaneContextClass::PlatformGetExtensionString() const { AbstractCall("PlatformGetExtensionString"); }
bool TKorvaneContextClass::PlatformHasAnyErrors() const { AbstractCall("PlatformHasAnyErrors"); }
bool TKorvaneContextClass::PlatformHasAnyErrors(intptr_t&) const { AbstractCall("PlatformHasAnyErrors"); }
TContextShaderArch TKorvaneContextClass::PlatformGetShaderArch() const { AbstractCall("PlatformGetShaderArch"); }
int TKorvaneContextClass::PlatformMaxTextureSize() const { AbstractCall("PlatformMaxTextureSize"); }
int TKorvaneContextClass::PlatformMaxTexture3DSize() const { AbstractCall("PlatformMaxTexture3DSize"); }
int TKorvaneContextClass::PlatformTextureUnitCount() const { AbstractCall("PlatformTextureUnitCount"); }
int TKorvaneContextClass::PlatformMaxTextureImageUnits() const { AbstractCall("PlatformMaxTextureImageUnits"); }
int TKorvaneContextClass::PlatformMaxVertexShaderUniformBlocks() const
{
    AbstractCall("PlatformMaxVertexShaderUniformBlocks");
}
int TKorvaneContextClass::PlatformMaxFragmentShaderUniformBlocks() const
{
    AbstractCall("PlatformMaxFragmentShaderUniformBlocks");
}
int TKorvaneContextClass::PlatformMaxUniformBlockSize() const { AbstractCall("PlatformMaxUniformBlockSize"); }
int TKorvaneContextClass::PlatformMaxDrawBuffers() const { AbstractCall("PlatformMaxDrawBuffers"); }
int TKorvaneContextClass::PlatformMaxLightCount() const { AbstractCall("PlatformMaxLightCount"); }
TContextStyles TKorvaneContextClass::PlatformStyle() const { AbstractCall("PlatformStyle"); }
bool TKorvaneContextClass::PlatformTextureCompressionAllowed() const
{
    AbstractCall("PlatformTextureCompressionAllowed");
}

TContextStyles TKorvaneContextClass::Style() const { return TKorvaneContext::Style(); }
int TKorvaneContextClass::MaxLightCount() const { return TKorvaneContext::MaxLightCount(); }
int TKorvaneContextClass::MaxTextureSize() const { return TKorvaneContext::MaxTextureSize(); }
int TKorvaneContextClass::TextureUnitCount() const { return TKorvaneContext::TextureUnitCount(); }
TPixelFormat TKorvaneContextClass::PixelFormat() const { return TKorvaneContext::PixelFormat(); }

// ---------------------------------------------------------------------------
// TKorvaneContext

TClass TKorvaneContext::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info = *new TClassInfo<TKorvaneContext, TKorvaneContextClass>("Korvane.Context");
    return &info;
}

void TKorvaneContext::CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight, TMultisample AMultisample,
                                       bool ADepthStencil)
{
    TContext3D::CreateFromWindow(AParent, AWidth, AHeight, AMultisample, ADepthStencil);
}

void TKorvaneContext::CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
{
    TContext3D::CreateFromTexture(ATexture, AMultisample, ADepthStencil);
    if (!KorvaneClassType().Valid()) throw Exception("TKorvaneContext.CreateFromTexture failed - invalid context");
    CreateBuffer();
}

void TKorvaneContext::InitContext()
{
    TContext3D::InitContext();
    FNearPlane = DefaultNearPlane;
    FFarPlane = DefaultFarPlane;
}

const TKorvaneContextClass& TKorvaneContext::PlatformClass()
{
    const TContextClass& c = TContextManager::DefaultContextClass();
    if (!c.InheritsFrom(StaticClass()))
        throw EContext3DException(
            Format("the default context class %s does not descend from TKorvaneContext", c.ClassName()));
    return static_cast<const TKorvaneContextClass&>(c);
}

int TKorvaneContext::DirectStateAccess() { return PlatformClass().PlatformDirectStateAccess(); }

void TKorvaneContext::SetPixelState(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch)
{
    PlatformClass().PlatformSetPixelState(AWidth, AHeight, ADepth, ABytesPerPixel, APitch);
}

void TKorvaneContext::UnsetPixelState() { PlatformClass().PlatformUnsetPixelState(); }
bool TKorvaneContext::IsContextAvailable() { return PlatformClass().PlatformIsContextAvailable(); }
std::string TKorvaneContext::GetVendorName() { return PlatformClass().PlatformGetVendorName(); }
std::string TKorvaneContext::GetRendererName() { return PlatformClass().PlatformGetRendererName(); }
std::string TKorvaneContext::GetVersion() { return PlatformClass().PlatformGetVersion(); }
std::string TKorvaneContext::GetExtensionString() { return PlatformClass().PlatformGetExtensionString(); }
bool TKorvaneContext::HasAnyErrors() { return PlatformClass().PlatformHasAnyErrors(); }
bool TKorvaneContext::HasAnyErrors(intptr_t& AError) { return PlatformClass().PlatformHasAnyErrors(AError); }
TContextShaderArch TKorvaneContext::GetShaderArch() { return PlatformClass().PlatformGetShaderArch(); }
int TKorvaneContext::MaxTextureSize() { return PlatformClass().PlatformMaxTextureSize(); }
int TKorvaneContext::MaxTexture3DSize() { return PlatformClass().PlatformMaxTexture3DSize(); }
int TKorvaneContext::MaxTextureImageUnits() { return PlatformClass().PlatformMaxTextureImageUnits(); }
int TKorvaneContext::MaxVertexShaderUniformBlocks() { return PlatformClass().PlatformMaxVertexShaderUniformBlocks(); }
int TKorvaneContext::MaxFragmentShaderUniformBlocks()
{
    return PlatformClass().PlatformMaxFragmentShaderUniformBlocks();
}
int TKorvaneContext::MaxUniformBlockSize() { return PlatformClass().PlatformMaxUniformBlockSize(); }
int TKorvaneContext::MaxDrawBuffers() { return PlatformClass().PlatformMaxDrawBuffers(); }
int TKorvaneContext::MaxLightCount() { return PlatformClass().PlatformMaxLightCount(); }
TContextStyles TKorvaneContext::Style() { return PlatformClass().PlatformStyle(); }
bool TKorvaneContext::TextureCompressionAllowed() { return PlatformClass().PlatformTextureCompressionAllowed(); }
int TKorvaneContext::TextureUnitCount() { return 8; }
TPixelFormat TKorvaneContext::PixelFormat() { return TPixelFormat::BGRA; }

TExtensions* TKorvaneContext::Extensions()
{
    // Without a usable GL context there is no extension to use.
    if (!IsContextAvailable()) return nullptr;
    if (GExtensions) return GExtensions;
    if (!ExtensionsClass) throw EContext3DException("no GPU extensions class is installed");
    GExtensions = ExtensionsClass->Create();
    return GExtensions;
}

bool TKorvaneContext::HasExtension(const std::string& AName)
{
    TExtensions* e = Extensions();
    return e && e->Extension(AName);
}

} // namespace korvane
