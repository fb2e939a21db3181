// The geometry operations of mesh definitions: polygons, normals, tangents,
// texture coordinates, the triangle tree and ray casts, baking transformations
// and copying to and from mesh data.

#include <cmath>
#include <map>
#include <tuple>

#include "Korvane.DefTypes.Mesh.h"
#include "Korvane.DefTypes.Utils.h"
#include "Korvane.Utils.Geometry.h"
#include "Korvane.Utils.Math.h"
#include "Platform.SysUtils.h"

namespace korvane {

namespace {

// The three vertex indices of triangle t.
struct TTriangleCorners {
    int32_t I[3];
};

TTriangleCorners CornersOf(const TIndexBuffer& AIndices, int32_t T)
{
    TTriangleCorners c;
    for (int k = 0; k < 3; ++k) {
        const uint32_t index = AIndices.Indices(3 * T + k);
        // Beyond 31 bits the vertex buffer's range check rejects it.
        c.I[k] = index > uint32_t(INT32_MAX) ? -1 : int32_t(index);
    }
    return c;
}

int32_t TriangleCount(const TIndexBuffer& AIndices) { return AIndices.Length() / 3; }

bool HasNormals(const TVertexBuffer& V) { return V.HasFormat(TVertexFormat::Normal); }

TPoint3D PointThrough(const TPoint3D& P, const TMatrix3D& M) { return (TVector3D(P, 1) * M).ToPoint3D(); }

// The hit point and normal of a ray cast made in mesh space, in world space.
void HitToWorld(const TRaycastResult& AHit, const TMatrix3D& AMeshMatrix, const TMatrix3D& AAbsoluteMatrix,
                TPoint3D& AIntersection, TPoint3D& ANormal)
{
    AIntersection = PointThrough(PointThrough(AHit.Point, AMeshMatrix), AAbsoluteMatrix);
    ANormal = AHit.Normal.TransformDirection(AMeshMatrix).TransformDirection(AAbsoluteMatrix).Normalize();
}

} // namespace

TPoint3D TMeshDef::GetNormalVectorFromPoints(const TPoint3D& A, const TPoint3D& B, const TPoint3D& C)
{
    return (B - A).CrossProduct(C - A).Normalize();
}

// ---- polygons ----

void TMeshDef::AddPolygon(const TPolygon& APoly)
{
    if (APoly.size() < 3) throw Exception("invalid polygon length - at least 3 vertices needed");
    AddPolygon(APoly, TPolygon(), T3DPolygon());
}

void TMeshDef::AddPolygon(const T3DPolygon& APoly)
{
    if (APoly.size() < 3) throw Exception("invalid polygon length - at least 3 vertices needed");
    AddPolygon(APoly, TPolygon(), T3DPolygon());
}

void TMeshDef::AddPolygon(const TPolygon& APoly, const TPolygon& ATexCoords, const T3DPolygon& ANormals)
{
    T3DPolygon points;
    points.reserve(APoly.size());
    for (const TPointF& p : APoly) points.emplace_back(p.X, p.Y, 0.0f);
    AddPolygon(points, ATexCoords, ANormals);
}

void TMeshDef::AddPolygon(const T3DPolygon& APoly, const TPolygon& ATexCoords, const T3DPolygon& ANormals)
{
    const size_t n = APoly.size();
    if (n < 3) throw Exception("invalid polygon length - at least 3 vertices needed");
    if (!ATexCoords.empty() && ATexCoords.size() != n)
        throw Exception("invalid polygon texture coordinates length - number of texture coordinates not equal to "
                        "number of vertices");
    if (!ANormals.empty() && ANormals.size() != n)
        throw Exception("invalid polygon normals length - number of normals not equal to number of vertices");

    if (!FVertexSource) CreateVertexSource(FVertexFormat);
    if (!FIndexSource) CreateIndexSource(FIndexFormat);
    TVertexBuffer& vb = *FVertexSource;
    TIndexBuffer& ib = *FIndexSource;
    const int32_t firstVertex = vb.Length();
    const int64_t added = 3 * int64_t(n - 2);
    if (firstVertex + added > INT32_MAX || ib.Length() + added > INT32_MAX)
        throw EArgumentException("polygon makes the mesh too large");
    int32_t vertexBase = firstVertex;
    int32_t indexBase = ib.Length();
    vb.SetLength(int32_t(firstVertex + added));
    ib.SetLength(int32_t(indexBase + added));
    const bool normals = HasNormals(vb);
    const bool texCoords = vb.HasFormat(TVertexFormat::TexCoord0);
    for (size_t i = 1; i + 1 < n; ++i) {
        const size_t corners[3] = {0, i, i + 1};
        const TPoint3D flat = GetNormalVectorFromPoints(APoly[0], APoly[i], APoly[i + 1]);
        for (int k = 0; k < 3; ++k) {
            const size_t c = corners[k];
            vb.SetVertices(vertexBase + k, APoly[c]);
            if (texCoords && !ATexCoords.empty()) vb.SetTexCoord0(vertexBase + k, ATexCoords[c]);
            if (normals) vb.SetNormals(vertexBase + k, ANormals.empty() ? flat : ANormals[c]);
            ib.SetIndices(indexBase + k, uint32_t(vertexBase + k));
        }
        vertexBase += 3;
        indexBase += 3;
    }
    // The box as last computed: a polygon does not mark it stale.
    if (ATexCoords.empty() && texCoords) CalcTextureCoordinates(firstVertex, vb.Length() - 1);
}

// ---- normals ----

void TMeshDef::CalcFaceNormals(bool PropagateFaceNormalsToVertices, bool ASubMeshes)
{
    if (ASubMeshes)
        ForEachChildMesh([&](TMeshDef* child) { child->CalcFaceNormals(PropagateFaceNormalsToVertices, ASubMeshes); });
    if (!FVertexSource || !FIndexSource) return;
    TVertexBuffer& vb = *FVertexSource;
    const TIndexBuffer& ib = *FIndexSource;
    const int32_t triangles = TriangleCount(ib);
    FFaceNormals.assign(size_t(triangles), TPoint3D());
    const bool propagate = PropagateFaceNormalsToVertices && HasNormals(vb);
    for (int32_t t = 0; t < triangles; ++t) {
        const TTriangleCorners c = CornersOf(ib, t);
        const TPoint3D p0 = vb.Vertices(c.I[0]), p1 = vb.Vertices(c.I[1]), p2 = vb.Vertices(c.I[2]);
        const TPoint3D n = (p1 - p0).CrossProduct(p1 - p2).Normalize();
        FFaceNormals[size_t(t)] = n;
        if (propagate) {
            vb.SetNormals(c.I[0], n);
            vb.SetNormals(c.I[2], n);
            vb.SetNormals(c.I[1], n);
        }
    }
}

void TMeshDef::CalcSmoothNormals(TMeshDefCalculateNormalMethod Method, float WeldEpsilon, bool ASubMeshes)
{
    if (ASubMeshes) ForEachChildMesh([&](TMeshDef* child) { child->CalcSmoothNormals(Method, WeldEpsilon, ASubMeshes); });
    if (!FVertexSource || !FIndexSource) return;
    CalcFaceNormals(false, true);
    TVertexBuffer& vb = *FVertexSource;
    const TIndexBuffer& ib = *FIndexSource;
    if (!HasNormals(vb)) return;
    const int32_t vertices = vb.Length();
    const int32_t triangles = TriangleCount(ib);

    switch (Method) {
    case TMeshDefCalculateNormalMethod::cnmDefault: {
        // Welds across vertices that share a position within the epsilon.
        std::vector<TTriangleCorners> corners(static_cast<size_t>(triangles));
        std::vector<TPoint3D> cornerPositions(size_t(triangles) * 3);
        for (int32_t t = 0; t < triangles; ++t) {
            corners[size_t(t)] = CornersOf(ib, t);
            for (int k = 0; k < 3; ++k) cornerPositions[size_t(t) * 3 + size_t(k)] = vb.Vertices(corners[size_t(t)].I[k]);
        }
        for (int32_t v = 0; v < vertices; ++v) {
            const TPoint3D p = vb.Vertices(v);
            TPoint3D sum;
            for (int32_t t = 0; t < triangles; ++t)
                for (int k = 0; k < 3; ++k)
                    if (cornerPositions[size_t(t) * 3 + size_t(k)].Distance(p) <= WeldEpsilon)
                        sum += FFaceNormals[size_t(t)];
            vb.SetNormals(v, sum.Normalize());
        }
        break;
    }
    case TMeshDefCalculateNormalMethod::cnmFastest: {
        std::vector<TPoint3D> sums(static_cast<size_t>(vertices));
        for (int32_t t = 0; t < triangles; ++t) {
            const TTriangleCorners c = CornersOf(ib, t);
            for (int k = 0; k < 3; ++k) {
                vb.Vertices(c.I[k]); // the buffer's range check
                sums[size_t(c.I[k])] += FFaceNormals[size_t(t)];
            }
        }
        for (int32_t v = 0; v < vertices; ++v) vb.SetNormals(v, sums[size_t(v)].Normalize());
        break;
    }
    case TMeshDefCalculateNormalMethod::cnmSlowest: {
        // One contribution per vertex and distinct face-normal direction
        // (directions equal after rounding to the step WeldEpsilon count once).
        const double s = WeldEpsilon > 0 ? 1.0 / double(WeldEpsilon) : 10000.0;
        using TKey = std::tuple<int32_t, int64_t, int64_t, int64_t>;
        std::map<TKey, TPoint3D> table;
        const auto scaled = [&](float x) {
            const double r = std::nearbyint(double(x) * s);
            return int64_t(std::clamp(r, -9.0e18, 9.0e18));
        };
        for (int32_t t = 0; t < triangles; ++t) {
            const TPoint3D n = FFaceNormals[size_t(t)];
            const TTriangleCorners c = CornersOf(ib, t);
            for (int k = 0; k < 3; ++k) {
                vb.Vertices(c.I[k]); // the buffer's range check
                table[TKey(c.I[k], scaled(n.X), scaled(n.Y), scaled(n.Z))] += n;
            }
        }
        std::vector<TPoint3D> sums(static_cast<size_t>(vertices));
        for (const auto& [key, sum] : table) sums[size_t(std::get<0>(key))] += sum.Normalize();
        for (int32_t v = 0; v < vertices; ++v) vb.SetNormals(v, sums[size_t(v)].Normalize());
        break;
    }
    }
}

void TMeshDef::CalcTangentBinormals(TVertexBuffer* AVertexBuffer, const TIndexBuffer* AIndexBuffer)
{
    if (!AVertexBuffer || !AIndexBuffer) return;
    TVertexBuffer& vb = *AVertexBuffer;
    if (!vb.HasFormat(TVertexFormat::Normal) || !vb.HasFormat(TVertexFormat::BiNormal) ||
        !vb.HasFormat(TVertexFormat::Tangent) || !vb.HasFormat(TVertexFormat::TexCoord0))
        return;
    const int32_t triangles = TriangleCount(*AIndexBuffer);
    for (int32_t t = 0; t < triangles; ++t) {
        const TTriangleCorners c = CornersOf(*AIndexBuffer, t);
        const TPoint3D p0 = vb.Vertices(c.I[0]), p1 = vb.Vertices(c.I[1]), p2 = vb.Vertices(c.I[2]);
        const TPointF uv0 = vb.TexCoord0(c.I[0]), uv1 = vb.TexCoord0(c.I[1]), uv2 = vb.TexCoord0(c.I[2]);
        const TPoint3D e1 = p1 - p0, e2 = p2 - p0;
        const double d1x = double(uv1.X) - uv0.X, d1y = double(uv1.Y) - uv0.Y;
        const double d2x = double(uv2.X) - uv0.X, d2y = double(uv2.Y) - uv0.Y;
        const double r = d1x * d2y - d1y * d2x;
        const double f = r == 0 ? 0 : 1.0 / r;
        const auto combine = [&](const TPoint3D& a, double ka, const TPoint3D& b, double kb) {
            return TPoint3D(float((a.X * ka - b.X * kb) * f), float((a.Y * ka - b.Y * kb) * f),
                            float((a.Z * ka - b.Z * kb) * f));
        };
        const TPoint3D tangent = combine(e1, d2y, e2, d1y);
        const TPoint3D binormal = combine(e2, d1x, e1, d2x);
        for (int k = 0; k < 3; ++k) {
            vb.SetTangents(c.I[k], tangent);
            vb.SetBiNormals(c.I[k], binormal);
        }
    }
}

void TMeshDef::CalcTangentBinormals(bool ASubMeshes)
{
    if (ASubMeshes) ForEachChildMesh([&](TMeshDef* child) { child->CalcTangentBinormals(ASubMeshes); });
    CalcTangentBinormals(FVertexSource, FIndexSource);
}

void TMeshDef::CalcTangentBinormals(TMeshData* AData)
{
    if (AData) CalcTangentBinormals(&AData->VertexBuffer(), &AData->IndexBuffer());
}

// ---- texture coordinates ----

void TMeshDef::CalcTextureCoordinates()
{
    if (FVertexSource) CalcTextureCoordinates(0, FVertexSource->Length() - 1);
}

void TMeshDef::CalcTextureCoordinates(int AStartIdx, int AStopIdx)
{
    if (FVertexSource) CalcTextureCoordinates(FVertexSource, GetBoundingBox(), AStartIdx, AStopIdx);
}

void TMeshDef::CalcTextureCoordinates(TVertexBuffer* AVertexBuffer, const TBoundingBox& ABoundingBox, int AStartIdx,
                                      int AStopIdx)
{
    if (!AVertexBuffer) return;
    const TPoint3D centre((double(ABoundingBox.Left) + ABoundingBox.Right) / 2,
                          (double(ABoundingBox.Top) + ABoundingBox.Bottom) / 2,
                          (double(ABoundingBox.Near) + ABoundingBox.Far) / 2);
    for (int i = AStartIdx; i <= AStopIdx; ++i) {
        const TPoint3D d = (AVertexBuffer->Vertices(i) - centre).Normalize();
        AVertexBuffer->SetTexCoord0(
            i, TPointF(float(std::asin(double(d.X)) / Pi + 0.5), float(std::asin(double(d.Y)) / Pi + 0.5)));
    }
}

// ---- triangle tree and ray casts ----

void TMeshDef::BuildBVH()
{
    FBVH = std::make_unique<TBVHGeometry>(
        TBVHGeometry::Create(GetVertexSource(), GetIndexSource(), TMatrix3D::Identity()));
    korvane::BuildBVH(FBVH.get());
}

void TMeshDef::AcquireBVH()
{
    ForEachChildMesh([](TMeshDef* child) { child->AcquireBVH(); });
    if (!FBVH) BuildBVH();
}

void TMeshDef::UpdateBVH()
{
    ForEachChildMesh([](TMeshDef* child) { child->UpdateBVH(); });
    if (FBVH) {
        ReleaseBVH();
        BuildBVH();
    }
    ForEachChildMesh([](TMeshDef* child) {
        if (!child->BVH()) child->AcquireBVH();
    });
}

void TMeshDef::ReleaseBVH()
{
    ForEachChildMesh([](TMeshDef* child) { child->ReleaseBVH(); });
    if (!FBVH) return;
    FreeBVHAccelerator(FBVH.get());
    FBVH.reset();
}

bool TMeshDef::RayCastIntersect(const TPoint3D& ARayPos, const TPoint3D& ARayDir, const TMatrix3D& AMeshMatrix,
                                const TMatrix3D& AAbsoluteMatrix, TPoint3D& AIntersection, TPoint3D& ANormal)
{
    const TMatrix3D inverse = AMeshMatrix.Inverse();
    const TPoint3D start = PointThrough(ARayPos, inverse);
    const TPoint3D dir = ARayDir.TransformDirection(inverse).Normalize();
    AIntersection = TPoint3D();
    ANormal = TPoint3D();
    const TVertexBuffer* vertices = GetVertexSource();
    const TIndexBuffer* indices = GetIndexSource();
    if (!vertices || vertices->Size() == 0 || !indices) return false;
    TRaycastData ray;
    ray._Set(start, dir, 1000);

    if (FBVH) {
        TRaycastResult hit;
        FBVH->Raycast(ray, hit);
        if (hit.Hit) HitToWorld(hit, AMeshMatrix, AAbsoluteMatrix, AIntersection, ANormal);
        return hit.Hit;
    }

    // The triangles are tested as stored, so the rejecting box is that of the
    // stored positions too, not the box through the definition's Transform.
    std::vector<TPoint3D> positions;
    positions.reserve(size_t(vertices->Length()));
    for (int32_t i = 0; i < vertices->Length(); ++i) positions.push_back(vertices->Vertices(i));
    if (TAABB::FromBoundingBox(TBoundingBox::Create(positions)).Raycast(ray) < 0) return false;

    float best = 100000;
    bool found = false;
    const int32_t triangles = TriangleCount(*indices);
    for (int32_t t = 0; t < triangles; ++t) {
        const TTriangleCorners c = CornersOf(*indices, t);
        if (c.I[0] < 0 || c.I[1] < 0 || c.I[2] < 0 || c.I[0] >= vertices->Length() || c.I[1] >= vertices->Length() ||
            c.I[2] >= vertices->Length())
            continue;
        const TTriangle triangle =
            TTriangle::Create(positions[size_t(c.I[2])], positions[size_t(c.I[1])], positions[size_t(c.I[0])]);
        TRaycastResult hit;
        const float tHit = triangle.Raycast(ray, &hit) ? hit.T : -1.0f;
        if (tHit >= 0 && tHit < best) {
            best = tHit;
            found = true;
            HitToWorld(hit, AMeshMatrix, AAbsoluteMatrix, AIntersection, ANormal);
        }
    }
    return found;
}

// ---- baking transformations ----

void TMeshDef::ApplyTransformationMatrixToVertices(const TMatrix3D& ATransform, bool AModfiyVertices)
{
    if (IsZeroMatrix3D(Transform())) SetTransform(TMatrix3D::Identity());
    const TMatrix3D t = Transform() * ATransform;
    if (!AModfiyVertices) {
        SetTransform(t);
        return;
    }
    ForEachChildMesh([&](TMeshDef* child) { child->ApplyTransformationMatrixToVertices(t, true); });
    if (FVertexSource) {
        TVertexBuffer& vb = *FVertexSource;
        for (int32_t i = 0; i < vb.Length(); ++i) {
            if (vb.HasFormat(TVertexFormat::Vertex)) vb.SetVertices(i, PointThrough(vb.Vertices(i), t));
            if (vb.HasFormat(TVertexFormat::Normal)) vb.SetNormals(i, vb.Normals(i).TransformDirection(t).Normalize());
            if (vb.HasFormat(TVertexFormat::Tangent))
                vb.SetTangents(i, vb.Tangents(i).TransformDirection(t).Normalize());
            if (vb.HasFormat(TVertexFormat::BiNormal))
                vb.SetBiNormals(i, vb.BiNormals(i).TransformDirection(t).Normalize());
        }
    }
    SetTransform(TMatrix3D::Identity());
    FBoundingBoxStale = true;
}

void TMeshDef::MoveVerticesToPivot()
{
    const TPoint3D c = GetCombinedBoundingBox().CenterPoint();
    ApplyTransformationMatrixToVertices(TMatrix3D::CreateTranslation(-c), true);
}

// ---- mesh data ----

void TMeshDef::ApplyToMeshData(TMeshData* AData)
{
    if (!AData || !FVertexSource) return;
    DirtyHackApplyMeshDataBuffers(AData, FVertexSource, FIndexSource);
    if (!FIndexSource || AData->VertexBuffer().Size() == 0) return;
    AData->IndexBuffer().Assign(*FIndexSource);
    TVertexBuffer& vb = AData->VertexBuffer();
    if (vb.Length() < 1) return;
    if (vb.HasFormat(TVertexFormat::Normal) && IsZeroPoint3D(vb.Normals(0), 1e-7f)) AData->CalcFaceNormals(true);
    if (vb.HasFormat(TVertexFormat::Tangent) && IsZeroPoint3D(vb.Tangents(0), 1e-7f)) CalcTangentBinormals(AData);
}

void TMeshDef::ApplyFromMeshData(TMeshData* AData)
{
    if (!AData) return;
    SetVertices(&AData->VertexBuffer());
    SetIndices(&AData->IndexBuffer());
    BoundingBoxChanged();
}

void TMeshDef::ApplyToMeshDef(TMeshDef* ADef, TCopyVertexOptions AOptions)
{
    if (!ADef) return;
    if (ADef->BVH()) ADef->ReleaseBVH();
    if (FVertexIndexMap && ADef->FVertexIndexMap) ADef->FVertexIndexMap->Clear();
    ADef->SetVertices(GetVertexSource());
    ADef->SetIndices(GetIndexSource());
    // The exchanged positions are the copy's; this mesh keeps its own.
    TVertexBuffer* copy = ADef->VertexSource();
    if (copy && copy->HasFormat(TVertexFormat::Vertex) && !AOptions.IsEmpty())
        for (int32_t i = 0; i < copy->Length(); ++i) {
            TPoint3D p = copy->Vertices(i);
            if (AOptions.Contains(TCopyVertexOption::ExchangeYZ)) std::swap(p.Y, p.Z);
            if (AOptions.Contains(TCopyVertexOption::ExchangeYX)) std::swap(p.Y, p.X);
            if (AOptions.Contains(TCopyVertexOption::ExchangeXZ)) std::swap(p.X, p.Z);
            copy->SetVertices(i, p);
        }
    ADef->UpdateMeshBuffer();
}

} // namespace korvane
