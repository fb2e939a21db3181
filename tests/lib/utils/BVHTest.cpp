// The triangle bounding-volume tree: building from buffers, ray casts, box
// queries, and agreement with a brute-force loop over all triangles.

#include <gtest/gtest.h>

#include <memory>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "GeometryTestHelpers.h"
#include "Korvane.Utils.Geometry.h"
#include "Platform.SysUtils.h"

using namespace korvane;

namespace {

using test::Ray;

struct Mesh {
    std::unique_ptr<TVertexBuffer> Vertices;
    std::unique_ptr<TIndexBuffer> Indices;
};

Mesh MakeMesh(const std::vector<TPoint3D>& points, const std::vector<uint32_t>& indices)
{
    Mesh m{std::make_unique<TVertexBuffer>(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal},
                                           int32_t(points.size())),
           std::make_unique<TIndexBuffer>(int32_t(indices.size()), TIndexFormat::UInt32)};
    for (size_t i = 0; i < points.size(); ++i) m.Vertices->SetVertices(int32_t(i), points[i]);
    for (size_t i = 0; i < indices.size(); ++i) m.Indices->SetIndices(int32_t(i), indices[i]);
    return m;
}

// A unit quad in the z = 0 plane, wound counter-clockwise seen from +Z. The
// geometry reverses each index triple, so its triangles face -Z.
Mesh Quad() { return MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 1, 2, 0, 2, 3}); }

void ForEachNode(const TBVHNode& N, int Depth, const std::function<void(const TBVHNode&, int)>& F)
{
    F(N, Depth);
    for (const TBVHNode& c : N.Children) ForEachNode(c, Depth + 1, F);
}

// The nearest hit over every triangle, by the same distance the tree uses.
bool BruteForce(const TBVHGeometry& G, const TRaycastData& R, TRaycastResult& Best)
{
    double best = std::numeric_limits<double>::infinity();
    bool hit = false;
    for (const TTriangle& t : G.Triangles) {
        TRaycastResult res;
        if (!t.Raycast(R, &res)) continue;
        const double d = res.Point.Distance(R.Start);
        if (best > d) {
            best = d;
            Best = res;
            hit = true;
        }
    }
    return hit;
}

} // namespace

TEST(BVHGeometry, BuildsTrianglesFromBuffersInReversedOrder)
{
    const Mesh m = Quad();
    const TMatrix3D local = TMatrix3D::CreateTranslation({0, 0, 5});
    TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(), local);
    ASSERT_EQ(G.NumTriangles, 2);
    EXPECT_EQ(G.Triangles[0].A, TPoint3D(1, 1, 5));
    EXPECT_EQ(G.Triangles[0].B, TPoint3D(1, 0, 5));
    EXPECT_EQ(G.Triangles[0].C, TPoint3D(0, 0, 5));
    EXPECT_EQ(G.Point(5), TPoint3D(0, 0, 5));
    const auto md = G.ToMeshData();
    ASSERT_EQ(md->VertexBuffer().Length(), 6);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(md->VertexBuffer().Vertices(k), G.Point(k));
        EXPECT_EQ(md->IndexBuffer().Indices(k), uint32_t(k));
    }
}

TEST(BVHGeometry, IndexCountsAndMissingSources)
{
    const std::vector<TPoint3D> pts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    struct Case { std::vector<uint32_t> Indices; int Triangles; };
    for (const Case& c : {Case{{0, 1, 2, 0, 2, 3, 1}, 2}, Case{{0, 1}, 0}, Case{{}, 0}, Case{{0, 1, 2}, 1}}) {
        const Mesh m = MakeMesh(pts, c.Indices);
        TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(), TMatrix3D::Identity());
        EXPECT_EQ(G.NumTriangles, c.Triangles) << c.Indices.size();
        EXPECT_EQ(G.Triangles.size(), size_t(c.Triangles));
        BuildBVH(&G);
        EXPECT_EQ(G.Accelerator != nullptr, c.Triangles > 0);
        TRaycastResult res{7, {1, 2, 3}, true, {4, 5, 6}};
        const bool hit = G.Raycast(Ray({0.9f, 0.5f, -1}, {0, 0, 1}), res);
        EXPECT_EQ(hit, c.Triangles > 0);
        if (c.Triangles == 0) {
            EXPECT_FALSE(res.Hit);
            EXPECT_EQ(res.T, 0);
            EXPECT_EQ(res.Point, TPoint3D());
            EXPECT_EQ(res.Normal, TPoint3D());
        }
    }
    const Mesh m = Quad();
    EXPECT_EQ(TBVHGeometry::Create(nullptr, m.Indices.get(), TMatrix3D::Identity()).NumTriangles, 0);
    EXPECT_EQ(TBVHGeometry::Create(m.Vertices.get(), nullptr, TMatrix3D::Identity()).NumTriangles, 0);
    EXPECT_EQ(TBVHGeometry::Create(0).NumTriangles, 0);
    // An index beyond the vertices is refused, not read.
    const Mesh bad = MakeMesh(pts, {0, 1, 4});
    EXPECT_THROW(TBVHGeometry::Create(bad.Vertices.get(), bad.Indices.get(), TMatrix3D::Identity()), EArgumentException);
    const Mesh huge = MakeMesh(pts, {0, 1, 0xFFFFFFFFu});
    EXPECT_THROW(TBVHGeometry::Create(huge.Vertices.get(), huge.Indices.get(), TMatrix3D::Identity()), EArgumentException);
}

TEST(BVHTree, QuadHitsAtTheExpectedParameter)
{
    const Mesh m = Quad();
    TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(), TMatrix3D::Identity());
    BuildBVH(&G);
    ASSERT_NE(G.Accelerator, nullptr);
    struct Case { TPoint3D Start, Dir; bool Hit; float T; };
    for (const Case c : {Case{{0.25f, 0.75f, -2}, {0, 0, 1}, true, 2}, Case{{0.75f, 0.25f, -4}, {0, 0, 2}, true, 2},
                         Case{{0.5f, 0.5f, -1}, {0, 0, 1}, true, 1},   // on the shared diagonal
                         Case{{1, 1, -3}, {0, 0, 1}, true, 3},         // a corner
                         Case{{0.25f, 0.75f, 2}, {0, 0, -1}, false, 0}, // the back face
                         Case{{1.5f, 0.5f, -2}, {0, 0, 1}, false, 0},
                         Case{{-1, 0.5f, -1}, {1, 0, 1}, true, 1}}) {
        TRaycastResult res;
        ASSERT_EQ(G.Raycast(Ray(c.Start, c.Dir), res), c.Hit) << c.Start.X << "," << c.Start.Y << "," << c.Start.Z;
        EXPECT_EQ(res.Hit, c.Hit);
        if (c.Hit) {
            EXPECT_NEAR(res.T, c.T, 1e-6);
            EXPECT_EQ(res.Normal, TPoint3D(0, 0, -1));
            EXPECT_NEAR(res.Point.Z, 0, 1e-6);
        }
    }
}

TEST(BVHTree, SingleTriangleSplitsToTheDepthLimit)
{
    const Mesh m = MakeMesh({{0, 0, 0}, {0, 1, 0}, {1, 0, 1}}, {0, 1, 2});
    TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(), TMatrix3D::Identity());
    BuildBVH(&G);
    ASSERT_NE(G.Accelerator, nullptr);
    int leaves = 0, holding = 0, maxDepth = 0;
    ForEachNode(*G.Accelerator, 0, [&](const TBVHNode& n, int depth) {
        maxDepth = std::max(maxDepth, depth);
        EXPECT_TRUE(n.Children.empty() || n.Children.size() == 8u);
        EXPECT_EQ(n.NumTriangles, int32_t(n.Triangles.size()));
        if (!n.Children.empty()) {
            EXPECT_EQ(n.NumTriangles, 0);  // inner nodes keep no triangles
            return;
        }
        ++leaves;
        const bool touches = G.Triangles[0].IntersectsWith(n.Bounds);
        EXPECT_EQ(n.NumTriangles, touches ? 1 : 0);
        holding += n.NumTriangles;
    });
    EXPECT_EQ(maxDepth, 3);
    EXPECT_GT(holding, 1);
    EXPECT_LE(leaves, 512);
    TRaycastResult res;
    // The triangle faces (-1, 0, 1): its plane is z = x.
    ASSERT_TRUE(G.Raycast(Ray({0.1f, 0.5f, 3}, {0, 0, -1}), res));
    EXPECT_NEAR(res.Point.Z, 0.1f, 1e-6);
    EXPECT_FALSE(G.Raycast(Ray({0.1f, 0.5f, -3}, {0, 0, 1}), res));
    // A second build while a tree exists changes nothing.
    const TBVHNode* root = G.Accelerator.get();
    BuildBVH(&G);
    EXPECT_EQ(G.Accelerator.get(), root);
}

TEST(BVHTree, FlatMeshStillIndexesItsTriangles)
{
    // All in z = 0: the root box and its octants have zero thickness.
    std::vector<TPoint3D> pts;
    std::vector<uint32_t> idx;
    for (int y = 0; y <= 4; ++y)
        for (int x = 0; x <= 4; ++x) pts.push_back({float(x), float(y), 0});
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            const uint32_t i = y * 5 + x;
            idx.insert(idx.end(), {i, i + 1, i + 6, i, i + 6, i + 5});
        }
    const Mesh m = MakeMesh(pts, idx);
    TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(), TMatrix3D::Identity());
    BuildBVH(&G);
    std::set<int32_t> indexed;
    ForEachNode(*G.Accelerator, 0, [&](const TBVHNode& n, int) { indexed.insert(n.Triangles.begin(), n.Triangles.end()); });
    EXPECT_EQ(indexed.size(), 32u);
    for (float x : {0.3f, 1.7f, 2.5f, 3.9f}) {
        TRaycastResult res;
        EXPECT_TRUE(G.Raycast(Ray({x, 4 - x * 0.9f, -1}, {0, 0, 1}), res)) << x;
        EXPECT_NEAR(res.T, 1, 1e-6);
    }
}

TEST(BVHTree, TiesGoToTheFirstTriangleFound)
{
    // Two front-facing triangles sharing the corner (0, 0, 0), which the ray
    // meets at t = 1 on both. The one listed first wins; their normals tell
    // them apart.
    const std::vector<TPoint3D> pts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {1, 0, 1}, {0, 1, 0}};
    for (const bool flatFirst : {true, false}) {
        // Triples are reversed by the geometry: (2, 1, 0) becomes (0, 1, 2).
        const std::vector<uint32_t> flat = {2, 1, 0}, slanted = {5, 4, 3};
        std::vector<uint32_t> idx = flatFirst ? flat : slanted;
        const std::vector<uint32_t>& second = flatFirst ? slanted : flat;
        idx.insert(idx.end(), second.begin(), second.end());
        const Mesh m = MakeMesh(pts, idx);
        TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(), TMatrix3D::Identity());
        BuildBVH(&G);
        TRaycastResult res;
        ASSERT_TRUE(G.Raycast(Ray({0, 0, 1}, {0, 0, -1}), res));
        EXPECT_NEAR(res.T, 1, 1e-6);
        if (flatFirst)
            EXPECT_EQ(res.Normal, TPoint3D(0, 0, 1));
        else
            EXPECT_LT(res.Normal.X, 0);
    }
}

TEST(BVHTree, BoxQueriesWithAndWithoutTree)
{
    const Mesh m = Quad();
    TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(), TMatrix3D::Identity());
    const TAABB touching = TAABB::FromMinMax({0.9f, 0.9f, -0.1f}, {1.2f, 1.2f, 0.1f});
    const TAABB apart = TAABB::FromMinMax({2, 2, 2}, {3, 3, 3});
    const TAABB aboveGap = TAABB::FromMinMax({0.2f, 0.2f, 0.001f}, {0.3f, 0.3f, 1});
    PBVHNode node = reinterpret_cast<PBVHNode>(&G);
    EXPECT_TRUE(G.IntersectsWith(touching, node));
    EXPECT_EQ(node, nullptr);  // no tree, no node
    EXPECT_FALSE(G.IntersectsWith(apart));
    EXPECT_FALSE(G.IntersectsWith(aboveGap));

    BuildBVH(&G);
    ASSERT_TRUE(G.IntersectsWith(touching, node));
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->Children.empty());
    bool touches = false;
    for (int32_t t : node->Triangles) touches |= G.Triangles[size_t(t)].IntersectsWith(touching);
    EXPECT_TRUE(touches);
    EXPECT_FALSE(G.IntersectsWith(apart, node));
    EXPECT_EQ(node, nullptr);
    EXPECT_FALSE(G.IntersectsWith(aboveGap));

    // The node search: the deepest node along the first overlapping child.
    PBVHNode deep = nullptr;
    EXPECT_TRUE(G.Accelerator->IntersectsWith(touching, deep));
    ASSERT_NE(deep, nullptr);
    EXPECT_TRUE(deep->Children.empty());
    EXPECT_TRUE(AABBOverlap(deep->Bounds, touching));
    EXPECT_FALSE(G.Accelerator->IntersectsWith(apart, deep));
    EXPECT_EQ(deep, nullptr);
    EXPECT_TRUE(G.Accelerator->IntersectsWith(touching));
}

TEST(BVHTree, FreeRebuildAndMove)
{
    const Mesh m = Quad();
    TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(), TMatrix3D::Identity());
    BuildBVH(&G);
    FreeBVHAccelerator(&G);
    EXPECT_EQ(G.Accelerator, nullptr);
    TRaycastResult res;
    EXPECT_FALSE(G.Raycast(Ray({0.5f, 0.25f, -1}, {0, 0, 1}), res));
    FreeBVHAccelerator(&G);
    FreeBVHAccelerator(nullptr);
    BuildBVH(nullptr);
    BuildBVH(&G);
    ASSERT_NE(G.Accelerator, nullptr);

    // A moved geometry takes its tree along, and the nodes follow it.
    TBVHGeometry moved = std::move(G);
    EXPECT_EQ(G.Accelerator, nullptr);
    ASSERT_NE(moved.Accelerator, nullptr);
    ForEachNode(*moved.Accelerator, 0, [&](const TBVHNode& n, int depth) {
        if (depth > 0 || !n.Children.empty()) {
            EXPECT_EQ(n.Geometry, &moved);
        }
    });
    EXPECT_TRUE(moved.Raycast(Ray({0.5f, 0.25f, -1}, {0, 0, 1}), res));
    TBVHGeometry assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(assigned.Raycast(Ray({0.5f, 0.25f, -1}, {0, 0, 1}), res));

    // The per-triangle cast data goes with the tree.
    EXPECT_EQ(assigned.CastTriangles().size(), assigned.Triangles.size());
    FreeBVHAccelerator(&assigned);
    EXPECT_TRUE(assigned.CastTriangles().empty());
    BuildBVH(&assigned);
    EXPECT_EQ(assigned.CastTriangles().size(), assigned.Triangles.size());

    TBVHNode leaf = TBVHNode::Create(&assigned);
    leaf.Triangles = {0, 1};
    leaf.NumTriangles = 2;
    FreeBVHNode(leaf);
    EXPECT_EQ(leaf.NumTriangles, 0);
    EXPECT_TRUE(leaf.Triangles.empty());
}

TEST(BVHTree, NearestHitEqualsBruteForceOnRandomMeshes)
{
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> unit(-1, 1);
    for (int meshNo = 0; meshNo < 12; ++meshNo) {
        // A random soup of triangles of mixed sizes and both windings.
        const int count = 20 + meshNo * 40;
        std::vector<TPoint3D> pts;
        std::vector<uint32_t> idx;
        const float spread = 10.0f, size = meshNo % 3 == 0 ? 4.0f : 1.0f;
        for (int t = 0; t < count; ++t) {
            const TPoint3D c(unit(rng) * spread, unit(rng) * spread, unit(rng) * spread * (meshNo % 4 == 1 ? 0 : 1));
            for (int k = 0; k < 3; ++k) {
                idx.push_back(uint32_t(pts.size()));
                pts.push_back(c + TPoint3D(unit(rng), unit(rng), unit(rng)) * size);
            }
        }
        const Mesh m = MakeMesh(pts, idx);
        TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(),
                                              TMatrix3D::CreateRotation({1, 2, 3}, 0.3f * float(meshNo)));
        BuildBVH(&G);
        int hits = 0;
        for (int r = 0; r < 300; ++r) {
            // Rays from outside aimed into the mesh, and rays from inside it.
            const TPoint3D start = r % 3 == 0 ? TPoint3D(unit(rng), unit(rng), unit(rng)) * spread
                                              : TPoint3D(unit(rng), unit(rng), unit(rng)).Normalize() * (spread * 3);
            // Half of the rays aim at a triangle, the rest anywhere.
            const TPoint3D target = r % 2 == 0 ? G.Triangles[size_t(rng() % size_t(count))].Center()
                                               : TPoint3D(unit(rng), unit(rng), unit(rng)) * spread;
            const TRaycastData ray = Ray(start, (target - start).Normalize());
            TRaycastResult tree, brute;
            const bool treeHit = G.Raycast(ray, tree);
            const bool bruteHit = BruteForce(G, ray, brute);
            ASSERT_EQ(treeHit, bruteHit) << "mesh " << meshNo << " ray " << r;
            if (!bruteHit) continue;
            ++hits;
            EXPECT_NEAR(tree.T, brute.T, 1e-4f * std::max(1.0f, brute.T)) << "mesh " << meshNo << " ray " << r;
            EXPECT_NEAR(tree.Point.Distance(brute.Point), 0, 1e-3f);
        }
        EXPECT_GT(hits, 10) << "mesh " << meshNo << ": too few hits to compare";
    }
}

namespace {

// The tree's lists as the plain build makes them: each child's list is every
// triangle of its parent's list that the exact 13-axis test finds touching the
// child's box, and a node splits while the depth allows and it holds any.
void ExpectListsOfThePlainBuild(const TBVHGeometry& G, const TBVHNode& N, const std::vector<int32_t>& AExpected,
                                int ADepth, const std::string& AWhere)
{
    const bool splits = ADepth < 3 && !AExpected.empty();
    ASSERT_EQ(N.Children.size(), splits ? 8u : 0u) << AWhere;
    if (!splits) {
        EXPECT_EQ(N.Triangles, AExpected) << AWhere;
        EXPECT_EQ(N.NumTriangles, int32_t(AExpected.size())) << AWhere;
        return;
    }
    EXPECT_TRUE(N.Triangles.empty()) << AWhere;
    for (size_t k = 0; k < 8; ++k) {
        std::vector<int32_t> list;
        for (int32_t t : AExpected)
            if (G.Triangles[size_t(t)].IntersectsWith(N.Children[k].Bounds)) list.push_back(t);
        ExpectListsOfThePlainBuild(G, N.Children[k], list, ADepth + 1, AWhere + "/" + std::to_string(k));
    }
}

// Random triangles in the box [-4, 4]^3 whose split planes lie on the grid
// of halves, quarters and eighths: with ASnap the corners sit on that grid,
// so many lie exactly on split planes and box faces.
std::vector<TPoint3D> RandomSoup(std::mt19937& rng, int ACount, bool ASnap, float AScale, const TPoint3D& AOffset)
{
    std::uniform_real_distribution<float> unit(-1, 1);
    std::vector<TPoint3D> pts = {TPoint3D(-4, -4, -4) * AScale + AOffset, TPoint3D(4, 4, 4) * AScale + AOffset,
                                 TPoint3D(4, 4, 4) * AScale + AOffset};
    for (int t = 1; t < ACount; ++t) {
        const float size = t % 7 == 0 ? 6.0f : t % 3 == 0 ? 0.1f : 1.0f;
        const TPoint3D c(unit(rng) * 3.5f, unit(rng) * 3.5f, unit(rng) * 3.5f);
        for (int k = 0; k < 3; ++k) {
            TPoint3D p = c + TPoint3D(unit(rng), unit(rng), unit(rng)) * size;
            for (int a = 0; a < 3; ++a) {
                float v = std::clamp(p[a], -4.0f, 4.0f);
                if (ASnap) v = std::round(v * 4) / 4;
                p[a] = v * AScale + AOffset[a];
            }
            pts.push_back(p);
        }
    }
    return pts;
}

std::vector<uint32_t> Iota(size_t ACount)
{
    std::vector<uint32_t> idx(ACount);
    for (size_t i = 0; i < ACount; ++i) idx[i] = uint32_t(i);
    return idx;
}

// The walk of the tree with the exact test on every listed triangle: what a
// cast gave before the single-precision test went ahead of it.
bool ExactWalk(const TBVHNode& N, const TRaycastData& R, TRaycastResult& ARes)
{
    if (!N.Bounds.Raycast(R, ARes)) return false;
    ARes.Hit = false;
    double best = std::numeric_limits<double>::infinity();
    bool hit = false;
    const size_t count = N.Children.empty() ? N.Triangles.size() : N.Children.size();
    for (size_t k = 0; k < count; ++k) {
        TRaycastResult r;
        const bool h = N.Children.empty() ? N.Geometry->Triangles[size_t(N.Triangles[k])].Raycast(R, &r)
                                          : ExactWalk(N.Children[k], R, r);
        const double d = r.Point.Distance(R.Start);
        if (h && best > d) {
            ARes = r;
            best = d;
            hit = true;
        }
    }
    return hit;
}

} // namespace

TEST(BVHTree, LeafListsEqualThoseOfThePlainBuild)
{
    std::mt19937 rng(77);
    struct Case { const char* Name; bool Snap; float Scale; TPoint3D Offset; bool Flat; };
    const Case cases[] = {
        {"snapped to the split grid", true, 1, {0, 0, 0}, false},
        {"snapped, flat", true, 1, {0, 0, 0}, true},
        {"free", false, 1, {0, 0, 0}, false},
        {"far from the origin", false, 1, {1E6f, -3E5f, 7}, false},
        {"tiny", true, 1E-30f, {0, 0, 0}, false},
        // Beyond the range where the shortcuts decide as the exact test.
        {"huge", false, 1E18f, {0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        std::vector<TPoint3D> pts = RandomSoup(rng, 400, c.Snap, c.Scale, c.Offset);
        if (c.Flat)
            for (TPoint3D& p : pts) p.Y = 0;
        const Mesh m = MakeMesh(pts, Iota(pts.size()));
        TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(), TMatrix3D::Identity());
        BuildBVH(&G);
        ASSERT_NE(G.Accelerator, nullptr) << c.Name;
        std::vector<int32_t> all(size_t(G.NumTriangles));
        for (int32_t i = 0; i < G.NumTriangles; ++i) all[size_t(i)] = i;
        ExpectListsOfThePlainBuild(G, *G.Accelerator, all, 0, c.Name);
    }
}

TEST(BVHTree, CastsGiveExactlyTheHitsOfTheExactTest)
{
    // Rays at the places where a single-precision test would slip: corners,
    // edges shared by two triangles, grazing the plane, from far away, at
    // slivers and at a mesh far from the origin. Every result must be the
    // exact test's to the last bit, hit or miss.
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(-1, 1);
    struct Case { const char* Name; float Scale; TPoint3D Offset; bool Slivers; };
    for (const Case& c : {Case{"plain", 1, {0, 0, 0}, false}, Case{"slivers", 1, {0, 0, 0}, true},
                          Case{"far from the origin", 1, {3E4f, 1E4f, -2E4f}, false},
                          Case{"small", 1E-3f, {0, 0, 0}, false}}) {
        std::vector<TPoint3D> pts = RandomSoup(rng, 300, true, c.Scale, c.Offset);
        if (c.Slivers) {
            // Thin enough that only the exact test may judge them, and thin
            // but still left to the single-precision test.
            const float offsets[] = {1E-4f, 0.01f, 0.03f, 0.1f};
            for (size_t i = 3; i + 2 < pts.size(); i += 3)
                pts[i + 2] = pts[i] + (pts[i + 1] - pts[i]) * 0.5f +
                             TPoint3D(unit(rng), unit(rng), unit(rng)) * offsets[(i / 3) % 4];
        }
        // A fan of triangles around one corner, sharing edges, and its mirror.
        const TPoint3D hub = TPoint3D(0.5f, 0.25f, -0.5f) * c.Scale + c.Offset;
        for (int k = 0; k < 6; ++k) {
            const float a0 = float(k) * 1.0471976f, a1 = float(k + 1) * 1.0471976f;
            const TPoint3D p0 = hub + TPoint3D(std::cos(a0), std::sin(a0), 0.3f) * c.Scale,
                           p1 = hub + TPoint3D(std::cos(a1), std::sin(a1), 0.3f) * c.Scale;
            pts.insert(pts.end(), {hub, p0, p1, hub, p1, p0});
        }
        const Mesh m = MakeMesh(pts, Iota(pts.size()));
        TBVHGeometry G = TBVHGeometry::Create(m.Vertices.get(), m.Indices.get(), TMatrix3D::Identity());
        BuildBVH(&G);
        ASSERT_NE(G.Accelerator, nullptr);
        if (c.Slivers) {
            // The case must reach both kinds.
            size_t exactOnly = 0;
            for (const TBVHCastTriangle& t : G.CastTriangles()) exactOnly += t.Exact;
            EXPECT_GT(exactOnly, 10u);
            EXPECT_LT(exactOnly, G.CastTriangles().size() - 10);
        }
        int hits = 0;
        for (int r = 0; r < 3000; ++r) {
            const TTriangle& tri = G.Triangles[rng() % G.Triangles.size()];
            TPoint3D target;
            switch (r % 4) {
            case 0: target = tri.Points(r % 3); break;                                    // a corner
            case 1: target = tri.Points(r % 3) + (tri.Points((r + 1) % 3) - tri.Points(r % 3)) * 0.5f; break;
            case 2: target = tri.Center(); break;
            default: target = hub; break;                                                 // the shared corner
            }
            const float reach = c.Scale * (r % 5 == 0 ? 1E4f : 20.0f);
            TPoint3D dir = TPoint3D(unit(rng), unit(rng), unit(rng)).Normalize();
            if (r % 7 == 0) {
                // Nearly in the triangle's plane.
                const TPoint3D n = tri.ToPlane().Normal;
                dir = (dir - n * float(dir.X * n.X + dir.Y * n.Y + dir.Z * n.Z) + n * 1E-4f).Normalize();
            }
            const TRaycastData ray = Ray(target - dir * reach, dir);
            TRaycastResult fast, exact;
            const bool fastHit = G.Raycast(ray, fast);
            ASSERT_EQ(fastHit, ExactWalk(*G.Accelerator, ray, exact)) << c.Name << " ray " << r;
            hits += fastHit;
            EXPECT_EQ(fast.Hit, exact.Hit) << c.Name << " ray " << r;
            EXPECT_EQ(fast.T, exact.T) << c.Name << " ray " << r;
            EXPECT_EQ(fast.Point, exact.Point) << c.Name << " ray " << r;
            EXPECT_EQ(fast.Normal, exact.Normal) << c.Name << " ray " << r;
        }
        EXPECT_GT(hits, 300) << c.Name << ": too few hits to compare";
    }
}
