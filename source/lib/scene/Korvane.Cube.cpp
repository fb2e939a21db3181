#include "Korvane.Cube.h"

#include "Korvane.Context.h"
#include "Korvane.DefTypes.Mesh.h"

namespace korvane {

namespace {

using T = TKorvaneCube;

// One face of the cube: its normal, colour, the corners of the quad at grid
// cell (a, b) with steps (da, db), and the texture coordinate of a corner.
struct TFace {
    TPoint3D Normal;
    TAlphaColorF Color;
    void (*Corners)(float a, float b, float da, float db, TPoint3D (&V)[4]);
    TPointF (*TexCoord)(const TPoint3D& P);
};

// Bottom and top run over (x, z); front and back over (x, y); right and left over (z, y).
const TFace Bottom{TPoint3D(0, -1, 0), TAlphaColorF(1, 0, 0, 1),
                   [](float x, float z, float dx, float dz, TPoint3D(&V)[4]) {
                       V[0] = {x, -0.5f, z};
                       V[1] = {x + dx, -0.5f, z};
                       V[2] = {x + dx, -0.5f, z + dz};
                       V[3] = {x, -0.5f, z + dz};
                   },
                   [](const TPoint3D& P) { return TPointF(P.X + 0.5f, 0.5f - P.Z); }};
const TFace Top{TPoint3D(0, 1, 0), TAlphaColorF(0, 1, 0, 1),
                [](float x, float z, float dx, float dz, TPoint3D(&V)[4]) {
                    V[0] = {x + dx, 0.5f, z + dz};
                    V[1] = {x + dx, 0.5f, z};
                    V[2] = {x, 0.5f, z};
                    V[3] = {x, 0.5f, z + dz};
                },
                [](const TPoint3D& P) { return TPointF(P.X + 0.5f, P.Z + 0.5f); }};
const TFace Front{TPoint3D(0, 0, 1), TAlphaColorF(0, 0, 1, 1),
                  [](float x, float y, float dx, float dy, TPoint3D(&V)[4]) {
                      V[0] = {x, y, 0.5f};
                      V[1] = {x + dx, y, 0.5f};
                      V[2] = {x + dx, y + dy, 0.5f};
                      V[3] = {x, y + dy, 0.5f};
                  },
                  [](const TPoint3D& P) { return TPointF(0.5f - P.X, P.Y + 0.5f); }};
const TFace Back{TPoint3D(0, 0, -1), TAlphaColorF(0, 1, 1, 1),
                 [](float x, float y, float dx, float dy, TPoint3D(&V)[4]) {
                     V[0] = {x + dx, y + dy, -0.5f};
                     V[1] = {x + dx, y, -0.5f};
                     V[2] = {x, y, -0.5f};
                     V[3] = {x, y + dy, -0.5f};
                 },
                 [](const TPoint3D& P) { return TPointF(P.X + 0.5f, P.Y + 0.5f); }};
const TFace Right{TPoint3D(1, 0, 0), TAlphaColorF(1, 0, 1, 1),
                  [](float z, float y, float dz, float dy, TPoint3D(&V)[4]) {
                      V[0] = {0.5f, y, z};
                      V[1] = {0.5f, y + dy, z};
                      V[2] = {0.5f, y + dy, z + dz};
                      V[3] = {0.5f, y, z + dz};
                  },
                  [](const TPoint3D& P) { return TPointF(P.Z + 0.5f, P.Y + 0.5f); }};
const TFace Left{TPoint3D(-1, 0, 0), TAlphaColorF(1, 1, 0, 1),
                 [](float z, float y, float dz, float dy, TPoint3D(&V)[4]) {
                     V[0] = {-0.5f, y, z};
                     V[1] = {-0.5f, y, z + dz};
                     V[2] = {-0.5f, y + dy, z + dz};
                     V[3] = {-0.5f, y + dy, z};
                 },
                 [](const TPoint3D& P) { return TPointF(0.5f - P.Z, P.Y + 0.5f); }};

// Writes quad AQuad of a face into the buffers.
void WriteQuad(TMeshData& AData, int AQuad, const TFace& AFace, float a, float b, float da, float db)
{
    TVertexBuffer& vb = AData.VertexBuffer();
    TIndexBuffer& ib = AData.IndexBuffer();
    TPoint3D v[4];
    AFace.Corners(a, b, da, db, v);
    TPointF uv[4];
    for (int k = 0; k < 4; ++k) uv[k] = AFace.TexCoord(v[k]);
    // Tangent and binormal of the triangle V0, V1, V2.
    const TPoint3D e1 = v[1] - v[0], e2 = v[2] - v[0];
    const double s1 = double(uv[1].X) - uv[0].X, t1 = double(uv[1].Y) - uv[0].Y;
    const double s2 = double(uv[2].X) - uv[0].X, t2 = double(uv[2].Y) - uv[0].Y;
    const double d = s1 * t2 - t1 * s2;
    const double r = d == 0 ? 0 : 1.0 / d;
    const TPoint3D tangent(float((e1.X * t2 - e2.X * t1) * r), float((e1.Y * t2 - e2.Y * t1) * r),
                           float((e1.Z * t2 - e2.Z * t1) * r));
    const TPoint3D binormal(float((e2.X * s1 - e1.X * s2) * r), float((e2.Y * s1 - e1.Y * s2) * r),
                            float((e2.Z * s1 - e1.Z * s2) * r));
    const int first = AQuad * 4;
    for (int k = 0; k < 4; ++k) {
        vb.SetVertices(first + k, v[k]);
        vb.SetNormals(first + k, AFace.Normal);
        vb.SetColorF(0, first + k, AFace.Color);
        vb.SetTexCoord0(first + k, uv[k]);
        vb.SetTangents(first + k, tangent);
        vb.SetBiNormals(first + k, binormal);
    }
    const int order[6] = {0, 2, 1, 0, 3, 2};
    for (int k = 0; k < 6; ++k) ib.SetIndices(AQuad * 6 + k, uint32_t(first + order[k]));
}

} // namespace

void MoveGeometryToDefinition(TKorvaneMesh* AMesh)
{
    TMeshDef* def = AMesh->MeshDef();
    if (!def) return;
    // The static build fills GPU buffers at once on the main thread: the
    // program's GL context is made here on first need, as a primitive may be
    // built before any viewport made one.
    TKorvaneContext::IsContextAvailable();
    try {
        def->SetIsStatic(false);
        TMeshData& data = AMesh->MeshData();
        data.CalcBoundingBox();
        AMesh->DoUpdateParent(AMesh->Parent());
        def->ApplyFromMeshData(&data);
        data.VertexBuffer().SetLength(0);
        data.IndexBuffer().SetLength(0);
    } catch (...) {
        def->SetIsStatic(true);
        throw;
    }
    def->SetIsStatic(true);
}

TClass TKorvaneCube::StaticClass()
{
    static const TClassInfo<TKorvaneCube> info("Korvane.Cube", [](auto& c) {
        c.Property("SubdivisionsWidth", &T::SubdivisionsWidth, &T::SetSubdivisionsWidth, TValue::From(int32_t(1)));
        c.Property("SubdivisionsHeight", &T::SubdivisionsHeight, &T::SetSubdivisionsHeight, TValue::From(int32_t(1)));
        c.Property("SubdivisionsDepth", &T::SubdivisionsDepth, &T::SetSubdivisionsDepth, TValue::From(int32_t(1)));
        c.Property("HitTest", &T::HitTest, &T::SetHitTest, TValue::From(true));
    });
    return &info;
}

TKorvaneCube::TKorvaneCube(TComponent* AOwner) : TKorvaneMesh(AOwner)
{
    SetHitTest(true);
    // Standalone: the node frees it.
    SetDef(new TMeshDef(nullptr));
    RebuildMesh(true);
}

void TKorvaneCube::SetSubdivisions(int& AField, int Value)
{
    if (Value == AField) return;
    AField = Value <= 0 ? 1 : Value;
    RebuildMesh(true);
}

void TKorvaneCube::SetSubdivisionsWidth(int Value)
{
    SetSubdivisions(FSubdivisionsWidth, Value);
}

void TKorvaneCube::SetSubdivisionsHeight(int Value)
{
    SetSubdivisions(FSubdivisionsHeight, Value);
}

void TKorvaneCube::SetSubdivisionsDepth(int Value)
{
    SetSubdivisions(FSubdivisionsDepth, Value);
}

void TKorvaneCube::Resize3D()
{
    RecalcAbsolute();
    TKorvaneMesh::Resize3D();
}

void TKorvaneCube::RebuildMesh(bool AIsStatic)
{
    const int sw = FSubdivisionsWidth, sh = FSubdivisionsHeight, sd = FSubdivisionsDepth;
    const int64_t quads = 2 * int64_t(sw) * sd + 2 * int64_t(sd) * sh + 2 * int64_t(sw) * sh;
    // 32-bit buffers: beyond that the subdivisions are no longer a cube anyone can draw.
    if (quads * 6 > INT32_MAX) throw EArgumentException("TKorvaneCube.RebuildMesh(): too many subdivisions");
    TMeshData& data = FData;
    data.VertexBuffer().SetLength(int32_t(quads * 4));
    data.IndexBuffer().SetLength(int32_t(quads * 6));
    const float dx = 1.0f / float(sw), dy = 1.0f / float(sh), dz = 1.0f / float(sd);
    int q = 0;
    for (int j = 0; j < sd; ++j) {
        const float z = -0.5f + float(j) * dz;
        for (int i = 0; i < sw; ++i) WriteQuad(data, q++, Bottom, -0.5f + float(i) * dx, z, dx, dz);
        for (int i = 0; i < sw; ++i) WriteQuad(data, q++, Top, -0.5f + float(i) * dx, z, dx, dz);
    }
    for (int j = 0; j < sh; ++j) {
        const float y = -0.5f + float(j) * dy;
        for (int i = 0; i < sw; ++i) WriteQuad(data, q++, Front, -0.5f + float(i) * dx, y, dx, dy);
        for (int i = 0; i < sw; ++i) WriteQuad(data, q++, Back, -0.5f + float(i) * dx, y, dx, dy);
    }
    for (int j = 0; j < sh; ++j) {
        const float y = -0.5f + float(j) * dy;
        for (int i = 0; i < sd; ++i) WriteQuad(data, q++, Right, -0.5f + float(i) * dz, y, dz, dy);
        for (int i = 0; i < sd; ++i) WriteQuad(data, q++, Left, -0.5f + float(i) * dz, y, dz, dy);
    }
    TMeshDef::CalcTangentBinormals(&data.VertexBuffer(), &data.IndexBuffer());
    if (AIsStatic) MoveGeometryToDefinition(this);
}

namespace units {

void CubeInitialize()
{
    RegisterClass<TKorvaneCube>();
}

void CubeFinalize()
{
    UnRegisterClass(TKorvaneCube::StaticClass());
}

} // namespace units

} // namespace korvane
