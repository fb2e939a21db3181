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
#include "DefinitionSample.h"

#include "Platform.JSON.h"
#include "Platform.SysUtils.h"

using namespace korvane;

namespace {

const std::string& DefinitionText()
{
    static const std::string text =
        bench::MakeDefinition(10'000'000, [](const TJSONValue& node) { return node.ToJSON().size() + 1; })->ToJSON();
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
        korvane::bench::PrintByteRateRatios(reporter, {"Read", "Write"}, "RapidJSON", "RapidJSON DOM");
    });
}
