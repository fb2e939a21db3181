#include "Platform.Types3D.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>

#include "Platform.Log.h"
#include "Platform.Materials3D.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Vertex declarations

namespace {
TVertexDeclaration BuildVertexDeclaration(TVertexFormats AFormats)
{
    TVertexDeclaration result;
    int offset = 0;
    for (unsigned i = 0; i < VertexFormatCount; ++i) {
        const auto f = static_cast<TVertexFormat>(i);
        if (!AFormats.Contains(f)) continue;
        result.push_back({f, offset});
        offset += VertexFormatSize(f);
    }
    return result;
}

// Every declaration made so far, by format; entries are never removed, so the
// references handed out stay valid for the whole run.
struct TDeclarationCache {
    std::mutex Lock;
    std::map<uint64_t, std::unique_ptr<const TVertexDeclaration>> Items;
};

TDeclarationCache& DeclarationCache()
{
    // Never destroyed: a declaration may be asked for while other units shut down.
    static auto* cache = new TDeclarationCache();
    return *cache;
}
} // namespace

const TVertexDeclaration& GetVertexDeclarations(TVertexFormats AFormats)
{
    // Every draw asks for the declaration of its buffer's format: the thread's
    // own small table answers the formats it met lately without taking the lock.
    struct TRecent {
        uint64_t Bits = ~uint64_t(0);
        const TVertexDeclaration* Declaration = nullptr;
    };
    thread_local std::array<TRecent, 16> recent;
    const uint64_t bits = AFormats.Bits();
    TRecent& slot = recent[(bits ^ (bits >> 4) ^ (bits >> 8) ^ (bits >> 12)) & 15];
    if (slot.Bits == bits) return *slot.Declaration;
    TDeclarationCache& cache = DeclarationCache();
    std::lock_guard<std::mutex> lock(cache.Lock);
    auto& item = cache.Items[bits];
    if (!item) item = std::make_unique<const TVertexDeclaration>(BuildVertexDeclaration(AFormats));
    slot = {bits, item.get()};
    return *item;
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

TContextShader::~TContextShader()
{
    if (FHandle == 0) return;
    try {
        TContextManager::FinalizeShader(this);
    } catch (const Exception& e) {
        Log::d("<ERROR> %s: the compiled shader could not be deleted: %s", ClassName(), e.Message());
    }
}

TContextShaderSource TContextShader::GetSourceByArch(TContextShaderArch AArch) const
{
    for (const auto& s : FSources)
        if (s.Arch == AArch) return s;
    return {};
}

KORVANE_IMPLEMENT_CLASS(TContextShader, "Platform.Types3D")

// ---------------------------------------------------------------------------
// TShaderManager

namespace {

using TShaderRegistry = std::map<std::string, TOwned<TContextShader>, std::less<>>;

// Made on first use, emptied by UnInitialize; the map itself lives for the
// whole run so that no exit-time destructor frees GL objects.
TShaderRegistry& ShaderRegistry()
{
    static auto* registry = new TShaderRegistry();
    return *registry;
}

} // namespace

TContextShader* TShaderManager::RegisterShaderFromData(const std::string& AName, TContextShaderKind AKind,
                                                       const std::string& AOriginalSource,
                                                       const std::vector<TContextShaderSource>& ASources)
{
    TShaderRegistry& registry = ShaderRegistry();
    auto found = registry.find(AName);
    if (found == registry.end()) {
        TOwned<TContextShader> shader(new TContextShader(AKind, AName, ASources));
        shader->FOriginalSource = AOriginalSource;
        return registry.emplace(AName, std::move(shader)).first->second.get();
    }
    TContextShader* shader = found->second.get();
    if (shader->Kind() != AKind)
        throw EContext3DException(Format("shader %s is registered as another kind of shader", AName));
    // The old stage goes with the programs linked from it; the next use compiles the new text.
    if (shader->Handle() != 0) TContextManager::FinalizeShader(shader);
    shader->FSources = ASources;
    shader->FOriginalSource = AOriginalSource;
    return shader;
}

TContextShader* TShaderManager::FindShader(const std::string& AName)
{
    TShaderRegistry& registry = ShaderRegistry();
    auto found = registry.find(AName);
    return found == registry.end() ? nullptr : found->second.get();
}

int TShaderManager::ShaderCount() { return static_cast<int>(ShaderRegistry().size()); }

void TShaderManager::UnregisterShader(const std::string& AName)
{
    TShaderRegistry& registry = ShaderRegistry();
    auto found = registry.find(AName);
    if (found == registry.end()) return;
    TOwned<TContextShader> shader = std::move(found->second);
    registry.erase(found);
}

void TShaderManager::UnInitialize()
{
    TShaderRegistry registry;
    registry.swap(ShaderRegistry());
}

namespace units {
// The registered shaders go while the GL context still exists.
void PlatformTypes3DFinalize() { TShaderManager::UnInitialize(); }
} // namespace units

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

void TContextClass::DoInitializeTexture(TTexture*) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".DoInitializeTexture");
}

void TContextClass::DoUpdateTexture(TTexture*, const void*, int) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".DoUpdateTexture");
}

void TContextClass::DoFinalizeTexture(TTexture*) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".DoFinalizeTexture");
}

void TContextClass::DoInitializeShader(TContextShader*) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".DoInitializeShader");
}

void TContextClass::DoFinalizeShader(TContextShader*) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".DoFinalizeShader");
}

TTexture* TContextClass::DoBitmapToTexture(TBitmap* ABitmap) const
{
    if (!ABitmap) return nullptr;
    return InitializeObject(new TTexture(), [&](TTexture* texture) { texture->Assign(ABitmap); });
}

bool TContext3D::DoCopyToBits(void*, int, const TRect&)
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".DoCopyToBits");
}

bool TContext3D::DoCopyToBitmap(TBitmap* ADest, const TRect& ARect)
{
    if (!ADest || ARect.IsEmpty()) return false;
    if (ADest->Width() < ARect.Width() || ADest->Height() < ARect.Height())
        throw EInvalidOperation(Format("cannot copy %d x %d pixels into a bitmap of %d x %d", ARect.Width(),
                                       ARect.Height(), ADest->Width(), ADest->Height()));
    TBitmapData data;
    if (!ADest->Map(TMapAccess::Write, data)) return false;
    bool copied = false;
    try {
        copied = DoCopyToBits(data.Data, data.Pitch, ARect);
    } catch (...) {
        data.Access = TMapAccess::Read;
        ADest->Unmap(data);
        throw;
    }
    // Nothing copied: the bitmap has not changed.
    if (!copied) data.Access = TMapAccess::Read;
    ADest->Unmap(data);
    return copied;
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
        FScale = ATexture->TextureScale();
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

// ---------------------------------------------------------------------------
// TContext3D: scenes

namespace {
std::atomic<int> GSceneCount{0};

// The members of the group that AState belongs to.
TContextStates StateGroup(TContextState AState)
{
    using S = TContextState;
    switch (AState) {
    case S::cs2DScene:
    case S::cs3DScene: return {S::cs2DScene, S::cs3DScene};
    case S::csZTestOn:
    case S::csZTestOff: return {S::csZTestOn, S::csZTestOff};
    case S::csZWriteOn:
    case S::csZWriteOff: return {S::csZWriteOn, S::csZWriteOff};
    case S::csAlphaBlendOn:
    case S::csAlphaBlendOff: return {S::csAlphaBlendOn, S::csAlphaBlendOff};
    case S::csStencilOn:
    case S::csStencilOff: return {S::csStencilOn, S::csStencilOff};
    case S::csColorWriteOn:
    case S::csColorWriteOff: return {S::csColorWriteOn, S::csColorWriteOff};
    case S::csScissorOn:
    case S::csScissorOff: return {S::csScissorOn, S::csScissorOff};
    case S::csFrontFace:
    case S::csBackFace:
    case S::csAllFace: return {S::csFrontFace, S::csBackFace, S::csAllFace};
    }
    return {AState};
}
} // namespace

int TContext3D::SceneCount() { return GSceneCount.load(); }

void TContext3D::IncBeginSceneCount()
{
    if (FBeginSceneCount++ == 0) ++GSceneCount;
}

void TContext3D::DecBeginSceneCount()
{
    if (FBeginSceneCount <= 0) return;
    if (--FBeginSceneCount == 0) --GSceneCount;
}

bool TContext3D::BeginScene()
{
    if (FBeginSceneCount == 0) {
        FCurrentMatrix = TMatrix3D::Identity();
        FRecalcProjectionMatrix = true;
        FRecalcScreenMatrix = true;
        FRecalcMVP = true;
        if (!DoBeginScene()) return false;
    }
    IncBeginSceneCount();
    return true;
}

void TContext3D::EndScene()
{
    if (FBeginSceneCount <= 0) return;
    if (FBeginSceneCount == 1) {
        // The count drops also when the end fails, so the scene is closed either way.
        try {
            DoEndScene();
        } catch (...) {
            DecBeginSceneCount();
            throw;
        }
    }
    DecBeginSceneCount();
}

// ---------------------------------------------------------------------------
// TContext3D: states

void TContext3D::SetContextState(TContextState AState)
{
    // Always applied: the GL state may have been changed behind the context's back.
    FCurrentStates = (FCurrentStates - StateGroup(AState)).Include(AState);
    DoSetContextState(AState);
}

void TContext3D::PushContextStates() { FStateStack.push_back(FCurrentStates); }

void TContext3D::PopContextStates()
{
    if (FStateStack.empty()) return;
    const TContextStates saved = FStateStack.back();
    FStateStack.pop_back();
    for (int i = 0; i < ContextStateCount; ++i) {
        const auto state = static_cast<TContextState>(i);
        if (saved.Contains(state) && !FCurrentStates.Contains(state)) SetContextState(state);
    }
}

// ---------------------------------------------------------------------------
// TContext3D: matrices

void TContext3D::SetMatrix(const TMatrix3D& M)
{
    FCurrentMatrix = M;
    FRecalcMVP = true;
}

void TContext3D::SetCameraMatrix(const TMatrix3D& M)
{
    FCurrentCameraMatrix = M;
    FCurrentCameraInvMatrix = M.Inverse();
    FCurrentCameraEyePosition = M.EyePosition();
    FRecalcMVP = true;
}

void TContext3D::SetCameraAngleOfView(float AAngle)
{
    FCurrentAngleOfView = AAngle;
    FRecalcProjectionMatrix = true;
    FRecalcMVP = true;
}

void TContext3D::SetRenderToMatrix(const TMatrix3D& M)
{
    FRenderToMatrix = M;
    FRecalcProjectionMatrix = true;
    FRecalcScreenMatrix = true;
    FRecalcMVP = true;
}

void TContext3D::SetCenterOffset(const TPointF& AOffset)
{
    FCenterOffset = AOffset;
    FRecalcProjectionMatrix = true;
    FRecalcMVP = true;
}

TMatrix3D TContext3D::GetCurrentProjectionMatrix()
{
    FRecalcProjectionMatrix = false;
    return FProjectionMatrix;
}

TMatrix3D TContext3D::GetCurrentScreenMatrix()
{
    FRecalcScreenMatrix = false;
    return FScreenMatrix;
}

TMatrix3D TContext3D::CurrentModelViewProjectionMatrix()
{
    if (FRecalcMVP || FRecalcProjectionMatrix) {
        const TMatrix3D projection = GetCurrentProjectionMatrix();
        FMVPMatrix = FCurrentMatrix * FCurrentCameraMatrix * projection;
        FRecalcMVP = false;
    }
    return FMVPMatrix;
}

void TContext3D::Pick(float X, float Y, TProjection AProj, TVector3D& RayPos, TVector3D& RayDir)
{
    // The pixel in normalised device coordinates (y up), unprojected at the near
    // and the far plane.
    const double w = FWidth > 0 ? FWidth : 1, h = FHeight > 0 ? FHeight : 1;
    const float nx = float(2.0 * X / w - 1.0), ny = float(1.0 - 2.0 * Y / h);
    const TMatrix3D inverse = AProj == TProjection::Screen
                                  ? GetCurrentScreenMatrix().Inverse()
                                  : (FCurrentCameraMatrix * GetCurrentProjectionMatrix()).Inverse();
    const TPoint3D nearPoint = (TVector3D(nx, ny, -1, 1) * inverse).ToPoint3D();
    const TPoint3D farPoint = (TVector3D(nx, ny, 1, 1) * inverse).ToPoint3D();
    const TPoint3D origin = AProj == TProjection::Screen ? nearPoint : FCurrentCameraMatrix.EyePosition();
    RayPos = TVector3D(origin, 1);
    RayDir = TVector3D((farPoint - origin).Normalize(), 0);
}

// ---------------------------------------------------------------------------
// TContext3D: shaders

void TContext3D::SetShaders(TContextShader* VS, TContextShader* PS)
{
    if (!VS || !PS) return;
    if (VS->Handle() == 0) TContextManager::InitializeShader(VS);
    if (PS->Handle() == 0) TContextManager::InitializeShader(PS);
    DoSetShaders(VS, PS);
}

// ---------------------------------------------------------------------------
// TContext3D: drawing

void TContext3D::ApplyMaterialWithMatrices(TMaterial* AMaterial)
{
    if (!AMaterial) return;
    AMaterial->Apply(this);
    const std::string mvp = AMaterial->GetMaterialProperty(TMaterialProperty::ModelViewProjection);
    if (!mvp.empty()) SetShaderVariable(mvp, CurrentModelViewProjectionMatrix());
    const std::string mv = AMaterial->GetMaterialProperty(TMaterialProperty::ModelView);
    if (!mv.empty()) SetShaderVariable(mv, FCurrentMatrix);
    const std::string mvit = AMaterial->GetMaterialProperty(TMaterialProperty::ModelViewInverseTranspose);
    if (!mvit.empty()) SetShaderVariable(mvit, FCurrentMatrix.Inverse().Transpose());
}

void TContext3D::DrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                const TVertexDeclaration& VertexDeclaration, int VertexSize, int VertexCount,
                                int IndexSize, int IndexCount, TMaterial* AMaterial, float AOpacity)
{
    if (VertexSize < 0 || VertexCount < 0 || IndexSize < 0 || IndexCount < 0)
        throw EArgumentException(korvane::Format("invalid draw: vertex size %d, %d vertices, index size %d, %d indices",
                                                 VertexSize, VertexCount, IndexSize, IndexCount));
    FCurrentOpacity = AOpacity;
    FCurrentMaterial = AMaterial;
    try {
        ApplyMaterialWithMatrices(AMaterial);
        DoDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize,
                         IndexCount);
    } catch (...) {
        FCurrentMaterial = nullptr;
        if (AMaterial) AMaterial->Reset(this);
        throw;
    }
    FCurrentMaterial = nullptr;
    if (AMaterial) AMaterial->Reset(this);
}

void TContext3D::DrawPrimitives(TPrimitivesKind AKind, const TVertexBuffer* AVertices, const TIndexBuffer* AIndices,
                                TMaterial* AMaterial, float AOpacity)
{
    if (!AVertices) return;
    DrawPrimitives(AKind, AVertices->Buffer(), AIndices ? AIndices->Buffer() : nullptr,
                   GetVertexDeclarations(AVertices->Format()), AVertices->VertexSize(), AVertices->Length(),
                   AIndices ? static_cast<int>(AIndices->IndexSize()) : 2, AIndices ? AIndices->Length() : 0,
                   AMaterial, AOpacity);
}

void TContext3D::DoDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                  const TVertexDeclaration& VertexDeclaration, int VertexSize, int VertexCount,
                                  int IndexSize, int IndexCount)
{
    if (IndexSize == 4 && IndexCount > 0 && GetIndexBufferSupport() != TIndexBufferSupport::Int32)
        throw EContext3DException(korvane::Format("%s does not draw 32-bit indices", ClassName()));
    DoDrawPrimitivesBatch(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize,
                          IndexCount);
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
    FDefaultClass.store(r.Default ? r.Default : r.Classes.front(), std::memory_order_release);
}

void TContextManager::NoContextClass() { throw EContext3DException("no 3D context class is registered"); }

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

void TContextManager::InitializeShader(TContextShader* AShader)
{
    if (AShader) DefaultContextClass().DoInitializeShader(AShader);
}

void TContextManager::FinalizeShader(TContextShader* AShader)
{
    if (AShader) DefaultContextClass().DoFinalizeShader(AShader);
}

} // namespace korvane
