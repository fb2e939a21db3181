// Reading and writing a 10 MB definition JSON with our object model, next to
// RapidJSON's own DOM on the same text. Prints our speed as a ratio of theirs.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "BenchSupport.h"

#include "Platform.JSON.h"
#include "Platform.SysUtils.h"

using namespace korvane;

namespace {

// A model-like definition tree: transform nodes with properties, matrices as
// text, vertex data as long number texts, nested children.
std::unique_ptr<TJSONObject> MakeNode(int& counter, int depth)
{
    auto node = std::make_unique<TJSONObject>();
    const int id = counter++;
    node->AddPair("Type", "Korvane.DefTypes.TMeshDef");
    node->AddPair("Id", Format("Mesh_%d", id));
    node->AddPair("Owner", Format("Mesh_%d", id / 4));
    auto props = std::make_unique<TJSONArray>();
    for (int p = 0; p < 3; ++p) {
        auto prop = std::make_unique<TJSONObject>();
        prop->AddPair("Name", Format("Prop%d", p));
        prop->AddPair("Value", std::make_unique<TJSONNumber>(0.35f * static_cast<float>(p + id)));
        props->Add(std::move(prop));
    }
    node->AddPair("Properties", std::move(props));
    node->AddPair("Transform", "1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 "
                               "0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 2.5000000 -1.2500000 "
                               "0.0000000 1.0000000");
    std::string vertices;
    for (int v = 0; v < 60; ++v) vertices += FloatToStrFixed(v * 0.125 - id, 7) + ' ';
    node->AddPair("Vertices", vertices);
    auto indices = std::make_unique<TJSONArray>();
    for (int i = 0; i < 24; ++i) indices->Add(std::make_unique<TJSONNumber>(i * 3 + id));
    node->AddPair("Indices", std::move(indices));
    node->AddPair("Visible", TJSONBool::Create(id % 2 == 0));
    node->AddPair("Scale", std::make_unique<TJSONNumber>(1.0 + id * 1e-3));
    if (depth < 3) {
        auto children = std::make_unique<TJSONArray>();
        for (int c = 0; c < 4; ++c) children->Add(MakeNode(counter, depth + 1));
        node->AddPair("Children", std::move(children));
    }
    return node;
}

const std::string& DefinitionText()
{
    static const std::string text = [] {
        auto root = std::make_unique<TJSONObject>();
        root->AddPair("Type", "Korvane.DefTypes.TModelDef");
        root->AddPair("Id", "Model_1");
        auto children = std::make_unique<TJSONArray>();
        int counter = 0;
        size_t size = 0;
        while (size < 10'000'000) size += children->Add(MakeNode(counter, 0))->ToJSON().size() + 1;
        root->AddPair("Children", std::move(children));
        return root->ToJSON();
    }();
    return text;
}

void OurRead(benchmark::State& state)
{
    const std::string& text = DefinitionText();
    for (auto _ : state) {
        auto value = TJSONValue::ParseJSONValue(text);
        benchmark::DoNotOptimize(value.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void RapidJSONRead(benchmark::State& state)
{
    const std::string& text = DefinitionText();
    for (auto _ : state) {
        rapidjson::Document doc;
        doc.Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(text.data(), text.size());
        if (doc.HasParseError()) state.SkipWithError("RapidJSON parse failed");
        benchmark::DoNotOptimize(&doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void OurWrite(benchmark::State& state)
{
    const std::string& text = DefinitionText();
    auto value = TJSONValue::ParseJSONValue(text);
    for (auto _ : state) {
        std::string out = value->ToJSON();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void RapidJSONWrite(benchmark::State& state)
{
    const std::string& text = DefinitionText();
    rapidjson::Document doc;
    doc.Parse(text.data(), text.size());
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        doc.Accept(writer);
        std::string out(buffer.GetString(), buffer.GetSize());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

BENCHMARK(OurRead)->Unit(benchmark::kMillisecond);
BENCHMARK(RapidJSONRead)->Unit(benchmark::kMillisecond);
BENCHMARK(OurWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(RapidJSONWrite)->Unit(benchmark::kMillisecond);

} // namespace

// Prints each run's throughput, then ours as a ratio of RapidJSON's.
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("bytes_per_second");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        std::printf("\ndefinition JSON: %.1f MB\n", static_cast<double>(DefinitionText().size()) / 1e6);
        for (const char* op : {"Read", "Write"}) {
            const double ours = reporter.Rate(std::string("Our") + op);
            const double theirs = reporter.Rate(std::string("RapidJSON") + op);
            if (ours <= 0 || theirs <= 0) continue;
            std::printf("%-5s ours %8.1f MB/s, RapidJSON DOM %8.1f MB/s, ratio ours/RapidJSON %.2f\n", op, ours / 1e6,
                        theirs / 1e6, ours / theirs);
        }
    });
}
