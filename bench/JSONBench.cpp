// Reading and writing a 10 MB definition JSON with our object model, next to
// RapidJSON's own DOM on the same text, used the way its users use it:
// Document::Parse with the default flags, and its Writer over Document::Accept.
// Rates are taken on wall time; the program ends with our rate as a ratio of
// theirs for each operation.

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
        doc.Parse(text.data(), text.size());
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
    if (doc.HasParseError()) state.SkipWithError("RapidJSON parse failed");
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        doc.Accept(writer);
        std::string out(buffer.GetString(), buffer.GetSize());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

BENCHMARK(OurRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RapidJSONRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OurWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RapidJSONWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

// Prints each run's throughput, then ours as a ratio of RapidJSON's.
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("bytes_per_second");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        std::printf("\ndefinition JSON: %.1f MB, the same text for both sides\n",
                    static_cast<double>(DefinitionText().size()) / 1e6);
        std::printf("Read:  text to a whole tree and freeing it again, MB of text per second of wall time\n"
                    "       (ours TJSONValue::ParseJSONValue, RapidJSON Document::Parse, default flags)\n"
                    "Write: that tree to compact text in a std::string, MB of the input text per second of wall time\n"
                    "       (ours TJSONValue::ToJSON, RapidJSON Writer<StringBuffer> over Document::Accept)\n"
                    "A ratio above 1 means ours is faster.\n");
        korvane::bench::PrintByteRateRatios(reporter, {"Read", "Write"}, "RapidJSON", "RapidJSON DOM");
    });
}
