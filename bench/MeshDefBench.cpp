// Mesh definitions at scale, each next to its reference in the same run:
// - a mesh definition of 1,000,000 vertices read from its JSON text and
//   written back to text, against our JSON object model's own parse and write
//   of the same text (the work the definition adds is FromJSON and ToJSON);
// - de-duplicating 1,000,000 triangle corners through the vertex cache,
//   against meshopt_generateVertexRemap on the same vertices.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include <meshoptimizer.h>

#include "BenchSupport.h"

#include "Korvane.DefTypes.Mesh.h"
#include "Platform.JSON.h"

using namespace korvane;

namespace {

constexpr int32_t MeshVertices = 1'000'000;

// A definition of 1,000,000 vertices (position, normal, texture coordinate)
// and as many indices, as its JSON text.
const std::string& MeshText()
{
    static const std::string text = [] {
        TMeshDef mesh(nullptr);
        mesh.SetId("Big");
        TVertexBuffer vb(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0},
                         MeshVertices);
        TIndexBuffer ib(MeshVertices, TIndexFormat::UInt32);
        for (int32_t i = 0; i < MeshVertices; ++i) {
            const float x = float(i % 1000) * 0.01f, y = float(i / 1000) * 0.01f;
            vb.SetVertices(i, {x, y, x * y * 0.5f});
            vb.SetNormals(i, TPoint3D(-y, -x, 1).Normalize());
            vb.SetTexCoord0(i, {x * 0.1f, y * 0.1f});
            ib.SetIndices(i, uint32_t((i * 7) % MeshVertices));
        }
        mesh.SetVertices(&vb);
        mesh.SetIndices(&ib);
        return mesh.ToJSON()->ToJSON();
    }();
    return text;
}

void MeshDefReadWrite(benchmark::State& state)
{
    const std::string& text = MeshText();
    for (auto _ : state) {
        TMeshDef mesh(nullptr);
        // Read: the text's object model lives only while the mesh reads it.
        mesh.FromJSON(nullptr, *TJSONObject::ParseJSONObject(text));
        std::string out = mesh.ToJSON()->ToJSON();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void ObjectModelReadWrite(benchmark::State& state)
{
    const std::string& text = MeshText();
    for (auto _ : state) {
        auto json = TJSONObject::ParseJSONObject(text);
        std::string out = json->ToJSON();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

// The corners of a grid of quads, two triangles each, about 1,000,000 in all:
// every inner grid point is used by six corners.
constexpr int GridQuads = 409;
constexpr int GridPoints = GridQuads + 1;

struct TCornerVertex {
    float Position[3];
    float Normal[3];
    float TexCoord[2];
};

int32_t PointIndex(int X, int Y) { return Y * GridPoints + X; }

// The triangles as index tuples into the cache's sources.
const std::vector<TTriangleID>& GridTriangles()
{
    static const std::vector<TTriangleID> triangles = [] {
        std::vector<TTriangleID> out;
        auto corner = [](int x, int y) {
            TVertexID v;
            v.Position = PointIndex(x, y);
            v.Normal = 0;
            v.Textures.Count = 1;
            v.Textures.Indices[0] = PointIndex(x, y);
            v.Tangent = 0;
            return v;
        };
        for (int y = 0; y < GridQuads; ++y)
            for (int x = 0; x < GridQuads; ++x) {
                out.push_back({corner(x, y), corner(x + 1, y), corner(x + 1, y + 1)});
                out.push_back({corner(x, y), corner(x + 1, y + 1), corner(x, y + 1)});
            }
        return out;
    }();
    return triangles;
}

void FillSources(TVertexCache& ACache)
{
    std::vector<float> positions, uvs;
    for (int y = 0; y < GridPoints; ++y)
        for (int x = 0; x < GridPoints; ++x) {
            positions.insert(positions.end(), {float(x), float(y), 0});
            uvs.insert(uvs.end(), {float(x) / GridQuads, float(y) / GridQuads});
        }
    ACache.SetPositionSource(positions);
    ACache.SetNormalSource({0, 0, 1});
    ACache.SetTangentSource({1, 0, 0});
    ACache.SetTextureSource(0, uvs, false);
}

// The same corners unindexed, as meshoptimizer's users hold them.
const std::vector<TCornerVertex>& GridCorners()
{
    static const std::vector<TCornerVertex> corners = [] {
        TVertexCache cache;
        FillSources(cache);
        std::vector<TCornerVertex> out;
        for (const TTriangleID& t : GridTriangles())
            for (const TVertexID& id : t) {
                const TVertexData v = cache.GetVertex(id);
                out.push_back({{v.Position.X, v.Position.Y, v.Position.Z},
                               {v.Normal.X, v.Normal.Y, v.Normal.Z},
                               {v.TexCoords[0].X, v.TexCoords[0].Y}});
            }
        return out;
    }();
    return corners;
}

void VertexCacheDedup(benchmark::State& state)
{
    const auto& triangles = GridTriangles();
    size_t unique = 0;
    for (auto _ : state) {
        TVertexCache cache(uint32_t(GridPoints * GridPoints));
        FillSources(cache);
        int offset = 0;
        for (const TTriangleID& t : triangles)
            offset = cache.AddTriangle(offset, t, cache.Vertices, cache.Indices, TVertexOrder::CCW);
        unique = cache.Vertices.size();
        benchmark::DoNotOptimize(cache.Indices.data());
    }
    state.counters["unique"] = double(unique);
    // Counted as "bytes" so that one reporter keeps both rates: one per corner.
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(triangles.size()) * 3);
}

void MeshoptVertexRemap(benchmark::State& state)
{
    const auto& corners = GridCorners();
    std::vector<unsigned int> remap(corners.size());
    size_t unique = 0;
    for (auto _ : state) {
        unique = meshopt_generateVertexRemap(remap.data(), nullptr, corners.size(), corners.data(), corners.size(),
                                             sizeof(TCornerVertex));
        benchmark::DoNotOptimize(remap.data());
    }
    state.counters["unique"] = double(unique);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corners.size()));
}

BENCHMARK(MeshDefReadWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(ObjectModelReadWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(VertexCacheDedup)->Unit(benchmark::kMillisecond);
BENCHMARK(MeshoptVertexRemap)->Unit(benchmark::kMillisecond);

} // namespace

// Prints each run, then each operation's time as a multiple of its reference's
// (from the throughput of the same data; 1.0 = as fast as the reference).
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter bytes("bytes_per_second");
    return korvane::bench::RunBenchmarks(argc, argv, bytes, [&] {
        std::printf("\nmesh JSON: %.1f MB, %d vertices; grid corners: %zu\n", double(MeshText().size()) / 1e6,
                    MeshVertices, GridTriangles().size() * 3);
        const double ours = bytes.Rate("MeshDefReadWrite"), reference = bytes.Rate("ObjectModelReadWrite");
        if (ours > 0 && reference > 0)
            std::printf("mesh definition read + write takes %.2fx the time of the JSON object model's own parse + "
                        "write of the same text (bound: 2x)\n",
                        reference / ours);
        const double cache = bytes.Rate("VertexCacheDedup"), remap = bytes.Rate("MeshoptVertexRemap");
        if (cache > 0 && remap > 0)
            std::printf("de-duplication: vertex cache %.1f M corners/s, meshopt_generateVertexRemap %.1f M corners/s; "
                        "the vertex cache takes %.2fx meshoptimizer's time\n",
                        cache / 1e6, remap / 1e6, remap / cache);
    });
}
