#pragma once
// The platform's CPU-side mesh buffers: an interleaved vertex buffer whose
// layout follows its set of vertex components, an index buffer of 16- or
// 32-bit indices, and the mesh data that owns one of each.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.Rtti.h"

namespace korvane {

class TContext3D;
class TMaterial;

// Vertex components in layout order; a vertex holds the components of its
// format packed in this order.
enum class TVertexFormat : uint8_t {
    Vertex, Normal, Color0, Color1, Color2, Color3, ColorF0, ColorF1, ColorF2, ColorF3,
    TexCoord0, TexCoord1, TexCoord2, TexCoord3, BiNormal, Tangent
};

using TVertexFormats = TSet<TVertexFormat>;
// The number of vertex components.
inline constexpr unsigned VertexFormatCount = unsigned(TVertexFormat::Tangent) + 1;

// Bytes one component takes in a vertex.
uint32_t VertexComponentSize(TVertexFormat F);
inline int VertexFormatSize(TVertexFormat F) { return int(VertexComponentSize(F)); }
// Bytes of one vertex of a format.
int GetVertexSize(TVertexFormats AFormats);
// Byte offset of a component inside a vertex of a format; -1 when it lacks it.
int GetVertexOffset(TVertexFormat AFormat, TVertexFormats AFormats);

class TVertexBuffer : public TObject {
    KORVANE_CLASS(TVertexBuffer, TObject)

    // ALength vertices of AFormat, zero-filled. A negative length raises EArgumentException.
    TVertexBuffer(TVertexFormats AFormat, int32_t ALength);

    TVertexFormats Format() const { return FFormat; }
    int32_t Length() const { return FLength; }
    int VertexSize() const { return int(FVertexSize); }
    // Bytes of the whole buffer.
    int64_t Size() const { return int64_t(FData.size()); }
    uint8_t* Buffer() { return FData.data(); }
    const uint8_t* Buffer() const { return FData.data(); }
    // Byte offset of a component inside a vertex; EArgumentException when the
    // format has no such component.
    uint32_t ComponentOffset(TVertexFormat F) const;
    // Resizes to ALength vertices, keeping the leading ones and zero-filling new ones.
    void SetLength(int32_t ALength);
    // The component of vertex AIndex, or nullptr when the format lacks it or the
    // index is outside the buffer.
    void* Attribute(TVertexFormat AFormat, int AIndex);
    const void* Attribute(TVertexFormat AFormat, int AIndex) const;

    // Component access by vertex index. An index outside 0 .. Length - 1, or a
    // component the format lacks, raises EArgumentException.
    TPoint3D Vertices(int32_t AIndex) const { return GetPoint3D(TVertexFormat::Vertex, AIndex); }
    void SetVertices(int32_t AIndex, const TPoint3D& V) { SetPoint3D(TVertexFormat::Vertex, AIndex, V); }
    TPoint3D Normals(int32_t AIndex) const { return GetPoint3D(TVertexFormat::Normal, AIndex); }
    void SetNormals(int32_t AIndex, const TPoint3D& V) { SetPoint3D(TVertexFormat::Normal, AIndex, V); }
    TPoint3D BiNormals(int32_t AIndex) const { return GetPoint3D(TVertexFormat::BiNormal, AIndex); }
    void SetBiNormals(int32_t AIndex, const TPoint3D& V) { SetPoint3D(TVertexFormat::BiNormal, AIndex, V); }
    TPoint3D Tangents(int32_t AIndex) const { return GetPoint3D(TVertexFormat::Tangent, AIndex); }
    void SetTangents(int32_t AIndex, const TPoint3D& V) { SetPoint3D(TVertexFormat::Tangent, AIndex, V); }
    TPointF TexCoord0(int32_t AIndex) const { return TexCoord(0, AIndex); }
    void SetTexCoord0(int32_t AIndex, const TPointF& V) { SetTexCoord(0, AIndex, V); }
    // Texture coordinate channel AChannel (0 to 3) of a vertex.
    TPointF TexCoord(int AChannel, int32_t AIndex) const;
    void SetTexCoord(int AChannel, int32_t AIndex, const TPointF& V);
    // The colour of channel AChannel (0 to 3) of a vertex: the packed colour
    // when the format holds it, else the float colour of that channel packed.
    // Raises EArgumentException when the format holds neither.
    TAlphaColor Color(int AChannel, int32_t AIndex) const;
    // Stores the colour in every form the format holds for the channel: as a
    // float colour in the float channel, packed in the packed one.
    void SetColor(int AChannel, int32_t AIndex, TAlphaColor V);
    // The float colour channel AChannel (0 to 3) of a vertex.
    TAlphaColorF ColorF(int AChannel, int32_t AIndex) const;
    void SetColorF(int AChannel, int32_t AIndex, const TAlphaColorF& V);
    bool HasFormat(TVertexFormat F) const { return OffsetOf(F) >= 0; }
    // Takes over the format, the layout and a copy of the data of ASource.
    void Assign(const TVertexBuffer& ASource);

private:
    TPoint3D GetPoint3D(TVertexFormat F, int32_t AIndex) const;
    void SetPoint3D(TVertexFormat F, int32_t AIndex, const TPoint3D& V);
    size_t Locate(TVertexFormat F, int32_t AIndex) const;
    // Byte offset of a component inside a vertex; -1 when the format lacks it
    // (also for ordinals beyond the known components).
    int OffsetOf(TVertexFormat F) const { return unsigned(F) < VertexFormatCount ? FOffsets[unsigned(F)] : -1; }

    TVertexFormats FFormat;
    int32_t FLength = 0;
    uint32_t FVertexSize = 0;
    // Worked out once from the format (which never changes), not per access.
    std::array<int, VertexFormatCount> FOffsets{};
    std::vector<uint8_t> FData;
};

enum class TIndexFormat : uint8_t { UInt16 = 0, UInt32 = 1 };

class TIndexBuffer {
public:
    // ALength indices of AFormat, zero-filled. A negative length raises EArgumentException.
    TIndexBuffer(int32_t ALength, TIndexFormat AFormat = TIndexFormat::UInt16);

    TIndexFormat IndexFormat() const { return FFormat; }
    int32_t Length() const { return FLength; }
    uint32_t IndexSize() const { return FFormat == TIndexFormat::UInt16 ? 2 : 4; }
    size_t Size() const { return FData.size(); }
    uint8_t* Buffer() { return FData.data(); }
    const uint8_t* Buffer() const { return FData.data(); }
    void SetLength(int32_t ALength);

    // An index outside 0 .. Length - 1 raises EArgumentException; a value that
    // does not fit a 16-bit buffer raises it as well.
    uint32_t Indices(int32_t AIndex) const;
    void SetIndices(int32_t AIndex, uint32_t Value);
    // Takes over the format and a copy of the indices of ASource.
    void Assign(const TIndexBuffer& ASource);

private:
    TIndexFormat FFormat;
    int32_t FLength = 0;
    std::vector<uint8_t> FData;
};

// How a mesh control maps its mesh data into its own box: as it is, scaled by
// the control's size (Original); uniformly scaled to fit the box (Fit);
// stretched on every axis to fill it (Stretch); not at all (Resize).
enum class TMeshWrapMode : uint8_t { Original, Fit, Stretch, Resize };
KORVANE_ENUM_NAMES(TMeshWrapMode, "Original", "Fit", "Stretch", "Resize");

// A mesh's vertex and index buffers, owned.
class TMeshData {
public:
    TMeshData();
    TMeshData(TVertexFormats AFormat, int32_t AVertexCount, int32_t AIndexCount,
              TIndexFormat AIndexFormat = TIndexFormat::UInt32);

    TVertexBuffer& VertexBuffer() { return *FVertexBuffer; }
    const TVertexBuffer& VertexBuffer() const { return *FVertexBuffer; }
    TIndexBuffer& IndexBuffer() { return *FIndexBuffer; }
    const TIndexBuffer& IndexBuffer() const { return *FIndexBuffer; }
    // Gives every triangle's corners the triangle's normal,
    // normalise((p1 - p0) x (p2 - p0)), when the format holds normals; with
    // APropagate false nothing is written. Left-over indices are ignored.
    void CalcFaceNormals(bool APropagate = true);
    // Gives every vertex the normalised sum of the normals of the triangles
    // that meet at its position (corners closer than AWeldDistance count as
    // one position); each distinct face direction counts once per vertex, so
    // a quad's two triangles do not weigh double. Needs normals in the format.
    void CalcSmoothNormals(float AWeldDistance);
    // Tangents and binormals from texture coordinate 0: per triangle, summed
    // at its corners and normalised. Needs normals, tangents, binormals and
    // texture coordinate 0 in the format.
    void CalcTangentBinormals();

    // The box of the vertex positions. With no vertices it is the box the
    // last computation found, so a mesh whose vertices moved elsewhere keeps
    // its size.
    TBoundingBox BoundingBox() const;
    // Computes the box now and keeps it.
    void CalcBoundingBox();

    // The nearest triangle the ray (in the data's own space) hits in front of
    // RayPos; the hit point goes to Intersection. Both faces count.
    bool RayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) const;

    // Draws the triangles through the context with AMaterial (may be nullptr)
    // at AOpacity. Nothing without a context.
    void Render(TContext3D* AContext, TMaterial* AMaterial, float AOpacity) const;

private:
    std::unique_ptr<TVertexBuffer> FVertexBuffer;
    std::unique_ptr<TIndexBuffer> FIndexBuffer;
    mutable TBoundingBox FBoundingBox;
};

} // namespace korvane
