#pragma once
// What the benchmark programs share: a console reporter that keeps one rate
// per benchmark, so that a program can print its speed against the reference
// measured in the same run, and the main body that runs them.
// Header-only: each bench/*.cpp is a program of its own.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <initializer_list>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace korvane::bench {

// The usual console table, keeping the counter ACounter of each benchmark
// function: its median when the benchmark is repeated, else its one run.
class TRateReporter : public benchmark::ConsoleReporter {
public:
    explicit TRateReporter(std::string ACounter) : FCounter(std::move(ACounter)) {}

    void ReportRuns(const std::vector<Run>& ARuns) override
    {
        ConsoleReporter::ReportRuns(ARuns);
        for (const Run& r : ARuns) {
            const auto it = r.counters.find(FCounter);
            if (it == r.counters.end() || r.error_occurred) continue;
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (median || (r.run_type == Run::RT_Iteration && r.repetitions <= 1))
                FRates[r.run_name.function_name] = it->second.value;
        }
    }

    // The rate kept for the benchmark function AName; 0 when it did not run.
    double Rate(const std::string& AName) const
    {
        const auto it = FRates.find(AName);
        return it == FRates.end() ? 0 : it->second;
    }

private:
    std::string FCounter;
    std::map<std::string, double> FRates;
};

// Runs the benchmarks the command line selects through AReporter, then
// APrintRatios (with the reporter's rates); the program's exit code.
template <typename PrintRatios>
int RunBenchmarks(int argc, char** argv, TRateReporter& AReporter, PrintRatios&& APrintRatios)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks(&AReporter);
    APrintRatios();
    benchmark::Shutdown();
    return 0;
}

// For each operation AOp, the rates of the benchmarks "Our<AOp>" and
// "<AReference><AOp>" in MB/s and ours as a ratio of the reference's, ending
// each line with ASuffix. Operations that did not run are left out.
inline void PrintByteRateRatios(const TRateReporter& AReporter, std::initializer_list<const char*> AOps,
                                const std::string& AReference, const std::string& AReferenceLabel,
                                const char* ASuffix = "")
{
    for (const char* op : AOps) {
        const double ours = AReporter.Rate(std::string("Our") + op);
        const double theirs = AReporter.Rate(AReference + op);
        if (ours <= 0 || theirs <= 0) continue;
        std::printf("%-5s ours %8.1f MB/s, %s %8.1f MB/s, ratio ours/%s %.2f%s\n", op, ours / 1e6,
                    AReferenceLabel.c_str(), theirs / 1e6, AReference.c_str(), ours / theirs, ASuffix);
    }
}

// Times whole viewport frames of a scene that holds a Viewport and the
// Failure of its set-up: each frame is rendered by hand and finished on the GPU,
// so wall time covers the whole frame. FinishGL is the caller's glFinish (this
// header does not include GL).
template <typename Scene, typename FinishGL>
void RenderViewportFrames(benchmark::State& state, Scene& AScene, FinishGL AFinish)
{
    if (!AScene.Failure.empty()) {
        state.SkipWithError(("the forward frame failed: " + AScene.Failure).c_str());
        return;
    }
    AFinish();
    for (auto _ : state) {
        AScene.Viewport->RenderManual();
        AFinish();
    }
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace korvane::bench
