#include "Platform.MeshBuffers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <tuple>

#include "Platform.ClassRegistry.h"
#include "Platform.SysUtils.h"
#include "Platform.Types3D.h"

namespace korvane {

namespace {

// The largest buffer we agree to hold, so that sizes stay far from overflow.
constexpr uint64_t kMaxBufferBytes = uint64_t(1) << 34;

void CheckLength(int32_t ALength, uint64_t ItemSize, const char* What)
{
    if (ALength < 0) throw EArgumentException(korvane::Format("%s length %d is negative", What, ALength));
    if (uint64_t(ALength) * ItemSize > kMaxBufferBytes)
        throw EArgumentException(korvane::Format("%s of %d items is too large", What, ALength));
}

} // namespace

uint32_t VertexComponentSize(TVertexFormat F)
{
    switch (F) {
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
    for (unsigned i = 0; i < VertexFormatCount; ++i)
        if (AFormats.Contains(TVertexFormat(i))) size += int(VertexComponentSize(TVertexFormat(i)));
    return size;
}

int GetVertexOffset(TVertexFormat AFormat, TVertexFormats AFormats)
{
    if (!AFormats.Contains(AFormat)) return -1;
    int offset = 0;
    for (unsigned i = 0; i < unsigned(AFormat); ++i)
        if (AFormats.Contains(TVertexFormat(i))) offset += int(VertexComponentSize(TVertexFormat(i)));
    return offset;
}

// ---------------------------------------------------------------- TVertexBuffer

KORVANE_IMPLEMENT_CLASS(TVertexBuffer, "Platform.MeshBuffers")

void* TVertexBuffer::Attribute(TVertexFormat AFormat, int AIndex)
{
    return const_cast<void*>(static_cast<const TVertexBuffer*>(this)->Attribute(AFormat, AIndex));
}

const void* TVertexBuffer::Attribute(TVertexFormat AFormat, int AIndex) const
{
    const int offset = OffsetOf(AFormat);
    if (offset < 0 || AIndex < 0 || AIndex >= FLength) return nullptr;
    return FData.data() + size_t(AIndex) * FVertexSize + size_t(offset);
}

TVertexBuffer::TVertexBuffer(TVertexFormats AFormat, int32_t ALength)
    : FFormat(AFormat), FVertexSize(uint32_t(GetVertexSize(AFormat)))
{
    for (unsigned i = 0; i < VertexFormatCount; ++i) FOffsets[i] = GetVertexOffset(TVertexFormat(i), AFormat);
    SetLength(ALength);
}

void TVertexBuffer::SetLength(int32_t ALength)
{
    CheckLength(ALength, FVertexSize, "vertex buffer");
    FData.resize(size_t(ALength) * FVertexSize, 0);
    FLength = ALength;
}

uint32_t TVertexBuffer::ComponentOffset(TVertexFormat F) const
{
    const int offset = OffsetOf(F);
    if (offset < 0) throw EArgumentException(korvane::Format("vertex buffer has no component %d", int(F)));
    return uint32_t(offset);
}

size_t TVertexBuffer::Locate(TVertexFormat F, int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= FLength)
        throw EArgumentException(korvane::Format("vertex index %d out of range (%d vertices)", AIndex, FLength));
    return size_t(AIndex) * FVertexSize + ComponentOffset(F);
}

TPoint3D TVertexBuffer::GetPoint3D(TVertexFormat F, int32_t AIndex) const
{
    float v[3];
    std::memcpy(v, FData.data() + Locate(F, AIndex), sizeof(v));
    return {v[0], v[1], v[2]};
}

void TVertexBuffer::SetPoint3D(TVertexFormat F, int32_t AIndex, const TPoint3D& V)
{
    const float v[3] = {V.X, V.Y, V.Z};
    std::memcpy(FData.data() + Locate(F, AIndex), v, sizeof(v));
}

namespace {

TVertexFormat Channel(TVertexFormat AFirst, int AChannel)
{
    if (AChannel < 0 || AChannel > 3) throw EArgumentException(korvane::Format("vertex channel %d out of range", AChannel));
    return TVertexFormat(unsigned(AFirst) + unsigned(AChannel));
}

} // namespace

TPointF TVertexBuffer::TexCoord(int AChannel, int32_t AIndex) const
{
    float v[2];
    std::memcpy(v, FData.data() + Locate(Channel(TVertexFormat::TexCoord0, AChannel), AIndex), sizeof(v));
    return {v[0], v[1]};
}

void TVertexBuffer::SetTexCoord(int AChannel, int32_t AIndex, const TPointF& V)
{
    const float v[2] = {V.X, V.Y};
    std::memcpy(FData.data() + Locate(Channel(TVertexFormat::TexCoord0, AChannel), AIndex), v, sizeof(v));
}

TAlphaColorF TVertexBuffer::ColorF(int AChannel, int32_t AIndex) const
{
    float v[4];
    std::memcpy(v, FData.data() + Locate(Channel(TVertexFormat::ColorF0, AChannel), AIndex), sizeof(v));
    return {v[0], v[1], v[2], v[3]};
}

void TVertexBuffer::SetColorF(int AChannel, int32_t AIndex, const TAlphaColorF& V)
{
    const float v[4] = {V.R, V.G, V.B, V.A};
    std::memcpy(FData.data() + Locate(Channel(TVertexFormat::ColorF0, AChannel), AIndex), v, sizeof(v));
}

TAlphaColor TVertexBuffer::Color(int AChannel, int32_t AIndex) const
{
    const TVertexFormat packed = Channel(TVertexFormat::Color0, AChannel);
    if (!HasFormat(packed) && HasFormat(Channel(TVertexFormat::ColorF0, AChannel)))
        return ColorF(AChannel, AIndex).ToAlphaColor();
    uint32_t v;
    std::memcpy(&v, FData.data() + Locate(packed, AIndex), sizeof(v));
    return v;
}

void TVertexBuffer::SetColor(int AChannel, int32_t AIndex, TAlphaColor V)
{
    const TVertexFormat packed = Channel(TVertexFormat::Color0, AChannel);
    const bool hasFloat = HasFormat(Channel(TVertexFormat::ColorF0, AChannel));
    if (hasFloat) SetColorF(AChannel, AIndex, TAlphaColorF::Create(V));
    if (hasFloat && !HasFormat(packed)) return;
    const uint32_t v = V.Value;
    std::memcpy(FData.data() + Locate(packed, AIndex), &v, sizeof(v));
}

void TVertexBuffer::Assign(const TVertexBuffer& ASource)
{
    if (&ASource == this) return;
    FFormat = ASource.FFormat;
    FLength = ASource.FLength;
    FVertexSize = ASource.FVertexSize;
    FOffsets = ASource.FOffsets;
    FData = ASource.FData;
}

// ---------------------------------------------------------------- TIndexBuffer

TIndexBuffer::TIndexBuffer(int32_t ALength, TIndexFormat AFormat) : FFormat(AFormat) { SetLength(ALength); }

void TIndexBuffer::SetLength(int32_t ALength)
{
    CheckLength(ALength, IndexSize(), "index buffer");
    FData.resize(size_t(ALength) * IndexSize(), 0);
    FLength = ALength;
}

uint32_t TIndexBuffer::Indices(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= FLength)
        throw EArgumentException(korvane::Format("index %d out of range (%d indices)", AIndex, FLength));
    if (FFormat == TIndexFormat::UInt16) {
        uint16_t v;
        std::memcpy(&v, FData.data() + size_t(AIndex) * 2, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, FData.data() + size_t(AIndex) * 4, 4);
    return v;
}

void TIndexBuffer::SetIndices(int32_t AIndex, uint32_t Value)
{
    if (AIndex < 0 || AIndex >= FLength)
        throw EArgumentException(korvane::Format("index %d out of range (%d indices)", AIndex, FLength));
    if (FFormat == TIndexFormat::UInt16) {
        if (Value > 0xFFFF) throw EArgumentException(korvane::Format("index value %u does not fit 16 bits", Value));
        const uint16_t v = uint16_t(Value);
        std::memcpy(FData.data() + size_t(AIndex) * 2, &v, 2);
    } else {
        std::memcpy(FData.data() + size_t(AIndex) * 4, &Value, 4);
    }
}

void TIndexBuffer::Assign(const TIndexBuffer& ASource)
{
    if (&ASource == this) return;
    FFormat = ASource.FFormat;
    FLength = ASource.FLength;
    FData = ASource.FData;
}

// ---------------------------------------------------------------- TMeshData

void TMeshData::CalcFaceNormals(bool APropagate)
{
    TVertexBuffer& vb = *FVertexBuffer;
    const TIndexBuffer& ib = *FIndexBuffer;
    if (!APropagate || !vb.HasFormat(TVertexFormat::Normal)) return;
    for (int32_t t = 0; t + 2 < ib.Length(); t += 3) {
        const int32_t i0 = int32_t(ib.Indices(t)), i1 = int32_t(ib.Indices(t + 1)), i2 = int32_t(ib.Indices(t + 2));
        const TPoint3D p0 = vb.Vertices(i0);
        const TPoint3D n = (vb.Vertices(i1) - p0).CrossProduct(vb.Vertices(i2) - p0).Normalize();
        vb.SetNormals(i0, n);
        vb.SetNormals(i1, n);
        vb.SetNormals(i2, n);
    }
}

namespace {

using TGridKey = std::tuple<int64_t, int64_t, int64_t>;

// A point rounded to a grid of step AStep (coordinates clamped so that the
// rounding cannot overflow).
TGridKey GridKey(const TPoint3D& P, double AStep)
{
    const auto cell = [AStep](float v) {
        return int64_t(std::clamp(std::nearbyint(double(v) / AStep), -9.0e18, 9.0e18));
    };
    return {cell(P.X), cell(P.Y), cell(P.Z)};
}

// The corners of triangle T; indices outside the vertex buffer raise through
// the buffer's own range check when they are read.
inline void Corners(const TIndexBuffer& AIndices, int32_t T, int32_t (&AOut)[3])
{
    for (int k = 0; k < 3; ++k) AOut[k] = int32_t(AIndices.Indices(T * 3 + k));
}

} // namespace

void TMeshData::CalcSmoothNormals(float AWeldDistance)
{
    TVertexBuffer& vb = *FVertexBuffer;
    const TIndexBuffer& ib = *FIndexBuffer;
    if (!vb.HasFormat(TVertexFormat::Normal)) return;
    const double step = AWeldDistance > 0 ? double(AWeldDistance) : 1e-4;
    // Position cell -> the distinct face directions meeting there, summed per direction.
    std::map<TGridKey, std::map<TGridKey, TPoint3D>> faces;
    const int32_t triangles = ib.Length() / 3;
    for (int32_t t = 0; t < triangles; ++t) {
        int32_t c[3];
        Corners(ib, t, c);
        const TPoint3D p0 = vb.Vertices(c[0]);
        const TPoint3D n = (vb.Vertices(c[1]) - p0).CrossProduct(vb.Vertices(c[2]) - p0).Normalize();
        for (int k = 0; k < 3; ++k) faces[GridKey(vb.Vertices(c[k]), step)].emplace(GridKey(n, 1e-3), n);
    }
    for (int32_t v = 0; v < vb.Length(); ++v) {
        auto it = faces.find(GridKey(vb.Vertices(v), step));
        if (it == faces.end()) continue;
        TPoint3D sum;
        for (const auto& entry : it->second) sum += entry.second;
        vb.SetNormals(v, sum.Normalize());
    }
}

void TMeshData::CalcTangentBinormals()
{
    TVertexBuffer& vb = *FVertexBuffer;
    const TIndexBuffer& ib = *FIndexBuffer;
    if (!vb.HasFormat(TVertexFormat::Tangent) || !vb.HasFormat(TVertexFormat::BiNormal) ||
        !vb.HasFormat(TVertexFormat::TexCoord0))
        return;
    std::vector<TPoint3D> tangents(size_t(vb.Length())), binormals(size_t(vb.Length()));
    const int32_t triangles = ib.Length() / 3;
    for (int32_t t = 0; t < triangles; ++t) {
        int32_t c[3];
        Corners(ib, t, c);
        const TPoint3D p0 = vb.Vertices(c[0]);
        const TPoint3D e1 = vb.Vertices(c[1]) - p0, e2 = vb.Vertices(c[2]) - p0;
        const TPointF uv0 = vb.TexCoord0(c[0]), uv1 = vb.TexCoord0(c[1]), uv2 = vb.TexCoord0(c[2]);
        const double s1 = double(uv1.X) - uv0.X, t1 = double(uv1.Y) - uv0.Y;
        const double s2 = double(uv2.X) - uv0.X, t2 = double(uv2.Y) - uv0.Y;
        const double d = s1 * t2 - t1 * s2;
        // Degenerate texture coordinates give no direction.
        if (d == 0) continue;
        const double r = 1.0 / d;
        const TPoint3D tangent(float((e1.X * t2 - e2.X * t1) * r), float((e1.Y * t2 - e2.Y * t1) * r),
                               float((e1.Z * t2 - e2.Z * t1) * r));
        const TPoint3D binormal(float((e2.X * s1 - e1.X * s2) * r), float((e2.Y * s1 - e1.Y * s2) * r),
                                float((e2.Z * s1 - e1.Z * s2) * r));
        for (int32_t i : c) {
            tangents[size_t(i)] += tangent;
            binormals[size_t(i)] += binormal;
        }
    }
    for (int32_t v = 0; v < vb.Length(); ++v) {
        vb.SetTangents(v, tangents[size_t(v)].Normalize());
        vb.SetBiNormals(v, binormals[size_t(v)].Normalize());
    }
}

TBoundingBox TMeshData::BoundingBox() const
{
    const TVertexBuffer& vb = *FVertexBuffer;
    if (vb.Length() > 0 && vb.HasFormat(TVertexFormat::Vertex)) {
        TPoint3D lo = vb.Vertices(0), hi = lo;
        for (int32_t i = 1; i < vb.Length(); ++i) {
            const TPoint3D p = vb.Vertices(i);
            lo = TPoint3D(std::min(lo.X, p.X), std::min(lo.Y, p.Y), std::min(lo.Z, p.Z));
            hi = TPoint3D(std::max(hi.X, p.X), std::max(hi.Y, p.Y), std::max(hi.Z, p.Z));
        }
        FBoundingBox = TBoundingBox(lo.X, lo.Y, lo.Z, hi.X, hi.Y, hi.Z);
    }
    return FBoundingBox;
}

void TMeshData::CalcBoundingBox()
{
    BoundingBox();
}

bool TMeshData::RayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) const
{
    const TVertexBuffer& vb = *FVertexBuffer;
    const TIndexBuffer& ib = *FIndexBuffer;
    if (!vb.HasFormat(TVertexFormat::Vertex)) return false;
    double best = std::numeric_limits<double>::infinity();
    const int32_t triangles = ib.Length() / 3;
    for (int32_t t = 0; t < triangles; ++t) {
        int32_t c[3];
        Corners(ib, t, c);
        // Moeller-Trumbore, in double so that grazing rays stay stable.
        const TPoint3D p0 = vb.Vertices(c[0]), p1 = vb.Vertices(c[1]), p2 = vb.Vertices(c[2]);
        const double e1[3] = {double(p1.X) - p0.X, double(p1.Y) - p0.Y, double(p1.Z) - p0.Z};
        const double e2[3] = {double(p2.X) - p0.X, double(p2.Y) - p0.Y, double(p2.Z) - p0.Z};
        const double d[3] = {RayDir.X, RayDir.Y, RayDir.Z};
        const double pv[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2], d[0] * e2[1] - d[1] * e2[0]};
        const double det = e1[0] * pv[0] + e1[1] * pv[1] + e1[2] * pv[2];
        if (std::fabs(det) < 1e-12) continue;
        const double inv = 1.0 / det;
        const double tv[3] = {double(RayPos.X) - p0.X, double(RayPos.Y) - p0.Y, double(RayPos.Z) - p0.Z};
        const double u = (tv[0] * pv[0] + tv[1] * pv[1] + tv[2] * pv[2]) * inv;
        if (u < 0 || u > 1) continue;
        const double qv[3] = {tv[1] * e1[2] - tv[2] * e1[1], tv[2] * e1[0] - tv[0] * e1[2],
                              tv[0] * e1[1] - tv[1] * e1[0]};
        const double v = (d[0] * qv[0] + d[1] * qv[1] + d[2] * qv[2]) * inv;
        if (v < 0 || u + v > 1) continue;
        const double dist = (e2[0] * qv[0] + e2[1] * qv[1] + e2[2] * qv[2]) * inv;
        if (dist < 0 || dist >= best) continue;
        best = dist;
        Intersection = TPoint3D(float(RayPos.X + d[0] * dist), float(RayPos.Y + d[1] * dist),
                                float(RayPos.Z + d[2] * dist));
    }
    return std::isfinite(best);
}

void TMeshData::Render(TContext3D* AContext, TMaterial* AMaterial, float AOpacity) const
{
    if (!AContext) return;
    AContext->DrawPrimitives(TPrimitivesKind::Triangles, FVertexBuffer.get(), FIndexBuffer.get(), AMaterial,
                             AOpacity);
}

TMeshData::TMeshData() : TMeshData(TVertexFormats{TVertexFormat::Vertex}, 0, 0) {}

TMeshData::TMeshData(TVertexFormats AFormat, int32_t AVertexCount, int32_t AIndexCount, TIndexFormat AIndexFormat)
    : FVertexBuffer(std::make_unique<TVertexBuffer>(AFormat, AVertexCount)),
      FIndexBuffer(std::make_unique<TIndexBuffer>(AIndexCount, AIndexFormat))
{
}

} // namespace korvane
