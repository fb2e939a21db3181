// Triangles: containment, closest points, separating-axis tests and ray casts.

#include <gtest/gtest.h>

#include "GeometryTestHelpers.h"
#include "TestHelpers.h"

#include <cmath>
#include <random>
#include <vector>

#include "Korvane.Utils.Geometry.h"
#include "Korvane.Utils.Vectors.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// Normal (B - A) x (C - A) = (0, 0, 1).
const TTriangle kTri = TTriangle::Create({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
const TTriangle kReversed = TTriangle::Create({0, 0, 0}, {0, 1, 0}, {1, 0, 0});

} // namespace

TEST(TriangleRaycast, FrontFaceHitsWithWeights)
{
    const TRaycastData R = Ray({0.25f, 0.25f, 1}, {0, 0, -1});
    EXPECT_EQ(kTri.Raycast(R), 1);
    TRaycastResult res;
    ASSERT_TRUE(kTri.Raycast(R, &res));
    EXPECT_EQ(res.T, 1);
    EXPECT_TRUE(res.Hit);
    EXPECT_EQ(res.Point, TPoint3D(0.25f, 0.25f, 0));
    EXPECT_EQ(res.Normal, TPoint3D(0, 0, 1));
    EXPECT_TRUE(NearPoint(kTri.Barycentric(res.Point), {0.5f, 0.25f, 0.25f}, 1e-6f));

    EXPECT_EQ(kReversed.Raycast(R), -1);
    res = {9, {1, 1, 1}, true, {1, 1, 1}};
    EXPECT_FALSE(kReversed.Raycast(R, &res));
    EXPECT_FALSE(res.Hit);
    EXPECT_EQ(res.T, 0);
    EXPECT_TRUE(kTri.Raycast(R, nullptr));
}

TEST(TriangleRaycast, EdgesAndVerticesCountAndOutsideMisses)
{
    struct Case { TPoint3D Start; float T; };
    for (const Case c : {Case{{0, 0, 2}, 2},          // vertex A
                         Case{{1, 0, 2}, 2},          // vertex B
                         Case{{0.5f, 0, 2}, 2},       // edge AB
                         Case{{0.5f, 0.5f, 2}, 2},    // edge BC
                         Case{{0.6f, 0.6f, 2}, -1},   // beyond BC
                         Case{{-0.01f, 0.5f, 2}, -1}, // beside CA
                         Case{{0.2f, 0.2f, -1}, -1}}) // behind, moving away
        EXPECT_EQ(kTri.Raycast(Ray(c.Start, {0, 0, -1})), c.T) << c.Start.X << "," << c.Start.Y;
    // A slanted ray: direction length and angle go into t.
    EXPECT_NEAR(kTri.Raycast(Ray({0.25f, 0.25f + 2, 2}, {0, -1, -1})), 2, 1e-6);
    // Degenerate triangles never hit, whatever the ray.
    for (const TTriangle& d : {TTriangle::Create({0, 0, 0}, {1, 1, 0}, {2, 2, 0}),
                               TTriangle::Create({1, 1, 1}, {1, 1, 1}, {1, 1, 1})}) {
        TRaycastResult res;
        EXPECT_EQ(d.Raycast(Ray({0.5f, 0.5f, 1}, {0, 0, -1})), -1);
        EXPECT_FALSE(d.Raycast(Ray({1, 1, 2}, {0, 0, -1}), &res));
    }
}

TEST(TriangleBasics, ContainsLinesPlaneAndTransforms)
{
    struct Case { TPoint3D P; bool In; };
    for (const Case c : {Case{{0, 0, 0}, true}, Case{{0.5f, 0.5f, 0}, true}, Case{{0.2f, 0.2f, 0}, true},
                         Case{{0.6f, 0.6f, 0}, false}, Case{{-0.1f, 0.5f, 0}, false}})
        EXPECT_EQ(kTri.Contains(c.P), c.In) << c.P.X << "," << c.P.Y << "," << c.P.Z;

    EXPECT_EQ(kTri.GetLine(0, false).Stop, kTri.B);
    EXPECT_EQ(kTri.GetLine(1, true).Start, kTri.C);
    const TLine ac = kTri.GetLine(2, true);
    EXPECT_EQ(ac.Start, kTri.A);
    EXPECT_EQ(ac.Stop, kTri.C);
    EXPECT_EQ(kTri.GetLine(3, false).Stop, TPoint3D());
    EXPECT_EQ(kTri.GetLine(-1, true).Start, TPoint3D());

    const TTriangle T = TTriangle::Create({0, 0, 3}, {2, 0, 3}, {0, 2, 3});
    const TPlane p = T.ToPlane();
    EXPECT_EQ(p.Normal, TPoint3D(0, 0, 1));
    EXPECT_EQ(p.Distance, 3);
    EXPECT_EQ(T.ToAABB().Max, TPoint3D(2, 2, 3));
    EXPECT_TRUE(NearPoint(T.Center(), {2.0f / 3, 2.0f / 3, 3}));
    EXPECT_EQ(T.Points(1), T.B);
    EXPECT_EQ(T.Values(5), 3);

    TMat3 rot;
    rot._Set(TPoint3D(0, 0, 1), float(Pi / 2));
    TTriangle a = T, b = T;
    a.Transform(TPoint3D(10, 0, 0), rot);
    b.Transform(rot.ToMatrix3D() * TMatrix3D::CreateTranslation({10, 0, 0}));
    EXPECT_TRUE(NearPoint(a.B, {10, 2, 3}));
    EXPECT_TRUE(NearPoint(a.C, b.C));
}

TEST(TriangleClosestPoint, BothMethodsFindTheNearestPoint)
{
    EXPECT_TRUE(NearPoint(kTri.ClosestPoint({0.2f, 0.3f, 5}), {0.2f, 0.3f, 0}));
    // Beyond a vertex: that vertex, B (the end of two edges) included.
    EXPECT_TRUE(NearPoint(kTri.ClosestPoint({-2, -3, 1}), kTri.A));
    EXPECT_TRUE(NearPoint(kTri.ClosestPoint({3, -1, 1}), kTri.B));
    EXPECT_TRUE(NearPoint(kTri.ClosestPoint({-1, 3, -1}), kTri.C));
    EXPECT_TRUE(NearPoint(kTri.ClosestPoint2({0.2f, 0.3f, 5}), {0.2f, 0.3f, 0}));
    // Beyond edge AB and past the far edge: the nearest point is B.
    EXPECT_TRUE(NearPoint(kTri.ClosestPoint2({2, -1, 0}), kTri.B));

    // Every region of the plane and off it, against a dense search.
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-3, 3);
    const TTriangle T = TTriangle::Create({0.2f, -0.4f, 0.1f}, {1.7f, 0.3f, -0.5f}, {-0.3f, 1.1f, 0.6f});
    for (int n = 0; n < 400; ++n) {
        const TPoint3D p(u(rng), u(rng), u(rng));
        double best = 1e30;
        for (int i = 0; i <= 200; ++i)
            for (int j = 0; i + j <= 200; ++j) {
                const float s = i / 200.0f, t = j / 200.0f;
                best = std::min(best, double(p.Distance(T.A + (T.B - T.A) * s + (T.C - T.A) * t)));
            }
        EXPECT_NEAR(p.Distance(T.ClosestPoint(p)), best, 2e-2) << n;
        EXPECT_NEAR(p.Distance(T.ClosestPoint2(p)), best, 2e-2) << n;
        EXPECT_LE(p.Distance(T.ClosestPoint2(p)), best + 1e-5);
    }
}

TEST(TriangleSeparatingAxes, AgainstBoxes)
{
    const TAABB box = TAABB::FromMinMax({0, 0, 0}, {1, 1, 1});
    struct Case { TTriangle T; bool Hit; };
    for (const Case c : {
             Case{TTriangle::Create({-1, 0.5f, 1}, {2, 0.5f, 1}, {0.5f, 2, 1}), true},     // lies on the top face
             Case{TTriangle::Create({-1, 0.5f, 1.01f}, {2, 0.5f, 1.01f}, {0.5f, 2, 1.01f}), false},
             Case{TTriangle::Create({-5, -5, 0.5f}, {5, -5, 0.5f}, {0, 5, 0.5f}), true},  // cuts through
             Case{TTriangle::Create({0.2f, 0.2f, 0.2f}, {0.3f, 0.2f, 0.2f}, {0.2f, 0.3f, 0.2f}), true},  // inside
             Case{TTriangle::Create({1, 1, 1}, {2, 1, 1}, {1, 2, 2}), true},               // touches a corner
             // Near the box's edge but apart: only an edge-cross axis separates it.
             Case{TTriangle::Create({1.6f, 0.5f, -0.5f}, {0.5f, 1.6f, -0.5f}, {1.05f, 1.05f, 3}), false},
         }) {
        EXPECT_EQ(c.T.IntersectsWith(box), c.Hit) << c.T.A.X << " " << c.T.A.Z;
        // The same box as an oriented box agrees.
        const TOBB obb = TOBB::Create({0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, TMat3::Create(1, 0, 0, 0, 1, 0, 0, 0, 1));
        EXPECT_EQ(c.T.IntersectsWith(obb), c.Hit);
    }
    TMat3 rot;
    rot._Set(TPoint3D(0, 0, 1), DegToRad(45));
    const TOBB diamond = TOBB::Create({1, 1, 1}, {0, 0, 0}, rot);
    // Inside the axis-aligned box around the diamond but outside the diamond.
    const TTriangle corner = TTriangle::Create({1.3f, 1.3f, 0}, {1.4f, 1.3f, 0}, {1.3f, 1.4f, 0});
    EXPECT_FALSE(corner.IntersectsWith(diamond));
    EXPECT_TRUE(corner.IntersectsWith(diamond.GetAABB()));
}

TEST(TriangleSeparatingAxes, AgainstTriangles)
{
    struct Case { TTriangle Other; bool Hit; };
    for (const Case c : {
             Case{TTriangle::Create({0.2f, 0.2f, -1}, {0.2f, 0.2f, 1}, {0.9f, 0.9f, 0}), true},  // pierces
             Case{TTriangle::Create({0.8f, 0.8f, -1}, {0.8f, 0.8f, 1}, {1.5f, 1.5f, 0}), false},
             Case{TTriangle::Create({0, 0, 1}, {1, 0, 1}, {0, 1, 1}), false},                    // parallel above
             Case{TTriangle::Create({0.1f, 0.1f, 0}, {2, 0.1f, 0}, {0.1f, 2, 0}), true},         // coplanar, overlapping
             Case{TTriangle::Create({0.6f, 0.6f, 0}, {2, 0.6f, 0}, {0.6f, 2, 0}), false},        // coplanar, apart
             Case{TTriangle::Create({1, 0, 0}, {2, 0, 0}, {1, 1, 0}), true},                     // coplanar, touching at B
         }) {
        EXPECT_EQ(kTri.IntersectsWith(c.Other), c.Hit) << c.Other.A.X << " " << c.Other.A.Z;
        EXPECT_EQ(kTri.IntersectsWithRobust(c.Other), c.Hit) << c.Other.A.X << " " << c.Other.A.Z;
        EXPECT_EQ(c.Other.IntersectsWithRobust(kTri), c.Hit);
    }
    // Parallel edges: an axis inside their common plane; collinear ones: none.
    EXPECT_TRUE(NearPoint(Point3DAbs(TTriangle::SatCrossEdge({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}).Normalize()),
                          {0, 1, 0}));
    EXPECT_EQ(TTriangle::SatCrossEdge({0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}), TPoint3D());
    EXPECT_TRUE(NearPoint(TTriangle::SatCrossEdge({0, 0, 0}, {1, 0, 0}, {0, 0, 0}, {0, 1, 0}), {0, 0, 1}));
}

TEST(TriangleEdgeCasts, AgainstBoxesAndTriangles)
{
    const TOBB box = TOBB::Create({0.5f, 0.5f, 0.5f}, {0, 0, 0}, TMat3::Create(1, 0, 0, 0, 1, 0, 0, 0, 1));
    std::vector<TRaycastResult> hits(3);
    // A large triangle through the box's middle: the box's four vertical edges
    // cross its plane; its own edges stay outside the box.
    const TTriangle big = TTriangle::Create({-5, -5, 0}, {5, -5, 0}, {0, 5, 0});
    ASSERT_TRUE(big.Raycast(box, hits));
    EXPECT_EQ(hits.size(), 4u);
    for (const TRaycastResult& h : hits) {
        EXPECT_TRUE(h.Hit);
        EXPECT_NEAR(h.Point.Z, 0, 1e-6);
        EXPECT_NEAR(std::fabs(h.Point.X), 0.5f, 1e-6);
    }
    // A small triangle whose edge passes through the box.
    const TTriangle spear = TTriangle::Create({-2, 0.1f, 0.1f}, {2, 0.1f, 0.1f}, {0, 3, 3});
    ASSERT_TRUE(spear.Raycast(box, hits));
    EXPECT_TRUE(NearPoint(hits[0].Point, {-0.5f, 0.1f, 0.1f}));
    EXPECT_FALSE(TTriangle::Create({3, 3, 3}, {4, 3, 3}, {3, 4, 3}).Raycast(box, hits));
    EXPECT_TRUE(hits.empty());

    // Triangle against triangle: the other's edge pierces this one's front face.
    const TTriangle pin = TTriangle::Create({0.2f, 0.2f, 1}, {0.2f, 0.2f, -1}, {3, 3, 3});
    ASSERT_TRUE(kTri.Raycast(pin, hits));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_TRUE(NearPoint(hits[0].Point, {0.2f, 0.2f, 0}));
    EXPECT_FALSE(kTri.Raycast(TTriangle::Create({5, 5, 1}, {5, 5, -1}, {6, 6, 0}), hits));

    // A segment through the triangle's front face.
    const TLine through = TLine::Create({0.25f, 0.25f, 1}, {0.25f, 0.25f, -1});
    EXPECT_TRUE(through.TriangleLinetest(&kTri));
    EXPECT_FALSE(TLine::Create({0.25f, 0.25f, 1}, {0.25f, 0.25f, 0.5f}).TriangleLinetest(&kTri));
    EXPECT_FALSE(through.TriangleLinetest(nullptr));
}
