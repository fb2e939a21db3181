#pragma once
// Small value records for ray casting and collision queries (rays and their
// results, edges, axis-aligned and oriented boxes, segments, planes and
// triangles) with their intersection tests, and the triangle bounding-volume
// tree that casts rays at a mesh.
//
// All coordinates are floats; intermediate arithmetic runs in double and is
// rounded where stored. Min(a, b) and Max(a, b) below are a when b > a (Min) or
// a > b (Max), otherwise b.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "Korvane.Utils.Matrices.h"
#include "Platform.Math3D.h"
#include "Platform.MeshBuffers.h"

namespace korvane {

struct TTriangle;
using PTriangle = TTriangle*;

// |X - Y| <= 1E-8 * Max(1, Max(|X|, |Y|)), in double.
bool NearlyEqual(double X, double Y);

// A ray from Start along Dir; T is the ray parameter of its end point, Toi a
// time of impact and Normal a normal carried with the ray.
struct TRaycastData {
    TPoint3D Start;
    TPoint3D Dir;
    float T = 0;
    float Toi = 0;
    TPoint3D Normal;

    // Sets Start, Dir and T; Toi and Normal stay as they are.
    void _Set(const TPoint3D& StartPoint, const TPoint3D& Direction, float EndPointTime);
    // Start + Dir * Toi.
    TPoint3D GetImpactPoint() const;
};

struct TRaycastResult {
    float T = 0;
    TPoint3D Normal;
    bool Hit = false;
    TPoint3D Point;
};
// An optional result: nullptr when no result record is wanted.
using PRaycastResult = TRaycastResult*;

struct TEdge {
    TPoint3D Start, Stop;
};

using TCornerArray = std::array<TPoint3D, 8>;

// Min <= Max per component is expected, not enforced.
struct TAABB {
    TPoint3D Min, Max;

    // Max := (X, Y, Z) / 2; Min := -Max.
    static TAABB Create(float X, float Y, float Z);
    static TAABB CreateFromOrigin(const TPoint3D& AOrigin, const TPoint3D& ASize, const TPoint3D& AOffset);
    // No reordering.
    static TAABB FromMinMax(const TPoint3D& AMin, const TPoint3D& AMax);
    static TAABB FromBoundingBox(const TBoundingBox& ABox);

    TAABB Combine(const TAABB& B) const;
    TPoint3D GetSize() const;
    TPoint3D GetExtent() const;
    TPoint3D GetPosition() const;
    // Corner i takes X from Max when bit 0 of i is set, Y with bit 1, Z with bit 2.
    void GetCorners(TCornerArray& APoints) const;
    // Six planes as (Normal, Distance) in the Normal . P + Distance = 0 form.
    void GetPlanes(std::vector<TVector3D>& APlanes) const;
    // Moves the box by APos after turning it by ARot (ARot * corner), keeping
    // the axis-aligned box around the turned corners.
    void Transform(const TPoint3D& APos, const TMat3& ARot);
    // Min := Min * AMat; Max := Max * AMat, not reordered (TransformedBoundingBox
    // gives the true box of a turned one).
    void Transform(const TMatrix3D& AMat);
    TAABB Inflate(float AFactor) const;
    void GetClosestPointAndDistance(const TPoint3D& APos, TPoint3D& APt, float& ADistance) const;
    void GetFarestPointAndDistance(const TPoint3D& APos, TPoint3D& APt, float& ADistance) const;
    // Inclusive on every face.
    bool Contains(const TPoint3D& Point) const;
    bool Contains(const TAABB& Other) const;
    float SurfaceArea() const;
    // The ray parameter of the entry point (the exit point when the ray starts
    // inside), or -1 for a miss. Faces count as part of the box, also for a
    // ray running along one (a direction component below 1E-7 counts as
    // parallel to that slab); a ray without direction hits nothing.
    float Raycast(const TRaycastData& ARay) const;
    // ARes.Normal is copied from the ray's Normal.
    bool Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const;
    TPoint3D GetVertexP(const TPoint3D& ANormal) const;
    TPoint3D GetVertexN(const TPoint3D& ANormal) const;
};

// True unless the boxes are apart on some axis; touching boxes overlap.
bool AABBOverlap(const TAABB& A, const TAABB& B);

// Oriented box: centre, half extents along its axes, and the axes
// (axis i is Orientation.GetVector(i)).
struct TOBB {
    TPoint3D Position;
    TPoint3D Size;
    TMat3 Orientation;

    // An axis-aligned box of full width, height and depth around the origin.
    static TOBB Create(float AWidth, float AHeight, float ADepth);
    // An axis-aligned box of half extents ASize around APosition.
    static TOBB Create(const TPoint3D& ASize, const TPoint3D& APosition);
    static TOBB Create(const TPoint3D& ASize, const TPoint3D& APosition, const TMat3& AOrientation);

    const TPoint3D& GetAxis(int AIndex) const;
    // The faces count as inside.
    bool Contains(const TPoint3D& APoint) const;
    void GetCorners(std::vector<TPoint3D>& AVertices) const;
    std::vector<TEdge> GetEdges() const;
    TAABB GetAABB() const;
    // A new mesh of the eight corners, indices 0 to 7.
    std::unique_ptr<TMeshData> ToMeshData() const;
    TPoint3D ClosestPoint(const TPoint3D& APoint) const;
    // Ray parameter of the hit or -1. A given result receives the hit point and
    // the outward normal of the face that was hit.
    float Raycast(const TRaycastData& ARay, PRaycastResult AResult) const;
    float Raycast(const TRaycastData& ARay) const { return Raycast(ARay, nullptr); }
};

// A plane. Create(N, P), Create(A, B, C) and SignedDistance use the form
// Normal . P + Distance = 0; ClosestPoint, IntersectsWith(TOBB) and Raycast use
// Normal . P = Distance. Each operation keeps its own form.
struct TPlane {
    TPoint3D Normal;
    float Distance = 0;

    static TPlane CreateEmpty(int ADummy);
    static TPlane Create(const TPoint3D& ANormal, float ADistance);
    // Normal := Normalize(ANormal); Distance := -(APoint . Normal).
    static TPlane Create(const TPoint3D& ANormal, const TPoint3D& APoint);
    static TPlane Create(const TPoint3D& P1, const TPoint3D& P2, const TPoint3D& P3);
    // The (Normal, Distance) vector that ToVector3D writes.
    static TPlane Create(const TVector3D& AVector);

    TVector3D ToVector3D() const;
    float SignedDistance(const TPoint3D& APoint) const;
    TPoint3D ClosestPoint(const TPoint3D& P) const;
    // |P . Normal - Distance| < 1E-8.
    bool Contains(const TPoint3D& P) const;
    bool IntersectsWith(const TOBB& AOBB) const;
    // The box's projected half size against its centre's distance from the plane.
    bool IntersectsWith(const TAABB& AAABB) const;
    // Planes that are not parallel meet; parallel ones only when they coincide.
    bool IntersectsWith(const TPlane& APlane) const;
    // Only rays running against the normal hit (front face); -1 for a miss.
    float Raycast(const TRaycastData& ray) const;
    bool Raycast(const TRaycastData& ray, PRaycastResult AResult) const;
};

struct TLine {
    TPoint3D Start, Stop;

    static TLine Create(int ADummy);
    static TLine Create(const TPoint3D& A, const TPoint3D& B);
    static TLine Create(const TEdge& AEdge);

    TPoint3D ClosestPoint(const TPoint3D& p) const;
    bool Contains(const TPoint3D& p) const;
    float Length() const;
    float LengthSq() const;
    TPoint3D GetDirection(bool AInverse) const;
    bool SphereLinetest(const TPoint3D& APos, float ARadius) const;
    // The segment meets the box (a segment starting inside always does).
    bool AABBLinetest(const TAABB& AABB) const;
    bool OBBLinetest(const TOBB& OBB) const;
    bool OBBLinetest(const TOBB& OBB, PRaycastResult AResult) const;
    bool TriangleLinetest(const TTriangle* triangle) const;
};

// The projection of a shape on an axis.
struct TInterval {
    float Min = 0, Max = 0;
};

struct TTriangle {
    TPoint3D A, B, C;

    static TTriangle Create(int ADummy);
    static TTriangle Create(const TPoint3D& APoint1, const TPoint3D& APoint2, const TPoint3D& APoint3);

    // The corners as an array of three points and the nine values in order.
    TPoint3D& Points(int AIndex);
    const TPoint3D& Points(int AIndex) const;
    float Values(int AIndex) const;

    // Compares the orientation of the cross products only: the edges count as
    // inside, and so does a point off the plane inside the triangle's prism.
    bool Contains(const TPoint3D& p) const;
    // Normal := Normalize((B - A) x (C - A)); Distance := Normal . A.
    TPlane ToPlane() const;
    TAABB ToAABB() const;
    // 0: (A, B), 1: (B, C), 2: (C, A), swapped when AInverse; else a zero line.
    TLine GetLine(int AIndex, bool AInverse) const;
    TPoint3D ClosestPoint(const TPoint3D& p) const;
    TPoint3D ClosestPoint2(const TPoint3D& pSource) const;
    // The centroid.
    TPoint3D Center() const;
    void Transform(const TPoint3D& APos, const TMat3& ARot);
    void Transform(const TMatrix3D& AMat);
    bool IntersectsWith(const TAABB& AABB) const;
    bool IntersectsWith(const TOBB& OBB) const;
    // Separating axes; triangles in one plane also try the edge normals inside
    // that plane, on which the edge-cross axes cannot separate them.
    bool IntersectsWith(const TTriangle& ATriangle) const;
    // The same with degenerate (parallel-edge) axes replaced or skipped.
    bool IntersectsWithRobust(const TTriangle& ATriangle) const;
    static TPoint3D SatCrossEdge(const TPoint3D& A, const TPoint3D& B, const TPoint3D& C, const TPoint3D& D);
    // Weights of A, B and C.
    TPoint3D Barycentric(const TPoint3D& p) const;
    // Only rays meeting the front face (the side (B - A) x (C - A) points to)
    // hit; degenerate triangles never do. -1 for a miss.
    float Raycast(const TRaycastData& ARay) const;
    bool Raycast(const TRaycastData& ARay, PRaycastResult AResult) const;
    // Edge casts between this triangle and a box or another triangle.
    bool Raycast(const TOBB& OBB, std::vector<TRaycastResult>& AResult) const;
    bool Raycast(const TTriangle& ATriangle, std::vector<TRaycastResult>& AResult) const;
};

TInterval TriangleInterval(const TTriangle& T, const TPoint3D& L);
TInterval AABBInterval(const TAABB& Box, const TPoint3D& L);
TInterval OBBInterval(const TOBB& Box, const TPoint3D& L);
// Touching intervals overlap.
bool OverlapOnAxis(const TInterval& I1, const TInterval& I2);

// The eight corners of Box times M, as a normalised platform bounding box.
TBoundingBox TransformedBoundingBox(const TAABB& Box, const TMatrix3D& M);

// ---------------------------------------------------------------- triangle tree

struct TBVHNode;
struct TBVHGeometry;
using PBVHNode = TBVHNode*;
using PBVHGeometry = TBVHGeometry*;

// A node of the octree over a geometry's triangles: a leaf lists triangle
// indices, an inner node has exactly eight children and no triangles.
struct TBVHNode {
    PBVHGeometry Geometry = nullptr;
    TAABB Bounds;
    std::vector<TBVHNode> Children;
    int32_t NumTriangles = 0;
    std::vector<int32_t> Triangles;

    static TBVHNode Create(PBVHGeometry AGeometry);
    bool IntersectsWith(const TAABB& A) const;
    // The deepest node reached along the first overlapping child at each level.
    bool IntersectsWith(const TAABB& A, PBVHNode& ANode);
    // The nearest triangle hit in the subtree; ties keep the first found.
    bool Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const;
};

// What a ray cast through the tree needs of one triangle, worked out once
// when the tree is built: a single-precision test on it throws out almost
// every triangle a ray cannot hit, and only the few it keeps go through the
// exact TTriangle::Raycast. Its tolerances only ever keep too much, so a cast
// gives exactly the hit of the exact test.
struct TBVHCastTriangle {
    TPoint3D A;       // the first corner
    TPoint3D N;       // the unit normal, within a rounding step of TTriangle::ToPlane's
    TPoint3D U, V;    // the weights of B and C of a point P in the plane: (P - A) . U, (P - A) . V
    float ASum = 0;   // |A.X| + |A.Y| + |A.Z|
    float G1 = 0;     // the largest 1-norm of the three weights' gradients U, V, -(U + V)
    float Abs = 0;    // the weight error of the exact test's own projections, larger on slivers
    // Degenerate, slivered past the tolerances or not finite: always cast exactly.
    bool Exact = true;
};

// The triangles of one mesh and the tree over them (Accelerator, none until
// built). The nodes point back at their geometry, so moving a geometry moves
// its tree with it; geometries are not copied. Building the tree also works
// out each triangle's cast data; changing the triangles means freeing and
// building the tree again.
struct TBVHGeometry {
    std::unique_ptr<TBVHNode> Accelerator;
    int32_t NumTriangles = 0;
    std::vector<TTriangle> Triangles;

    TBVHGeometry() = default;
    TBVHGeometry(TBVHGeometry&& Other) noexcept;
    TBVHGeometry& operator=(TBVHGeometry&& Other) noexcept;
    TBVHGeometry(const TBVHGeometry&) = delete;
    TBVHGeometry& operator=(const TBVHGeometry&) = delete;
    ~TBVHGeometry();

    static TBVHGeometry Create(int ADummy);
    // Triangle i is (vertex[index[3i + 2]], vertex[index[3i + 1]], vertex[index[3i]])
    // times ALocal; left-over indices are ignored; a missing buffer or fewer
    // than 3 indices give the empty geometry. An index beyond the vertices
    // raises the vertex buffer's range error.
    static TBVHGeometry Create(const TVertexBuffer* AVertexSource, const TIndexBuffer* AIndexSource,
                               const TMatrix3D& ALocal);

    // Point k of the triangle array: vertex k mod 3 of triangle k div 3.
    const TPoint3D& Point(int32_t K) const { return Triangles[size_t(K / 3)].Points(K % 3); }
    std::unique_ptr<TMeshData> ToMeshData() const;
    bool Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const;
    // The first node (breadth first) holding a triangle that touches A; without
    // a tree every triangle is tested and no node is returned.
    bool IntersectsWith(const TAABB& A, PBVHNode& ANode) const;
    bool IntersectsWith(const TAABB& A) const;

    // Parallel to Triangles while a tree exists, else empty.
    const std::vector<TBVHCastTriangle>& CastTriangles() const { return FCast; }

private:
    friend void BuildBVH(PBVHGeometry Geometry);
    friend void FreeBVHAccelerator(PBVHGeometry Geometry);
    std::vector<TBVHCastTriangle> FCast;
    void Rebind();
};

void BuildBVH(PBVHGeometry Geometry);
void FreeBVHAccelerator(PBVHGeometry Geometry);
void FreeBVHNode(TBVHNode& Node);

} // namespace korvane
