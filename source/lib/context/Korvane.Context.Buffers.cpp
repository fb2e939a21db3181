#include "Korvane.Context.Buffers.h"

#include <memory>

#include "Korvane.DefTypes.Cache.h"
#include "Platform.Threads.h"

namespace korvane {

const TBufferObjectClass* BufferObjectClass = nullptr;

const TBufferObjectClass& InstalledBufferObjectClass()
{
    if (!BufferObjectClass) throw EContext3DException("no GPU buffer object class is installed");
    return *BufferObjectClass;
}

// ---------------------------------------------------------------------------
// TBufferObject: abstract

TBufferObject* TBufferObjectClass::Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext) const
{
    return Construct<TBufferObject>(AUsage, ATarget, AContext);
}

TClass TBufferObject::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info = *new TClassInfo<TBufferObject, TBufferObjectClass>("Korvane.Context.Buffers");
    return &info;
}

void TBufferObject::Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext)
{
    FUsage = AUsage;
    FTarget = ATarget;
    FContext = AContext;
    FSize = 0;
}

void TBufferObject::AbstractCall(const char* AName) const
{
    throw EAbstractError(Format("Abstract Error: %s.%s", ClassName(), AName));
}

intptr_t TBufferObject::Bind() { AbstractCall("Bind"); }
void TBufferObject::Unbind() { AbstractCall("Unbind"); }
void TBufferObject::Push(const void*, intptr_t) { AbstractCall("Push"); }
void* TBufferObject::SynchronizedMap(TBufferAccessMode) { AbstractCall("SynchronizedMap"); }
void TBufferObject::SynchronizedUnmap() { AbstractCall("SynchronizedUnmap"); }
void TBufferObject::Clear() { AbstractCall("Clear"); }
void TBufferObject::LinkWithBindingPoint(uint32_t, bool) { AbstractCall("LinkWithBindingPoint"); }
void TBufferObject::LinkWithShaderProgram(TShaderProgram*, const std::string&, const void*, uint32_t, bool)
{
    AbstractCall("LinkWithShaderProgram");
}

void PushBound(TBufferObject* ABuffer, const void* AData, intptr_t ASize)
{
    ABuffer->Bind();
    try {
        ABuffer->Push(AData, ASize);
    } catch (...) {
        ABuffer->Unbind();
        throw;
    }
    ABuffer->Unbind();
}

// ---------------------------------------------------------------------------
// TMeshBufferObject

namespace {
// GL work runs on the main thread, which owns the GL context: from another
// thread it is handed over and waited for.
template <typename F>
auto OnGLThread(F&& work) -> decltype(work())
{
    using R = decltype(work());
    if constexpr (std::is_void_v<R>) {
        TThread::Synchronize(work);
    } else {
        R result{};
        TThread::Synchronize([&] { result = work(); });
        return result;
    }
}

size_t Slot(TMeshBufferComponent AIndex)
{
    const auto i = static_cast<size_t>(AIndex);
    if (i >= MeshBufferComponentCount)
        throw EArgumentException(Format("invalid mesh buffer component %d", static_cast<int>(AIndex)));
    return i;
}
// Makes ADest hold what ASource holds, as a second holder of a shared object:
// what ADest held before is forgotten without being freed.
template <typename T>
void Borrow(TOwned<T>& ADest, const TOwned<T>& ASource)
{
    static_cast<void>(ADest.release());
    ADest.reset(ASource.get());
}
template <typename T, size_t N>
void Borrow(std::array<TOwned<T>, N>& ADest, const std::array<TOwned<T>, N>& ASource)
{
    for (size_t i = 0; i < N; ++i) Borrow(ADest[i], ASource[i]);
}
} // namespace

KORVANE_IMPLEMENT_CLASS(TMeshBufferObject, "Korvane.Context.Buffers")

TMeshBufferObject::TMeshBufferObject(TMeshBufferObject* AStaticBuffer) : StaticBuffer(AStaticBuffer) {}

void TMeshBufferObject::BeforeDestruction()
{
    ClearAll();
    StaticBuffer = nullptr;
    FTempStream.reset();
    TObject::BeforeDestruction();
}

TBufferObject* TMeshBufferObject::ComponentLocked(TMeshBufferComponent AIndex)
{
    TOwned<TBufferObject>& c = FComponents[Slot(AIndex)];
    if (!c) {
        c.reset(InstalledBufferObjectClass().Create(TBufferUsage::StaticDraw,
                                                    AIndex == TMeshBufferComponent::Indices
                                                        ? TBufferBindingTarget::ElementArray
                                                        : TBufferBindingTarget::_Array,
                                                    nullptr));
        static constexpr const char* Roles[MeshBufferComponentCount] = {
            "Vertex",    "Normal",    "Color0",    "Color1",    "Color2",   "Color3",  "ColorF0", "ColorF1", "ColorF2",
            "ColorF3",   "TexCoord0", "TexCoord1", "TexCoord2", "TexCoord3", "BiNormal", "Tangent", "All",     "Indices"};
        c->SetLabel(std::string("TMeshBufferObject.") + Roles[Slot(AIndex)]);
    }
    return c.get();
}

TBufferObject* TMeshBufferObject::GetComponent(TMeshBufferComponent AIndex)
{
    return OnGLThread([&] {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        return ComponentLocked(AIndex);
    });
}

bool TMeshBufferObject::ComponentAvailable(TMeshBufferComponent AIndex)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FComponents[Slot(AIndex)] != nullptr;
}

bool TMeshBufferObject::GetIsCompressed(TMeshBufferComponent AIndex)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FCompressed[Slot(AIndex)] != nullptr;
}

TMemoryStream* TMeshBufferObject::GetCompressed(TMeshBufferComponent AIndex)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FCompressed[Slot(AIndex)].get();
}

void TMeshBufferObject::SetCompressed(TMeshBufferComponent AIndex, TMemoryStream* AValue)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    TOwned<TMemoryStream>& slot = FCompressed[Slot(AIndex)];
    if (slot.get() == AValue) return;
    slot.reset(AValue);
}

void TMeshBufferObject::PushData(TMeshBufferComponent AIndex, const void* AData, intptr_t ASize)
{
    Slot(AIndex);
    OnGLThread([&] {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        PushBound(ComponentLocked(AIndex), AData, ASize);
    });
}

void TMeshBufferObject::PushData(TMeshBufferComponent AIndex, const TVertexBuffer* ABuffer)
{
    Slot(AIndex);
    if (!ABuffer) return;
    if (AIndex == TMeshBufferComponent::Indices) throw Exception("failed to push index data to mesh buffer object");
    if (AIndex == TMeshBufferComponent::All) {
        PushData(AIndex, ABuffer->Buffer(), static_cast<intptr_t>(ABuffer->Size()));
        return;
    }
    OnGLThread([&] {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        if (!FTempStream) FTempStream = MakeOwned<TMemoryStream>();
        FTempStream->SetPosition(0);
        FTempStream->SetSize(0);
        TAnimationFrameCompression::SetSourceStream(static_cast<TVertexFormat>(AIndex), ABuffer, FTempStream.get());
        PushData(AIndex, FTempStream->Memory(), static_cast<intptr_t>(FTempStream->Size()));
    });
}

TMemoryStream* TMeshBufferObject::Decompress(TMeshBufferComponent AIndex)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    TMemoryStream* compressed = FCompressed[Slot(AIndex)].get();
    if (!compressed)
        throw Exception(Format("failed to decompress mesh buffer component %d - no compressed data",
                               static_cast<int>(AIndex)));
    compressed->SetPosition(0);
    return TAnimationFrameCompression::Decompress(compressed);
}

intptr_t TMeshBufferObject::BindStatic(TMeshBufferComponent AComponent, const char* AMessage)
{
    return OnGLThread([&]() -> intptr_t {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        if (!StaticBuffer) throw Exception(AMessage);
        std::lock_guard<std::recursive_mutex> staticLock(StaticBuffer->FLock);
        TBufferObject* c = StaticBuffer->FComponents[Slot(AComponent)].get();
        return c ? c->Bind() : -1;
    });
}

void TMeshBufferObject::UnbindStatic(TMeshBufferComponent AComponent, const char* AMessage)
{
    OnGLThread([&] {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        if (!StaticBuffer) throw Exception(AMessage);
        std::lock_guard<std::recursive_mutex> staticLock(StaticBuffer->FLock);
        if (TBufferObject* c = StaticBuffer->FComponents[Slot(AComponent)].get()) c->Unbind();
    });
}

intptr_t TMeshBufferObject::BindStaticVertices()
{
    return BindStatic(TMeshBufferComponent::All, "failed to bind vertices - static buffer not assigned");
}

intptr_t TMeshBufferObject::BindStaticIndices()
{
    return BindStatic(TMeshBufferComponent::Indices, "failed to bind indices - static buffer not assigned");
}

void TMeshBufferObject::UnbindStaticVertices()
{
    UnbindStatic(TMeshBufferComponent::All, "failed to unbind vertices - static buffer not assigned");
}

void TMeshBufferObject::UnbindStaticIndices()
{
    UnbindStatic(TMeshBufferComponent::Indices, "failed to unbind indices - static buffer not assigned");
}

void TMeshBufferObject::ClearAll()
{
    OnGLThread([&] {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        for (auto& c : FComponents) c.reset();
        for (auto& s : FCompressed) s.reset();
    });
}

void TMeshBufferObject::AssignBufferObject(TMeshBufferObject* ABuffer)
{
    if (!ABuffer || ABuffer == this) return;
    std::scoped_lock lock(FLock, ABuffer->FLock);
    Kind = ABuffer->Kind;
    LineWidth = ABuffer->LineWidth;
    // Both objects hold the same objects until ClearAssignedBufferObject gives
    // them back; what this object held before is forgotten, not freed (it may
    // be shared already).
    Borrow(FComponents, ABuffer->FComponents);
    Borrow(FCompressed, ABuffer->FCompressed);
    StaticBuffer = ABuffer->StaticBuffer;
    Borrow(FTempStream, ABuffer->FTempStream);
}

void TMeshBufferObject::ClearAssignedBufferObject()
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    for (auto& c : FComponents) static_cast<void>(c.release());
    for (auto& s : FCompressed) static_cast<void>(s.release());
    StaticBuffer = nullptr;
    static_cast<void>(FTempStream.release());
}

} // namespace korvane
