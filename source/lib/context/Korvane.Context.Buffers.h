#pragma once
// GPU buffers: TBufferObject wraps one GPU buffer (usage, binding target, guarded
// binding, upload, mapping, uniform-block linking); TMeshBufferObject is the
// per-mesh GPU cache, one buffer per vertex attribute plus the whole vertex
// buffer and the indices, with optional zlib-compressed copies of attribute data.
//
// Instances are created through the class reference BufferObjectClass, which the
// OpenGL unit sets at start-up.

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Streams.h"
#include "Platform.Types3D.h"

#include "Korvane.Context.Types.h"

namespace korvane {

class TShaderProgram;
class TBufferObject;

enum class TBufferUsage : uint8_t {
    StreamDraw, StreamRead, StreamCopy, StaticDraw, StaticRead, StaticCopy, DynamicDraw, DynamicRead, DynamicCopy
};
enum class TBufferBindingTarget : uint8_t {
    _Array, CopyRead, CopyWrite, DrawIndirect, ElementArray, PixelPack, PixelUnpack, Texture, TransformFeedback, Uniform
};
enum class TBufferAccessMode : uint8_t { ReadOnly, WriteOnly, ReadWrite };

enum class TMeshBufferComponent : uint8_t {
    Vertex, Normal, Color0, Color1, Color2, Color3, ColorF0, ColorF1, ColorF2, ColorF3,
    TexCoord0, TexCoord1, TexCoord2, TexCoord3, BiNormal, Tangent, All, Indices
};
inline constexpr int MeshBufferComponentCount = 18;

// The metaclass of TBufferObject and its descendants.
class TBufferObjectClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    // A new buffer object of this class.
    virtual TBufferObject* Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext) const;

protected:
    template <typename T>
    static T* Construct(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext)
    {
        return InitializeObject(new T(), [&](T* object) { object->Create(AUsage, ATarget, AContext); });
    }
};

class TBufferObject : public TObject {
    KORVANE_CLASS(TBufferObject, TObject)
    friend class TBufferObjectClass;

    static const TBufferObjectClass& ClassInfo() { return static_cast<const TBufferObjectClass&>(*StaticClass()); }

    uint32_t Handle() const { return FHandle; }
    // Bytes last uploaded.
    intptr_t Size() const { return FSize; }
    TBufferUsage Usage() const { return FUsage; }
    TBufferBindingTarget Target() const { return FTarget; }
    void* Context() const { return FContext; }
    bool Bound() const { return FBound; }
    bool Linked() const { return FLinked; }
    uint32_t BindingPoint() const { return FBindingPoint; }

    // Binds the buffer to its target and answers Size; raises when already bound.
    virtual intptr_t Bind();
    // Raises when not bound.
    virtual void Unbind();
    // Uploads ASize bytes (the caller binds before and unbinds after).
    virtual void Push(const void* AData, intptr_t ASize);
    virtual void* SynchronizedMap(TBufferAccessMode AMode);
    virtual void SynchronizedUnmap();
    // Size 0 and unlinked.
    virtual void Clear();
    virtual void LinkWithBindingPoint(uint32_t ABindingPoint, bool AErrorCheck);
    virtual void LinkWithShaderProgram(TShaderProgram* AProgram, const std::string& ABlockName, const void* AData,
                                       uint32_t ASize, bool AErrorCheck);
    // The next LinkWithShaderProgram asks for the block index again.
    virtual void Unlink() { FLinked = false; }
    // Names the GPU object for debuggers, "Class.Role" ("TMeshBufferObject.Vertex");
    // nothing where the GPU object takes no name.
    virtual void SetLabel(const std::string&) {}

protected:
    // The constructor's body.
    virtual void Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext);
    [[noreturn]] void AbstractCall(const char* AName) const;

    void* FContext = nullptr;
    uint32_t FHandle = 0;
    intptr_t FSize = 0;
    TBufferUsage FUsage = TBufferUsage::StaticDraw;
    TBufferBindingTarget FTarget = TBufferBindingTarget::_Array;
    bool FBound = false;
    uint32_t FBindingPoint = 0;
    uint32_t FBlockIndex = 0;
    bool FLinked = false;
};

// Binds ABuffer, uploads ASize bytes into it and unbinds it again, also when
// the upload fails.
void PushBound(TBufferObject* ABuffer, const void* AData, intptr_t ASize);

// Null at load; TOpenGLBufferObject while the OpenGL unit is loaded.
extern const TBufferObjectClass* BufferObjectClass;
// BufferObjectClass, raising when no class is installed.
const TBufferObjectClass& InstalledBufferObjectClass();

// The GPU cache of one mesh. Every operation on its components runs under its
// own monitor, so definitions and animation baking may push data from other
// threads while the main thread draws. Work that needs OpenGL is carried out on
// the main thread, which owns the GL context: called from another thread, it is
// handed over with TThread::Synchronize and waited for.
class TMeshBufferObject : public TObject {
    KORVANE_CLASS(TMeshBufferObject, TObject)

    explicit TMeshBufferObject(TMeshBufferObject* AStaticBuffer = nullptr);

    TKorvanePrimitivesKind Kind = TKorvanePrimitivesKind::Triangles;
    float LineWidth = 1.0f;
    // Static geometry shared by several frames (not owned).
    TMeshBufferObject* StaticBuffer = nullptr;

    // The component's buffer, created on first request (element array for
    // Indices, array buffer otherwise, usage StaticDraw).
    TBufferObject* GetComponent(TMeshBufferComponent AIndex);
    bool ComponentAvailable(TMeshBufferComponent AIndex);

    bool GetIsCompressed(TMeshBufferComponent AIndex);
    // The compressed stream (owned by this object), or nullptr.
    TMemoryStream* GetCompressed(TMeshBufferComponent AIndex);
    // Frees the stream held for the component and takes ownership of AValue.
    void SetCompressed(TMeshBufferComponent AIndex, TMemoryStream* AValue);

    // Uploads ASize bytes into the component.
    void PushData(TMeshBufferComponent AIndex, const void* AData, intptr_t ASize);
    // Uploads one attribute (or, for All, the whole buffer) of a vertex buffer;
    // nothing for nullptr; raises for Indices.
    void PushData(TMeshBufferComponent AIndex, const TVertexBuffer* ABuffer);
    // A new stream holding the inflated content of the component's compressed
    // stream, at position 0; the caller owns it.
    TMemoryStream* Decompress(TMeshBufferComponent AIndex);

    intptr_t BindStaticVertices();
    intptr_t BindStaticIndices();
    void UnbindStaticVertices();
    void UnbindStaticIndices();
    bool IsStaticBufferAvailable() const { return StaticBuffer != nullptr; }

    // Frees all component buffers and compressed streams.
    void ClearAll();
    // Shares ABuffer's components, streams and static buffer (nothing is duplicated).
    void AssignBufferObject(TMeshBufferObject* ABuffer);
    // Forgets the shared references without freeing them.
    void ClearAssignedBufferObject();

protected:
    void BeforeDestruction() override;

private:
    TBufferObject* ComponentLocked(TMeshBufferComponent AIndex);
    intptr_t BindStatic(TMeshBufferComponent AComponent, const char* AMessage);
    void UnbindStatic(TMeshBufferComponent AComponent, const char* AMessage);

    std::recursive_mutex FLock;
    std::array<TOwned<TBufferObject>, MeshBufferComponentCount> FComponents;
    std::array<TOwned<TMemoryStream>, MeshBufferComponentCount> FCompressed;
    TOwned<TMemoryStream> FTempStream;
};

} // namespace korvane
