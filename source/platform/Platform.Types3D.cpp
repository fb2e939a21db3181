#include "Platform.Types3D.h"

#include <algorithm>
#include <mutex>

namespace korvane {

// ---------------------------------------------------------------------------
// Shaders

TContextShaderVariable TContextShaderVariable::Create(const std::string& AName, TContextShaderVariableKind AKind,
                                                      int AIndex, int ASize)
{
    TContextShaderVariable v;
    v.Name = AName;
    v.Kind = AKind;
    v.Index = AIndex;
    v.Size = ASize;
    return v;
}

TContextShaderSource::TContextShaderSource(TContextShaderArch AArch, const std::string& ACode,
                                           std::vector<TContextShaderVariable> AVariables)
    : Arch(AArch), Code(ACode.begin(), ACode.end()), Variables(std::move(AVariables))
{
}

TContextShader::TContextShader(TContextShaderKind AKind, std::string AName, std::vector<TContextShaderSource> ASources)
    : FKind(AKind), FName(std::move(AName)), FSources(std::move(ASources))
{
}

TContextShaderSource TContextShader::GetSourceByArch(TContextShaderArch AArch) const
{
    for (const auto& s : FSources)
        if (s.Arch == AArch) return s;
    return {};
}

KORVANE_IMPLEMENT_CLASS(TTexture, "Platform.Types3D")
KORVANE_IMPLEMENT_CLASS(TContextShader, "Platform.Types3D")

TClass TContext3D::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info = *new TClassInfo<TContext3D, TContextClass>("Platform.Types3D");
    return &info;
}

TContext3D* TContextClass::CreateFromWindow(TWindowHandle*, int, int, TMultisample, bool) const
{
    throw EAbstractError("Cannot create an instance of the abstract class " + ClassName());
}

TContext3D* TContextClass::CreateFromTexture(TTexture*, TMultisample, bool) const
{
    throw EAbstractError("Cannot create an instance of the abstract class " + ClassName());
}

void TContext3D::CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight, TMultisample AMultisample,
                                  bool ADepthStencil)
{
    FParent = AParent;
    FWidth = AWidth;
    FHeight = AHeight;
    FMultisample = AMultisample;
    FDepthStencil = ADepthStencil;
    InitContext();
    CreateBuffer();
}

void TContext3D::CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
{
    FTexture = ATexture;
    if (ATexture) {
        FWidth = ATexture->Width();
        FHeight = ATexture->Height();
    }
    FMultisample = AMultisample;
    FDepthStencil = ADepthStencil;
    InitContext();
}

void TContext3D::SetSize(int AWidth, int AHeight)
{
    if (AWidth == FWidth && AHeight == FHeight) return;
    FWidth = AWidth;
    FHeight = AHeight;
    DoResize();
}

namespace {
struct TContextRegistry {
    std::mutex Lock;
    std::vector<const TContextClass*> Classes;
    const TContextClass* Default = nullptr;
};

TContextRegistry& Registry()
{
    static TContextRegistry registry;
    return registry;
}
} // namespace

void TContextManager::RegisterContext(const TContextClass& AClass, bool ADefault)
{
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.Lock);
    if (std::find(r.Classes.begin(), r.Classes.end(), &AClass) == r.Classes.end()) r.Classes.push_back(&AClass);
    if (ADefault) r.Default = &AClass;
}

const TContextClass& TContextManager::DefaultContextClass()
{
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.Lock);
    if (r.Default) return *r.Default;
    if (!r.Classes.empty()) return *r.Classes.front();
    throw EContext3DException("no 3D context class is registered");
}

std::vector<const TContextClass*> TContextManager::RegisteredClasses()
{
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.Lock);
    return r.Classes;
}

TContext3D* TContextManager::CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight,
                                              TMultisample AMultisample, bool ADepthStencil)
{
    return DefaultContextClass().CreateFromWindow(AParent, AWidth, AHeight, AMultisample, ADepthStencil);
}

TContext3D* TContextManager::CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
{
    return DefaultContextClass().CreateFromTexture(ATexture, AMultisample, ADepthStencil);
}

} // namespace korvane
