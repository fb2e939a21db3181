// Ray casts through the triangle tree against a brute-force loop over every
// triangle, on a closed, bumpy sphere of about 100,000 triangles. Reports
// rays per second for both and their ratio.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Korvane.Utils.Geometry.h"

using namespace korvane;

namespace {

struct Scene {
    TBVHGeometry Geometry;
    std::vector<TRaycastData> Rays;
};

Scene& SharedScene()
{
    static Scene scene = [] {
        // A sphere of radius about 10 with a ripple, 160 stacks x 314 slices.
        const int stacks = 160, slices = 314;
        TVertexBuffer vb(TVertexFormats{TVertexFormat::Vertex}, (stacks + 1) * (slices + 1));
        for (int i = 0; i <= stacks; ++i)
            for (int j = 0; j <= slices; ++j) {
                const double theta = Pi * i / stacks, phi = 2 * Pi * j / slices;
                const double r = 10 + 0.3 * std::sin(7 * theta) * std::cos(5 * phi);
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
        // Rays from a surrounding sphere towards points near the centre.
        std::mt19937 rng(42);
        std::uniform_real_distribution<float> u(-1, 1);
        for (int n = 0; n < 4096; ++n) {
            const TPoint3D start = TPoint3D(u(rng), u(rng), u(rng)).Normalize() * 30;
            const TPoint3D target = TPoint3D(u(rng), u(rng), u(rng)) * 5;
            TRaycastData ray;
            ray._Set(start, (target - start).Normalize(), 0);
            s.Rays.push_back(ray);
        }
        return s;
    }();
    return scene;
}

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

void BM_TreeRaycast(benchmark::State& state)
{
    Scene& s = SharedScene();
    size_t i = 0, hits = 0;
    for (auto _ : state) {
        TRaycastResult res;
        hits += s.Geometry.Raycast(s.Rays[i++ % s.Rays.size()], res);
        benchmark::DoNotOptimize(res);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.counters["triangles"] = double(s.Geometry.NumTriangles);
    state.counters["hit_ratio"] = double(hits) / double(state.iterations());
}
BENCHMARK(BM_TreeRaycast);

void BM_BruteForceRaycast(benchmark::State& state)
{
    Scene& s = SharedScene();
    size_t i = 0, hits = 0;
    for (auto _ : state) {
        TRaycastResult res;
        hits += BruteForce(s.Geometry, s.Rays[i++ % s.Rays.size()], res);
        benchmark::DoNotOptimize(res);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.counters["triangles"] = double(s.Geometry.NumTriangles);
    state.counters["hit_ratio"] = double(hits) / double(state.iterations());
}
BENCHMARK(BM_BruteForceRaycast);

} // namespace

// Prints the usual table, then the tree's speed as a multiple of brute force.
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("items_per_second");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        const double tree = reporter.Rate("BM_TreeRaycast"), brute = reporter.Rate("BM_BruteForceRaycast");
        if (tree > 0 && brute > 0)
            std::printf("tree: %.0f rays/s, brute force: %.0f rays/s, tree / brute force: %.1fx\n", tree, brute,
                        tree / brute);
    });
}
