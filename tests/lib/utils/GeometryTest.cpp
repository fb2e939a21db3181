// Rays, boxes, oriented boxes, segments and planes.

#include <gtest/gtest.h>

#include "GeometryTestHelpers.h"
#include "TestHelpers.h"

#include <cmath>
#include <vector>

#include "Korvane.Utils.Geometry.h"

using namespace korvane;
using namespace korvane::test;

namespace {

const TAABB kUnitBox = TAABB::FromMinMax({-1, -1, -1}, {1, 1, 1});

} // namespace

TEST(GeometryRay, SetAndImpactPoint)
{
    TRaycastData R;
    R.Toi = 2;
    R.Normal = {0, 1, 0};
    R._Set({1, 2, 3}, {0, 0, -1}, 7);
    EXPECT_EQ(R.T, 7);
    EXPECT_EQ(R.Toi, 2);
    EXPECT_EQ(R.Normal, TPoint3D(0, 1, 0));
    EXPECT_EQ(R.GetImpactPoint(), TPoint3D(1, 2, 1));
    EXPECT_TRUE(NearlyEqual(1e9, 1e9 + 1));
    EXPECT_FALSE(NearlyEqual(1e-3, 2e-3));
    EXPECT_TRUE(NearlyEqual(0, 1e-9));
}

TEST(GeometryAABB, RaycastTable)
{
    struct Case { TPoint3D Start, Dir; float T; };
    for (const Case c : {Case{{0, 0, -5}, {0, 0, 1}, 4},        // along an axis: the zero components are nudged
                         Case{{0, 0, 0}, {0, 0, 1}, 1},         // inside: the exit
                         Case{{0, 0, 0.5f}, {0, 0, -1}, 1.5f},  // inside, other way
                         Case{{0, 0, -5}, {0, 0, -1}, -1},      // pointing away
                         Case{{2, 0, -5}, {0, 0, 1}, -1},       // passing beside
                         Case{{-5, -5, -5}, {1, 1, 1}, 4},      // diagonal into the corner
                         Case{{5, 0.5f, 0}, {-2, 0, 0}, 2},     // a direction of length 2 halves t
                         Case{{0, 0, 1}, {0, 0, 1}, 0},         // starting on the face, leaving
                         Case{{1, 1, -3}, {0, 0, 1}, 2},        // along an edge of the box
                         Case{{1.001f, 1, -3}, {0, 0, 1}, -1},  // just beside it
                         Case{{-1, -1, -3}, {0, 0, 1}, 2},
                         Case{{0, 0, 0}, {0, 0, 0}, -1}}) {     // no direction
        EXPECT_NEAR(kUnitBox.Raycast(Ray(c.Start, c.Dir)), c.T, 1e-5)
            << c.Start.X << "," << c.Start.Y << "," << c.Start.Z;
    }
}

TEST(GeometryAABB, RaycastResultRecord)
{
    TRaycastData R = Ray({0, 0, -5}, {0, 0, 1});
    R.Normal = {7, 8, 9};
    TRaycastResult res;
    ASSERT_TRUE(kUnitBox.Raycast(R, res));
    EXPECT_EQ(res.T, 4);
    EXPECT_EQ(res.Point, TPoint3D(0, 0, -1));
    EXPECT_TRUE(res.Hit);
    EXPECT_EQ(res.Normal, TPoint3D(7, 8, 9));

    res = {3, {1, 1, 1}, true, {2, 2, 2}};
    EXPECT_FALSE(kUnitBox.Raycast(Ray({0, 0, -5}, {0, 0, -1}), res));
    EXPECT_EQ(res.T, -1);
    EXPECT_FALSE(res.Hit);
    EXPECT_EQ(res.Point, TPoint3D());
    EXPECT_EQ(res.Normal, TPoint3D());
}

TEST(GeometryAABB, ConstructionMeasuresAndContainment)
{
    const TAABB B = TAABB::Create(2, 4, 6);
    EXPECT_EQ(B.Min, TPoint3D(-1, -2, -3));
    EXPECT_EQ(B.Max, TPoint3D(1, 2, 3));
    EXPECT_EQ(B.SurfaceArea(), 88);
    EXPECT_EQ(B.GetSize(), TPoint3D(2, 4, 6));
    EXPECT_EQ(B.GetExtent(), TPoint3D(1, 2, 3));
    EXPECT_EQ(B.GetPosition(), TPoint3D(0, 0, 0));
    EXPECT_EQ(TAABB::FromMinMax({1, 1, 1}, {0, 0, 0}).GetSize(), TPoint3D(1, 1, 1));
    EXPECT_EQ(TAABB::CreateFromOrigin({1, 2, 3}, {4, 5, 6}, {1, 0, -1}).Max, TPoint3D(6, 7, 8));
    const TAABB F = TAABB::FromBoundingBox(TBoundingBox(1, 2, 3, 4, 5, 6));
    EXPECT_EQ(F.Min, TPoint3D(1, 2, 3));
    EXPECT_EQ(F.Max, TPoint3D(4, 5, 6));
    const TAABB C = B.Combine(TAABB::FromMinMax({0, 0, 0}, {5, 1, 1}));
    EXPECT_EQ(C.Min, TPoint3D(-1, -2, -3));
    EXPECT_EQ(C.Max, TPoint3D(5, 2, 3));
    EXPECT_EQ(B.Inflate(0.5f).Max, TPoint3D(1.5f, 2.5f, 3.5f));

    TCornerArray c;
    B.GetCorners(c);
    EXPECT_EQ(c[0], B.Min);
    EXPECT_EQ(c[1], TPoint3D(1, -2, -3));
    EXPECT_EQ(c[2], TPoint3D(-1, 2, -3));
    EXPECT_EQ(c[4], TPoint3D(-1, -2, 3));
    EXPECT_EQ(c[7], B.Max);

    EXPECT_TRUE(B.Contains(TPoint3D(1, 2, 3)));  // faces count
    EXPECT_FALSE(B.Contains(TPoint3D(1, 2, 3.001f)));
    EXPECT_TRUE(B.Contains(B));
    EXPECT_FALSE(B.Contains(B.Inflate(0.1f)));
    EXPECT_EQ(B.GetVertexP({1, -1, 0}), TPoint3D(1, -2, 3));
    EXPECT_EQ(B.GetVertexN({1, -1, 0}), TPoint3D(-1, 2, -3));
}

TEST(GeometryAABB, OverlapCountsTouching)
{
    struct Case { TAABB Other; bool Overlap; };
    for (const Case c : {Case{TAABB::FromMinMax({1, -1, -1}, {2, 1, 1}), true},   // shares a face
                         Case{TAABB::FromMinMax({1, 1, 1}, {2, 2, 2}), true},     // shares a corner
                         Case{TAABB::FromMinMax({1.001f, 0, 0}, {2, 1, 1}), false},
                         Case{TAABB::FromMinMax({-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}), true},
                         Case{TAABB::FromMinMax({0, 0, -3}, {0.1f, 0.1f, -1.01f}), false}}) {
        EXPECT_EQ(AABBOverlap(kUnitBox, c.Other), c.Overlap);
        EXPECT_EQ(AABBOverlap(c.Other, kUnitBox), c.Overlap);
    }
}

TEST(GeometryAABB, ClosestAndFarthestCornersKeepTheEarlierOnTies)
{
    TPoint3D pt;
    float d;
    kUnitBox.GetClosestPointAndDistance({3, 3, 3}, pt, d);
    EXPECT_EQ(pt, TPoint3D(1, 1, 1));
    EXPECT_NEAR(d, std::sqrt(12.0f), 1e-6);
    kUnitBox.GetFarestPointAndDistance({3, 3, 3}, pt, d);
    EXPECT_EQ(pt, TPoint3D(-1, -1, -1));
    // From the centre every corner is farther than the centre itself, and all
    // are equally far: the closest stays the centre, the farthest is corner 0.
    kUnitBox.GetClosestPointAndDistance({0, 0, 0}, pt, d);
    EXPECT_EQ(pt, TPoint3D(0, 0, 0));
    EXPECT_EQ(d, 0);
    kUnitBox.GetFarestPointAndDistance({0, 0, 0}, pt, d);
    EXPECT_EQ(pt, TPoint3D(-1, -1, -1));
}

TEST(GeometryAABB, PlanesLieOnTheFaces)
{
    std::vector<TVector3D> planes;
    TAABB::Create(2, 4, 6).GetPlanes(planes);
    ASSERT_EQ(planes.size(), 6u);
    TCornerArray c;
    TAABB::Create(2, 4, 6).GetCorners(c);
    for (const TVector3D& v : planes) {
        const TPlane p = TPlane::Create(v);
        EXPECT_NEAR(p.Normal.Length(), 1, 1e-6);
        int onPlane = 0;
        for (const TPoint3D& corner : c) onPlane += std::fabs(p.SignedDistance(corner)) < 1e-5f;
        EXPECT_EQ(onPlane, 4);
    }
}

TEST(GeometryAABB, Transforms)
{
    // The matrix form moves Min and Max as points and does not reorder them.
    TAABB B = kUnitBox;
    B.Transform(TMatrix3D::CreateScaling({-2, 1, 1}));
    EXPECT_EQ(B.Min, TPoint3D(2, -1, -1));
    EXPECT_EQ(B.Max, TPoint3D(-2, 1, 1));
    // The true box of a turned box.
    const TBoundingBox T = TransformedBoundingBox(
        kUnitBox, TMatrix3D::CreateRotationZ(DegToRad(45)) * TMatrix3D::CreateTranslation({10, 0, 0}));
    EXPECT_NEAR(T.Left, 10 - std::sqrt(2.0f), 1e-5);
    EXPECT_NEAR(T.Right, 10 + std::sqrt(2.0f), 1e-5);
    EXPECT_NEAR(T.Bottom, std::sqrt(2.0f), 1e-5);
    EXPECT_NEAR(T.Far, 1, 1e-6);
    // Position and rotation: the box around the turned corners, then moved.
    TAABB L = TAABB::FromMinMax({0, 0, 0}, {2, 1, 1});
    TMat3 R;
    R._Set(TPoint3D(0, 0, 1), float(Pi / 2));
    L.Transform(TPoint3D(5, 5, 5), R);
    EXPECT_TRUE(NearPoint(L.Min, {4, 5, 5}));
    EXPECT_TRUE(NearPoint(L.Max, {5, 7, 6}));
}

TEST(GeometryOBB, CornersEdgesAndContainment)
{
    TMat3 rot;
    rot._Set(TPoint3D(0, 0, 1), DegToRad(30));
    const TOBB O = TOBB::Create({1, 2, 3}, {10, 0, 0}, rot);
    std::vector<TPoint3D> c;
    O.GetCorners(c);
    ASSERT_EQ(c.size(), 8u);
    const TPoint3D X = O.GetAxis(0) * 1, Y = O.GetAxis(1) * 2, Z = O.GetAxis(2) * 3;
    EXPECT_TRUE(NearPoint(c[0], O.Position + X + Y + Z));
    EXPECT_TRUE(NearPoint(c[4], O.Position - X - Y - Z));
    EXPECT_TRUE(NearPoint(c[6], O.Position - X + Y - Z));
    const std::vector<TEdge> edges = O.GetEdges();
    ASSERT_EQ(edges.size(), 12u);
    EXPECT_EQ(edges[0].Start, c[4]);
    EXPECT_EQ(edges[0].Stop, c[5]);
    EXPECT_EQ(edges[11].Start, c[1]);
    EXPECT_EQ(edges[11].Stop, c[6]);
    // Every edge joins corners that differ along exactly one axis: its length is 2, 4 or 6.
    for (const TEdge& e : edges) {
        const float l = e.Start.Distance(e.Stop);
        EXPECT_TRUE(std::fabs(l - 2) < 1e-5f || std::fabs(l - 4) < 1e-5f || std::fabs(l - 6) < 1e-5f) << l;
    }
    for (const TPoint3D& corner : c) EXPECT_TRUE(O.Contains(corner + (O.Position - corner) * 1e-5f));
    EXPECT_FALSE(O.Contains(O.Position + O.GetAxis(0) * 1.01f));
    EXPECT_TRUE(O.Contains(O.Position + O.GetAxis(2) * 2.99f));

    const TAABB box = O.GetAABB();
    for (const TPoint3D& corner : c) EXPECT_TRUE(box.Contains(corner));
    EXPECT_TRUE(NearPoint(O.ClosestPoint(O.Position + O.GetAxis(1) * 5), O.Position + O.GetAxis(1) * 2));
    EXPECT_TRUE(NearPoint(O.ClosestPoint(O.Position), O.Position));

    const auto mesh = O.ToMeshData();
    ASSERT_EQ(mesh->VertexBuffer().Length(), 8);
    ASSERT_EQ(mesh->IndexBuffer().Length(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(mesh->VertexBuffer().Vertices(i), c[size_t(i)]);
        EXPECT_EQ(mesh->IndexBuffer().Indices(i), uint32_t(i));
    }
}

TEST(GeometryOBB, RaycastGivesTheOutwardNormalOfTheFaceHit)
{
    TMat3 rot;
    rot._Set(TPoint3D(0, 0, 1), DegToRad(30));
    const TOBB O = TOBB::Create({1, 1, 1}, {0, 0, 0}, rot);
    const TPoint3D ax = O.GetAxis(0), ay = O.GetAxis(1);
    struct Case { TPoint3D Start, Dir; float T; TPoint3D Normal; };
    // The face along -axis 0 is at distance 1 from the centre: a ray from
    // -5 * axis0 along axis0 meets it at t = 4.
    for (const Case c : {Case{ax * -5, ax, 4, -ax}, Case{ay * 5, -ay, 4, ay},
                         Case{{0, 0, -3}, {0, 0, 1}, 2, {0, 0, -1}},
                         // From inside: the exit face, normal still outward.
                         Case{{0, 0, 0}, ax, 1, ax}}) {
        TRaycastResult res;
        ASSERT_NEAR(O.Raycast(Ray(c.Start, c.Dir), &res), c.T, 1e-5);
        EXPECT_TRUE(res.Hit);
        EXPECT_NEAR(res.T, c.T, 1e-5);
        EXPECT_TRUE(NearPoint(res.Point, c.Start + c.Dir * c.T));
        EXPECT_TRUE(NearPoint(res.Normal, c.Normal)) << c.T;
    }
    // Parallel to a slab and outside it: a miss, and the result stays zeroed.
    TRaycastResult res{5, {1, 1, 1}, true, {1, 1, 1}};
    EXPECT_EQ(O.Raycast(Ray(ay * 3, ax), &res), -1);
    EXPECT_FALSE(res.Hit);
    EXPECT_EQ(res.Point, TPoint3D());
    EXPECT_EQ(O.Raycast(Ray(ax * -5, -ax)), -1);
    EXPECT_NEAR(O.Raycast(Ray(ax * -5, ax)), 4, 1e-5);
}

TEST(GeometryPlane, ConstructionAndConventions)
{
    // A normal given unnormalised still yields a plane through the point.
    const TPlane P = TPlane::Create(TPoint3D(0, 0, 5), TPoint3D(1, 2, 3));
    EXPECT_EQ(P.Normal, TPoint3D(0, 0, 1));
    EXPECT_EQ(P.Distance, -3);
    EXPECT_EQ(P.SignedDistance({7, 7, 3}), 0);
    EXPECT_EQ(P.SignedDistance({0, 0, 4}), 1);

    const TPlane Q = TPlane::Create(TPoint3D(0, 0, 2), TPoint3D(1, 0, 2), TPoint3D(0, 1, 2));
    EXPECT_EQ(Q.Normal, TPoint3D(0, 0, 1));
    EXPECT_EQ(Q.Distance, -2);
    // The vector form round-trips.
    for (const TPlane& p : {P, Q, TPlane::Create({0.6f, 0, 0.8f}, 7.5f), TPlane::Create({0, 1, 0}, 0.00005f)}) {
        const TPlane back = TPlane::Create(p.ToVector3D());
        EXPECT_EQ(back.Normal, p.Normal);
        EXPECT_EQ(back.Distance, p.Distance);
    }
    EXPECT_EQ(TPlane::CreateEmpty(0).ToVector3D(), TVector3D(0, 0, 0, 0));

    // ClosestPoint and the ray test use Normal . P = Distance.
    const TPlane R = TPlane::Create({0, 0, 1}, 2);
    EXPECT_EQ(R.ClosestPoint({3, 4, 10}), TPoint3D(3, 4, 2));
    EXPECT_TRUE(R.Contains({5, 5, 2}));
    EXPECT_FALSE(R.Contains({5, 5, 2.001f}));
}

TEST(GeometryPlane, RaycastOnlyFromTheFront)
{
    const TPlane P = TPlane::Create({0, 0, 2}, 4);  // 2z = 4: z = 2, normal not unit
    struct Case { TPoint3D Start, Dir; float T; };
    for (const Case c : {Case{{0, 0, 5}, {0, 0, -1}, 3},     // from the front, against the normal
                         Case{{0, 0, -5}, {0, 0, 1}, -1},    // crossing from behind
                         Case{{0, 0, 5}, {1, 0, 0}, -1},     // along the plane
                         Case{{0, 0, 1}, {0, 0, -1}, -1}}) { // behind, moving away
        EXPECT_NEAR(P.Raycast(Ray(c.Start, c.Dir)), c.T, 1e-6) << c.Start.Z << " " << c.Dir.Z;
    }
    TRaycastResult res;
    ASSERT_TRUE(P.Raycast(Ray({1, 1, 5}, {0, 0, -2}), &res));
    EXPECT_EQ(res.T, 1.5f);
    EXPECT_EQ(res.Point, TPoint3D(1, 1, 2));
    EXPECT_EQ(res.Normal, TPoint3D(0, 0, 1));
    EXPECT_FALSE(P.Raycast(Ray({1, 1, 5}, {0, 0, 1}), &res));
    EXPECT_FALSE(res.Hit);
    EXPECT_TRUE(P.Raycast(Ray({1, 1, 5}, {0, 0, -1}), nullptr));
}

TEST(GeometryPlane, IntersectionTests)
{
    const TPlane P = TPlane::Create({0, 1, 0}, 3);  // y = 3
    TMat3 id = TMat3::Create(1, 0, 0, 0, 1, 0, 0, 0, 1);
    EXPECT_TRUE(P.IntersectsWith(TOBB::Create({1, 1, 1}, {0, 2, 0}, id)));    // touches
    EXPECT_FALSE(P.IntersectsWith(TOBB::Create({1, 1, 1}, {0, 1.9f, 0}, id)));
    TMat3 rot;
    rot._Set(TPoint3D(0, 0, 1), DegToRad(45));
    EXPECT_TRUE(P.IntersectsWith(TOBB::Create({1, 1, 1}, {0, 1.9f, 0}, rot)));  // its corner reaches up
    EXPECT_TRUE(P.IntersectsWith(TAABB::FromMinMax({0, 2, 0}, {1, 3, 1})));
    EXPECT_FALSE(P.IntersectsWith(TAABB::FromMinMax({0, 3.5f, 0}, {1, 4, 1})));
    EXPECT_TRUE(P.IntersectsWith(TPlane::Create({1, 0, 0}, 0)));
    EXPECT_FALSE(P.IntersectsWith(TPlane::Create({0, 1, 0}, 4)));
    EXPECT_TRUE(P.IntersectsWith(TPlane::Create({0, 1, 0}, 3)));
    EXPECT_TRUE(P.IntersectsWith(TPlane::Create({0, -1, 0}, -3)));
}

TEST(GeometryLine, MeasuresAndTests)
{
    const TLine L = TLine::Create({0, 0, 0}, {4, 0, 0});
    struct Case { TPoint3D P, Closest; };
    for (const Case c : {Case{{2, 5, 0}, {2, 0, 0}}, Case{{-3, 1, 0}, {0, 0, 0}}, Case{{9, 0, 9}, {4, 0, 0}}})
        EXPECT_EQ(L.ClosestPoint(c.P), c.Closest);
    // A degenerate segment answers its start instead of NaN.
    EXPECT_EQ(TLine::Create({1, 1, 1}, {1, 1, 1}).ClosestPoint({5, 5, 5}), TPoint3D(1, 1, 1));
    EXPECT_TRUE(L.Contains({3, 0, 0}));
    EXPECT_FALSE(L.Contains({3, 0.001f, 0}));
    EXPECT_FALSE(L.Contains({5, 0, 0}));
    EXPECT_EQ(L.Length(), 4);
    EXPECT_EQ(L.LengthSq(), 16);
    EXPECT_EQ(L.GetDirection(false), TPoint3D(1, 0, 0));
    EXPECT_EQ(L.GetDirection(true), TPoint3D(-1, 0, 0));
    EXPECT_EQ(TLine::Create(TEdge{{1, 2, 3}, {4, 5, 6}}).Stop, TPoint3D(4, 5, 6));
    EXPECT_EQ(TLine::Create(0).Stop, TPoint3D());
    EXPECT_TRUE(L.SphereLinetest({2, 1, 0}, 1));
    EXPECT_FALSE(L.SphereLinetest({2, 1.01f, 0}, 1));

    struct BoxCase { TLine Segment; bool Hit; };
    const TAABB box = TAABB::FromMinMax({2, -1, -1}, {3, 1, 1});
    for (const BoxCase c : {BoxCase{L, true}, BoxCase{TLine::Create({0, 0, 0}, {1.9f, 0, 0}), false},
                            BoxCase{TLine::Create({5, 0, 0}, {4, 0, 0}), false},
                            // Wholly inside the box.
                            BoxCase{TLine::Create({2.5f, 0, 0}, {2.6f, 0, 0}), true}}) {
        EXPECT_EQ(c.Segment.AABBLinetest(box), c.Hit) << c.Segment.Stop.X;
        const TOBB obb = TOBB::Create(box.GetExtent(), box.GetPosition());
        EXPECT_EQ(c.Segment.OBBLinetest(obb), c.Hit);
    }
    TRaycastResult res;
    EXPECT_TRUE(L.OBBLinetest(TOBB::Create({0.5f, 1, 1}, {2.5f, 0, 0}), &res));
    EXPECT_EQ(res.Point, TPoint3D(2, 0, 0));
    EXPECT_EQ(res.Normal, TPoint3D(-1, 0, 0));
}
