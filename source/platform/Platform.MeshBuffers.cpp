#include "Platform.MeshBuffers.h"

#include <cstring>

#include "Platform.ClassRegistry.h"
#include "Platform.SysUtils.h"

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

TMeshData::TMeshData() : TMeshData(TVertexFormats{TVertexFormat::Vertex}, 0, 0) {}

TMeshData::TMeshData(TVertexFormats AFormat, int32_t AVertexCount, int32_t AIndexCount, TIndexFormat AIndexFormat)
    : FVertexBuffer(std::make_unique<TVertexBuffer>(AFormat, AVertexCount)),
      FIndexBuffer(std::make_unique<TIndexBuffer>(AIndexCount, AIndexFormat))
{
}

} // namespace korvane
