#include "Korvane.Plane.h"

#include "Korvane.Cube.h"
#include "Korvane.DefTypes.Mesh.h"

namespace korvane {

namespace {
using T = TKorvanePlane;
}

TClass TKorvanePlane::StaticClass()
{
    static const TClassInfo<TKorvanePlane> info("Korvane.Plane", [](auto& c) {
        c.Property("SubdivisionsWidth", &T::SubdivisionsWidth, &T::SetSubdivisionsWidth, TValue::From(int32_t(1)));
        c.Property("SubdivisionsHeight", &T::SubdivisionsHeight, &T::SetSubdivisionsHeight, TValue::From(int32_t(1)));
        c.Property("HitTest", &T::HitTest, &T::SetHitTest, TValue::From(true));
    });
    return &info;
}

TKorvanePlane::TKorvanePlane(TComponent* AOwner) : TKorvaneMesh(AOwner)
{
    SetHitTest(true);
    // Standalone: the node frees it.
    SetDef(new TMeshDef(nullptr));
    BuildPlane();
}

void TKorvanePlane::SetSubdivisionsWidth(int Value)
{
    if (Value == FSubdivisionsWidth) return;
    FSubdivisionsWidth = Value <= 0 ? 1 : Value;
    BuildPlane();
}

void TKorvanePlane::SetSubdivisionsHeight(int Value)
{
    if (Value == FSubdivisionsHeight) return;
    FSubdivisionsHeight = Value <= 0 ? 1 : Value;
    BuildPlane();
}

void TKorvanePlane::Resize3D()
{
    RecalcAbsolute();
    TKorvaneMesh::Resize3D();
}

void TKorvanePlane::BuildPlane()
{
    const int sw = FSubdivisionsWidth, sh = FSubdivisionsHeight;
    const int64_t n = (int64_t(sw) + 1) * (int64_t(sh) + 1);
    const int64_t quads = int64_t(sw) * sh;
    if (quads * 12 > INT32_MAX || n * 2 > INT32_MAX)
        throw EArgumentException("TKorvanePlane: too many subdivisions");
    TVertexBuffer& vb = FData.VertexBuffer();
    TIndexBuffer& ib = FData.IndexBuffer();
    vb.SetLength(int32_t(n * 2));
    ib.SetLength(int32_t(quads * 12));
    const int32_t back = int32_t(n);
    for (int b = 0; b <= sh; ++b)
        for (int c = 0; c <= sw; ++c) {
            const int32_t i = c + b * (sw + 1);
            const float u = float(c) / float(sw), v = float(b) / float(sh);
            const TPoint3D position(u - 0.5f, v - 0.5f, 0);
            for (int32_t k : {i, back + i}) {
                vb.SetVertices(k, position);
                vb.SetTexCoord0(k, TPointF(u, v));
            }
            vb.SetNormals(i, TPoint3D(0, 0, -1));
            vb.SetNormals(back + i, TPoint3D(0, 0, 1));
        }
    const int32_t half = int32_t(quads * 6);
    for (int b = 0; b < sh; ++b)
        for (int c = 0; c < sw; ++c) {
            const uint32_t a = uint32_t(c + b * (sw + 1)), bb = a + 1;
            const uint32_t cc = uint32_t(c + (b + 1) * (sw + 1)), dd = cc + 1;
            const int32_t k = 6 * (c + b * sw);
            const uint32_t front[6] = {a, bb, cc, cc, bb, dd};
            const uint32_t rear[6] = {a, cc, bb, cc, dd, bb};
            for (int m = 0; m < 6; ++m) {
                ib.SetIndices(k + m, front[m]);
                ib.SetIndices(half + k + m, uint32_t(back) + rear[m]);
            }
        }
    ComputeTangentsAndBinormals();
    MoveGeometryToDefinition(this);
}

namespace units {

void PlaneInitialize()
{
    RegisterClass<TKorvanePlane>();
}

void PlaneFinalize()
{
    UnRegisterClass(TKorvanePlane::StaticClass());
}

} // namespace units

} // namespace korvane
