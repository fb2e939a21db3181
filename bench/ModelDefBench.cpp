// Reading a whole model of about 50 MB of JSON text, next to its reference in
// the same run: the JSON object model's own read (parse) of the same text.
// The model's reading is that same parse plus TModelDef::FromJSON: meshes
// with vertex data and materials, lights, cameras, an armature with a joint
// tree, skinned controllers and animations, all references resolved.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "BenchSupport.h"

#include "Korvane.DefTypes.Model.h"
#include "Platform.JSON.h"
#include "Platform.SysUtils.h"

using namespace korvane;

namespace {

constexpr size_t TargetBytes = 50'000'000;
constexpr int MeshVertices = 300;
constexpr int JointBranches = 8;
constexpr int JointDepth = 8;

std::string JointId(int ABranch, int ADepth) { return Format("J_%d_%d", ABranch, ADepth); }

// One mesh of MeshVertices vertices (position, normal, texture coordinate)
// and as many indices, as its JSON text.
std::string MeshText(int AIndex)
{
    TMeshDef mesh(nullptr);
    mesh.SetId(Format("Mesh_%d", AIndex));
    TVertexBuffer vb(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0},
                     MeshVertices);
    TIndexBuffer ib(MeshVertices, TIndexFormat::UInt32);
    for (int32_t i = 0; i < MeshVertices; ++i) {
        const float x = float(i % 20) * 0.05f + float(AIndex), y = float(i / 20) * 0.05f;
        vb.SetVertices(i, {x, y, x * y * 0.5f});
        vb.SetNormals(i, TPoint3D(-y, -x, 1).Normalize());
        vb.SetTexCoord0(i, {x * 0.1f, y * 0.1f});
        ib.SetIndices(i, uint32_t((i * 7) % MeshVertices));
    }
    mesh.SetVertices(&vb);
    mesh.SetIndices(&ib);
    auto material = MakeOwned<TMaterialRefDef>();
    material->SetId(Format("Mat_%d", AIndex));
    mesh.SetMaterial(std::move(material));
    return mesh.ToJSON()->ToJSON();
}

std::string JointTree()
{
    std::string branches;
    for (int b = 0; b < JointBranches; ++b) {
        std::string chain;
        for (int d = JointDepth - 1; d >= 0; --d)
            chain = R"({"Id": ")" + JointId(b, d) + R"(", "Transform": "1 0 0 0 0 1 0 0 0 0 1 0 0 1 0 1")" +
                    (chain.empty() ? "" : R"(, "Joints": [)" + chain + "]") + "}";
        branches += (b ? "," : "") + chain;
    }
    return R"({"Id": "Hips", "Joints": [)" + branches + "]}";
}

std::string Keys(int ACount, const char* AValue)
{
    std::string keys;
    for (int k = 0; k < ACount; ++k)
        keys += Format(R"(%s{"Key": %d, "Interpolation": 1, "Value": "%s"})", k ? "," : "", k, AValue);
    return keys;
}

// The parts of a model around AMeshes meshes.
std::string ModelText(int AMeshes)
{
    std::string text = R"({"Type": "Korvane.DefTypes.TModelDef", "Id": "Big", "Filename": "big+model.kvr",)";
    text += R"("Children": [)";
    for (int i = 0; i < AMeshes; ++i) {
        if (i) text += ',';
        text += MeshText(i);
    }
    text += R"(], "Materials": [)";
    for (int i = 0; i < AMeshes; ++i)
        text += Format(R"(%s{"Type": "Default", "Id": "Mat_%d", "Kind": 2, "Diffuse": "1 0.5 0.25 1"})",
                       i ? "," : "", i);
    text += R"(], "Lights": [)";
    for (int i = 0; i < AMeshes / 10; ++i)
        text += Format(R"(%s{"Id": "Light_%d", "LightType": "Spot", "Intensity": 40})", i ? "," : "", i);
    text += R"(], "Cameras": [)";
    for (int i = 0; i < AMeshes / 10; ++i)
        text += Format(R"(%s{"Id": "Cam_%d", "Owner": "%s", "FOV": 60})", i ? "," : "", i,
                       JointId(i % JointBranches, i % JointDepth));
    text += R"(], "Armatures": [{"Id": "Rig", "Root": )" + JointTree() + "}]";
    text += R"(, "Controllers": [)";
    for (int i = 0; i < AMeshes; ++i) {
        std::string linked;
        for (int j = 0; j < 4; ++j)
            linked += Format(R"(%s{"Joint": "%s", "Weights": "0.5 0.25", "Indices": "%d %d"})", j ? "," : "",
                             JointId((i + j) % JointBranches, j), j, j + 1);
        text += Format(R"(%s{"Id": "Skin_%d", "Target": "Mesh_%d", "Skin": {"Id": "S_%d", "LinkedJoints": [%s],)"
                       R"( "Skeletons": ["Hips"]}})",
                       i ? "," : "", i, i, i, linked);
    }
    text += R"(], "Animations": [)";
    for (int a = 0; a < AMeshes / 20; ++a) {
        std::string stages;
        for (int s = 0; s < 16; ++s)
            stages += Format(R"(%s{"Id": "Stage_%d", "Reference": "%s", "Interpolators": [)"
                             R"({"Type": "Korvane.DefTypes.TPoint3DInterpolatorDef", "Id": "Move", "Path": )"
                             R"("Position.Point", "Duration": 1, "Keys": [%s]}]})",
                             s ? "," : "", s, JointId(s % JointBranches, s / JointBranches), Keys(30, "0 1 0"));
        text += Format(R"(%s{"Id": "Anim_%d", "Stages": [%s]})", a ? "," : "", a, stages);
    }
    text += R"(], "MetaData": {"Title": "Big", "Polygons": 1000000}})";
    return text;
}

// The model's own written text of about TargetBytes.
const std::string& BigModelText()
{
    static const std::string text = [] {
        const size_t perMesh = ModelText(20).size() / 20;
        TModelDef model;
        model.FromJSON(*TJSONObject::ParseJSONObject(ModelText(int(TargetBytes / perMesh))));
        return model.ToJSON()->ToJSON();
    }();
    return text;
}

void ModelDefRead(benchmark::State& state)
{
    const std::string& text = BigModelText();
    for (auto _ : state) {
        TModelDef model;
        // The text's object model lives only while the model reads it.
        model.FromJSON(*TJSONObject::ParseJSONObject(text));
        benchmark::DoNotOptimize(model.Controllers());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void ObjectModelRead(benchmark::State& state)
{
    const std::string& text = BigModelText();
    for (auto _ : state) {
        auto json = TJSONObject::ParseJSONObject(text);
        benchmark::DoNotOptimize(json.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

BENCHMARK(ModelDefRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ObjectModelRead)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

// Prints each run (wall time), then the model's reading time as a multiple of
// the object model's parse of the same text (from the throughput; 1.0 = as fast).
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter bytes("bytes_per_second");
    return korvane::bench::RunBenchmarks(argc, argv, bytes, [&] {
        std::printf("\nmodel JSON: %.1f MB\n", double(BigModelText().size()) / 1e6);
        const double ours = bytes.Rate("ModelDefRead"), reference = bytes.Rate("ObjectModelRead");
        if (ours > 0 && reference > 0)
            std::printf("model definition read (parse + FromJSON) takes %.2fx the time of the JSON object model's "
                        "own parse of the same text (bound: 2x)\n",
                        reference / ours);
    });
}
