#include "Platform.Types3D.h"

#include <algorithm>
#include <mutex>

namespace korvane {

// ---------------------------------------------------------------------------
// Vertex buffers

int VertexFormatSize(TVertexFormat AFormat)
{
    switch (AFormat) {
    case TVertexFormat::Vertex:
    case TVertexFormat::Normal:
    case TVertexFormat::BiNormal:
    case TVertexFormat::Tangent: return 12;
    case TVertexFormat::Color0:
    case TVertexFormat::Color1:
    case TVertexFormat::Color2:
    case TVertexFormat::Color3: return 4;
    case TVertexFormat::ColorF0:
    case TVertexFormat::ColorF1:
    case TVertexFormat::ColorF2:
    case TVertexFormat::ColorF3: return 16;
    case TVertexFormat::TexCoord0:
    case TVertexFormat::TexCoord1:
    case TVertexFormat::TexCoord2:
    case TVertexFormat::TexCoord3: return 8;
    }
    return 0;
}

int GetVertexSize(TVertexFormats AFormats)
{
    int size = 0;
    for (int i = 0; i <= static_cast<int>(TVertexFormat::Tangent); ++i)
        if (AFormats.Contains(static_cast<TVertexFormat>(i))) size += VertexFormatSize(static_cast<TVertexFormat>(i));
    return size;
}

int GetVertexOffset(TVertexFormat AFormat, TVertexFormats AFormats)
{
    if (!AFormats.Contains(AFormat)) return -1;
    int offset = 0;
    for (int i = 0; i < static_cast<int>(AFormat); ++i)
        if (AFormats.Contains(static_cast<TVertexFormat>(i))) offset += VertexFormatSize(static_cast<TVertexFormat>(i));
    return offset;
}

TVertexBuffer::TVertexBuffer(TVertexFormats AFormat, int ALength) : FFormat(AFormat), FVertexSize(GetVertexSize(AFormat))
{
    SetLength(ALength);
}

void TVertexBuffer::SetLength(int ALength)
{
    if (ALength < 0) throw EArgumentException(korvane::Format("invalid vertex count %d", ALength));
    FLength = ALength;
    FData.assign(static_cast<size_t>(Size()), 0);
}

void* TVertexBuffer::Attribute(TVertexFormat AFormat, int AIndex)
{
    return const_cast<void*>(static_cast<const TVertexBuffer*>(this)->Attribute(AFormat, AIndex));
}

const void* TVertexBuffer::Attribute(TVertexFormat AFormat, int AIndex) const
{
    const int offset = GetVertexOffset(AFormat, FFormat);
    if (offset < 0 || AIndex < 0 || AIndex >= FLength) return nullptr;
    return FData.data() + static_cast<size_t>(AIndex) * static_cast<size_t>(FVertexSize) + static_cast<size_t>(offset);
}

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
KORVANE_IMPLEMENT_CLASS(TVertexBuffer, "Platform.Types3D")
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
