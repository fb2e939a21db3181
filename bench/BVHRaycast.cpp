// The triangle tree on a closed, bumpy sphere of about 100,000 triangles:
// building it, and casting rays through it from outside the sphere and from
// inside it. Each is measured beside a reference in the same run, on the
// same triangles and the same rays:
// - build: the plain octree build that puts every triangle through the
//   13-axis box test for every child (what BuildBVH did before its cheap
//   box tests); both give the same leaf lists, which is checked first;
// - casts: the same tree walked with the exact double-precision triangle
//   test on every listed triangle (what a cast did before the
//   single-precision test ahead of it); every ray's hit is checked to be
//   identical first;
// - and, as before, a brute-force loop over all triangles;
// - for scale, Embree building its own tree over the same triangles on one
//   thread (a different tree, so no equality check; its casts hit both faces,
//   so they are not compared).
// The hit counts and which wall the rays hit are printed before the table.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>
#include <embree3/rtcore.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Korvane.Utils.Geometry.h"
#include "Korvane.Utils.Vectors.h"

using namespace korvane;

namespace {

constexpr double kRadius = 10;

struct Scene {
    TBVHGeometry Geometry;
    std::vector<TRaycastData> Rays[2];  // 0: from outside, 1: from inside
};

const char* const kRayNames[2] = {"outside", "inside"};

// The reference build: every triangle of a node goes through the exact box
// test for each of the eight children.
void ReferenceSplit(TBVHNode& Node, int Depth)
{
    if (--Depth == 0 || Node.NumTriangles == 0) return;
    static constexpr int kSigns[8][3] = {{-1, 1, -1}, {1, 1, -1}, {-1, 1, 1}, {1, 1, 1},
                                         {-1, -1, -1}, {1, -1, -1}, {-1, -1, 1}, {1, -1, 1}};
    const TPoint3D C = Node.Bounds.GetPosition(), H = Node.Bounds.GetSize() * 0.5f;
    Node.Children.assign(8, TBVHNode::Create(Node.Geometry));
    for (int k = 0; k < 8; ++k) {
        TBVHNode& child = Node.Children[size_t(k)];
        const TPoint3D corner = C + TPoint3D(kSigns[k][0] * H.X, kSigns[k][1] * H.Y, kSigns[k][2] * H.Z);
        child.Bounds = TAABB::FromMinMax(Point3DMin(C, corner), Point3DMax(C, corner));
        child.Triangles.reserve(size_t(Node.NumTriangles));
        for (int32_t t : Node.Triangles)
            if (Node.Geometry->Triangles[size_t(t)].IntersectsWith(child.Bounds)) child.Triangles.push_back(t);
        child.Triangles.shrink_to_fit();
        child.NumTriangles = int32_t(child.Triangles.size());
    }
    Node.NumTriangles = 0;
    Node.Triangles.clear();
    Node.Triangles.shrink_to_fit();
    for (TBVHNode& child : Node.Children) ReferenceSplit(child, Depth);
}

TBVHNode ReferenceBuild(TBVHGeometry& G)
{
    TBVHNode root = TBVHNode::Create(&G);
    TPoint3D lo = G.Point(0), hi = lo;
    for (int32_t k = 1; k < G.NumTriangles * 3; ++k) {
        lo = Point3DMin(lo, G.Point(k));
        hi = Point3DMax(hi, G.Point(k));
    }
    root.Bounds = TAABB::FromMinMax(lo, hi);
    root.NumTriangles = G.NumTriangles;
    for (int32_t i = 0; i < G.NumTriangles; ++i) root.Triangles.push_back(i);
    ReferenceSplit(root, 4);
    return root;
}

// The reference cast: the same walk, the exact test on every listed triangle.
bool ReferenceRaycast(const TBVHNode& N, const TRaycastData& R, TRaycastResult& ARes)
{
    if (!N.Bounds.Raycast(R, ARes)) return false;
    ARes.Hit = false;
    double best = std::numeric_limits<double>::infinity();
    bool hit = false;
    TRaycastResult scratch;
    const size_t count = N.Children.empty() ? N.Triangles.size() : N.Children.size();
    for (size_t k = 0; k < count; ++k) {
        const bool h = N.Children.empty() ? N.Geometry->Triangles[size_t(N.Triangles[k])].Raycast(R, &scratch)
                                          : ReferenceRaycast(N.Children[k], R, scratch);
        if (!h) continue;
        const double d = scratch.Point.Distance(R.Start);
        if (best > d) {
            ARes = scratch;
            best = d;
            hit = true;
        }
    }
    return hit;
}

bool SameLeafLists(const TBVHNode& A, const TBVHNode& B)
{
    if (A.Children.size() != B.Children.size() || A.Triangles != B.Triangles || A.NumTriangles != B.NumTriangles)
        return false;
    for (size_t k = 0; k < A.Children.size(); ++k)
        if (!SameLeafLists(A.Children[k], B.Children[k])) return false;
    return true;
}

bool SameHit(const TRaycastResult& A, const TRaycastResult& B)
{
    return A.Hit == B.Hit && A.T == B.T && A.Point == B.Point && A.Normal == B.Normal;
}

void Fail(const char* AWhat)
{
    std::fprintf(stderr, "BVHRaycast: %s\n", AWhat);
    std::exit(1);
}

Scene BuildScene()
{
    // A sphere of radius about 10 with a ripple, 160 stacks x 314 slices.
    const int stacks = 160, slices = 314;
    TVertexBuffer vb(TVertexFormats{TVertexFormat::Vertex}, (stacks + 1) * (slices + 1));
    for (int i = 0; i <= stacks; ++i)
        for (int j = 0; j <= slices; ++j) {
            const double theta = Pi * i / stacks, phi = 2 * Pi * j / slices;
            const double r = kRadius + 0.3 * std::sin(7 * theta) * std::cos(5 * phi);
            vb.SetVertices(i * (slices + 1) + j,
                           TPoint3D(float(r * std::sin(theta) * std::cos(phi)), float(r * std::cos(theta)),
                                    float(r * std::sin(theta) * std::sin(phi))));
        }
    std::vector<uint32_t> idx;
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const uint32_t a = uint32_t(i * (slices + 1) + j), b = a + 1, c = a + uint32_t(slices + 1), d = c + 1;
            idx.insert(idx.end(), {a, b, c, b, d, c});
        }
    TIndexBuffer ib(int32_t(idx.size()), TIndexFormat::UInt32);
    for (size_t k = 0; k < idx.size(); ++k) ib.SetIndices(int32_t(k), idx[k]);

    Scene s{TBVHGeometry::Create(&vb, &ib, TMatrix3D::Identity()), {}};
    BuildBVH(&s.Geometry);
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> u(-1, 1);
    for (int n = 0; n < 4096; ++n) {
        // From a surrounding sphere towards points up to 1.5 radii from the
        // centre, so that some rays pass the mesh by.
        const TPoint3D start = TPoint3D(u(rng), u(rng), u(rng)).Normalize() * 30;
        const TPoint3D target = TPoint3D(u(rng), u(rng), u(rng)) * float(kRadius * 1.5 / std::sqrt(3.0));
        TRaycastData ray;
        ray._Set(start, (target - start).Normalize(), 0);
        s.Rays[0].push_back(ray);
        // From points well inside, in any direction.
        TRaycastData inner;
        inner._Set(TPoint3D(u(rng), u(rng), u(rng)) * float(kRadius * 0.5), TPoint3D(u(rng), u(rng), u(rng)).Normalize(),
                   0);
        s.Rays[1].push_back(inner);
    }
    return s;
}

// Checks that both paths agree and prints what the rays hit.
void CheckAndDescribe(Scene& s)
{
    const TBVHNode reference = ReferenceBuild(s.Geometry);
    if (!SameLeafLists(reference, *s.Geometry.Accelerator)) Fail("the tree's leaf lists differ from the reference build");
    std::printf("leaf lists identical to the reference build: yes\n");
    for (int set = 0; set < 2; ++set) {
        int hits = 0, farWall = 0, nearWall = 0, inward = 0;
        for (const TRaycastData& ray : s.Rays[set]) {
            TRaycastResult ours, theirs;
            const bool h = s.Geometry.Raycast(ray, ours);
            if (h != ReferenceRaycast(reference, ray, theirs) || !SameHit(ours, theirs))
                Fail("a cast differs from the reference cast");
            if (!h) continue;
            ++hits;
            // The wall on the far side of the centre, seen along the ray, or the near one.
            const double along = double(ours.Point.X) * ray.Dir.X + double(ours.Point.Y) * ray.Dir.Y +
                                 double(ours.Point.Z) * ray.Dir.Z;
            ++(along > 0 ? farWall : nearWall);
            const double towardsCentre = -(double(ours.Normal.X) * ours.Point.X + double(ours.Normal.Y) * ours.Point.Y +
                                           double(ours.Normal.Z) * ours.Point.Z);
            inward += towardsCentre > 0;
        }
        // The mesh's triangles face outwards; the tree reverses each index
        // triple, so only their inner faces can be hit.
        if (set == 0)
            std::printf("rays from outside: %zu, hits %d: the far wall %d, the near wall %d (grazing the rim); "
                        "on the inner face %d\n",
                        s.Rays[set].size(), hits, farWall, nearWall, inward);
        else
            std::printf("rays from inside:  %zu, hits %d: the wall ahead, on the inner face %d\n", s.Rays[set].size(),
                        hits, inward);
    }
    std::printf("every one of these casts identical to the reference cast (hit or miss, parameter, point, normal): "
                "yes\n");
    std::fflush(stdout);
}

Scene& SharedScene()
{
    static Scene scene = [] {
        Scene s = BuildScene();
        CheckAndDescribe(s);
        return s;
    }();
    return scene;
}

void BM_BuildTree(benchmark::State& state)
{
    Scene& s = SharedScene();
    for (auto _ : state) {
        state.PauseTiming();
        FreeBVHAccelerator(&s.Geometry);
        state.ResumeTiming();
        BuildBVH(&s.Geometry);
        benchmark::DoNotOptimize(s.Geometry.Accelerator.get());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.counters["triangles"] = double(s.Geometry.NumTriangles);
}
BENCHMARK(BM_BuildTree)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BuildReference(benchmark::State& state)
{
    Scene& s = SharedScene();
    for (auto _ : state) {
        TBVHNode root = ReferenceBuild(s.Geometry);
        benchmark::DoNotOptimize(root.Children.data());
        state.PauseTiming();
        root = TBVHNode();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.counters["triangles"] = double(s.Geometry.NumTriangles);
}
BENCHMARK(BM_BuildReference)->Unit(benchmark::kMillisecond)->UseRealTime();

// Embree's build as its users do it: the triangles copied into its buffers,
// the geometry committed and the scene built, on one thread.
void BM_BuildEmbree(benchmark::State& state)
{
    Scene& s = SharedScene();
    RTCDevice device = rtcNewDevice("threads=1");
    if (!device) Fail("no Embree device");
    const size_t n = s.Geometry.Triangles.size();
    for (auto _ : state) {
        RTCScene scene = rtcNewScene(device);
        RTCGeometry geometry = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
        auto* vertices = static_cast<float*>(
            rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), 3 * n));
        auto* indices = static_cast<unsigned*>(
            rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), n));
        for (size_t t = 0; t < n; ++t)
            for (int v = 0; v < 3; ++v) {
                const TPoint3D& p = s.Geometry.Triangles[t].Points(v);
                vertices[9 * t + 3 * size_t(v)] = p.X;
                vertices[9 * t + 3 * size_t(v) + 1] = p.Y;
                vertices[9 * t + 3 * size_t(v) + 2] = p.Z;
                indices[3 * t + size_t(v)] = unsigned(3 * t + size_t(v));
            }
        rtcCommitGeometry(geometry);
        rtcAttachGeometry(scene, geometry);
        rtcReleaseGeometry(geometry);
        rtcCommitScene(scene);
        benchmark::DoNotOptimize(scene);
        state.PauseTiming();
        rtcReleaseScene(scene);
        state.ResumeTiming();
    }
    rtcReleaseDevice(device);
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.counters["triangles"] = double(n);
}
BENCHMARK(BM_BuildEmbree)->Unit(benchmark::kMillisecond)->UseRealTime();

template <typename Cast>
void RunCasts(benchmark::State& state, int ASet, Cast&& ACast)
{
    Scene& s = SharedScene();
    const std::vector<TRaycastData>& rays = s.Rays[ASet];
    size_t i = 0, hits = 0;
    for (auto _ : state) {
        TRaycastResult res;
        hits += ACast(s, rays[i++ % rays.size()], res);
        benchmark::DoNotOptimize(res);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.counters["hit_ratio"] = double(hits) / double(state.iterations());
}

void BM_TreeRaycast(benchmark::State& state, int ASet)
{
    RunCasts(state, ASet, [](Scene& s, const TRaycastData& r, TRaycastResult& res) { return s.Geometry.Raycast(r, res); });
}
BENCHMARK_CAPTURE(BM_TreeRaycast, outside, 0)->UseRealTime();
BENCHMARK_CAPTURE(BM_TreeRaycast, inside, 1)->UseRealTime();

void BM_ReferenceRaycast(benchmark::State& state, int ASet)
{
    RunCasts(state, ASet, [](Scene& s, const TRaycastData& r, TRaycastResult& res) {
        return ReferenceRaycast(*s.Geometry.Accelerator, r, res);
    });
}
BENCHMARK_CAPTURE(BM_ReferenceRaycast, outside, 0)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReferenceRaycast, inside, 1)->UseRealTime();

bool BruteForce(const TBVHGeometry& G, const TRaycastData& R, TRaycastResult& Best)
{
    double best = std::numeric_limits<double>::infinity();
    bool hit = false;
    TRaycastResult res;
    for (const TTriangle& t : G.Triangles) {
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

void BM_BruteForceRaycast(benchmark::State& state, int ASet)
{
    RunCasts(state, ASet, [](Scene& s, const TRaycastData& r, TRaycastResult& res) { return BruteForce(s.Geometry, r, res); });
}
BENCHMARK_CAPTURE(BM_BruteForceRaycast, outside, 0)->UseRealTime();

} // namespace

// Prints the usual table, then each speed as a multiple of its reference.
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("items_per_second");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        const double build = reporter.Rate("BM_BuildTree"), buildRef = reporter.Rate("BM_BuildReference");
        if (build > 0 && buildRef > 0)
            std::printf("build (wall time): tree %.2f ms, reference build %.2f ms, reference / tree: %.1fx faster\n",
                        1e3 / build, 1e3 / buildRef, build / buildRef);
        const double embree = reporter.Rate("BM_BuildEmbree");
        if (build > 0 && embree > 0)
            std::printf("build (wall time): Embree's own tree on one thread %.2f ms, tree / Embree: %.2fx its speed\n",
                        1e3 / embree, build / embree);
        for (int set = 0; set < 2; ++set) {
            const std::string arg = std::string("/") + kRayNames[set];
            const double tree = reporter.Rate("BM_TreeRaycast" + arg), ref = reporter.Rate("BM_ReferenceRaycast" + arg);
            if (tree > 0 && ref > 0)
                std::printf("casts from %-7s (wall time): tree %.2f us per ray, reference cast %.2f us, "
                            "reference / tree: %.1fx faster\n",
                            kRayNames[set], 1e6 / tree, 1e6 / ref, tree / ref);
        }
        const double tree = reporter.Rate("BM_TreeRaycast/outside"),
                     brute = reporter.Rate("BM_BruteForceRaycast/outside");
        if (tree > 0 && brute > 0)
            std::printf("casts from outside: tree / brute force over all triangles: %.1fx faster\n", tree / brute);
    });
}
