// Decoding a 2048 x 2048 DXT1 and DXT5 image with our block decoder, next to
// libsquish's DecompressImage on the same blocks. Both write into an output
// image allocated once, outside the timed loop. Prints our speed as a ratio
// of libsquish's.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <omp.h>
#include <squish.h>

#include "BenchSupport.h"

#include "Korvane.Imaging.Formats.h"
#include "Korvane.Imaging.h"

using namespace korvane;

namespace {

constexpr int32_t Side = 2048;

// A compressed image of random blocks (the same for both decoders, made once).
TImageData& Compressed(TImageFormat AFormat)
{
    static TImageData dxt1, dxt5;
    TImageData& image = AFormat == ifDXT1 ? dxt1 : dxt5;
    if (!image.Bits) {
        CreateImageData(Side, Side, AFormat, image);
        std::mt19937 random(AFormat);
        auto* bytes = static_cast<uint8_t*>(image.Bits);
        for (int32_t i = 0; i < image.Size; ++i) bytes[i] = uint8_t(random());
    }
    return image;
}

void OurDecode(benchmark::State& AState, TImageFormat AFormat)
{
    const TImageData& image = Compressed(AFormat);
    TImageData target;
    CreateImageData(Side, Side, ifA8R8G8B8, target);
    for (auto _ : AState) {
        DecompressImage(image, target);
        benchmark::DoNotOptimize(target.Bits);
        benchmark::ClobberMemory();
    }
    AState.counters["pixels_per_second"] =
        benchmark::Counter(double(AState.iterations()) * Side * Side, benchmark::Counter::kIsRate);
    FreeImageData(target);
}

// libsquish decodes with OpenMP threads on every core by default; AThreads
// 1 measures it on one core, like ours.
void SquishDecode(benchmark::State& AState, TImageFormat AFormat, int AThreads = 0)
{
    const int threads = omp_get_max_threads();
    if (AThreads > 0) omp_set_num_threads(AThreads);
    const TImageData& image = Compressed(AFormat);
    std::vector<uint8_t> rgba(size_t(Side) * Side * 4);
    const int flags = AFormat == ifDXT1 ? squish::kDxt1 : squish::kDxt5;
    for (auto _ : AState) {
        squish::DecompressImage(rgba.data(), Side, Side, image.Bits, flags);
        benchmark::DoNotOptimize(rgba.data());
        benchmark::ClobberMemory();
    }
    AState.counters["pixels_per_second"] =
        benchmark::Counter(double(AState.iterations()) * Side * Side, benchmark::Counter::kIsRate);
    omp_set_num_threads(threads);
}

void OurDXT1(benchmark::State& s) { OurDecode(s, ifDXT1); }
void SquishDXT1(benchmark::State& s) { SquishDecode(s, ifDXT1); }
void SquishDXT1OneThread(benchmark::State& s) { SquishDecode(s, ifDXT1, 1); }
void OurDXT5(benchmark::State& s) { OurDecode(s, ifDXT5); }
void SquishDXT5(benchmark::State& s) { SquishDecode(s, ifDXT5); }
void SquishDXT5OneThread(benchmark::State& s) { SquishDecode(s, ifDXT5, 1); }

// Wall time: the rates count pixels per second of real time.
BENCHMARK(OurDXT1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SquishDXT1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SquishDXT1OneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OurDXT5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SquishDXT5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SquishDXT5OneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("pixels_per_second");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        std::printf("\n%dx%d image of random blocks, decoded to 32-bit pixels, rates in wall time;\n"
                    "ratio = our rate / libsquish's rate: above 1 means we decode faster. Ours runs on one core;\n"
                    "libsquish by default on %d OpenMP threads, and once on one thread.\n",
                    Side, Side, omp_get_max_threads());
        for (const char* format : {"DXT1", "DXT5"}) {
            const double ours = reporter.Rate(std::string("Our") + format);
            const double theirs = reporter.Rate(std::string("Squish") + format);
            const double theirsOne = reporter.Rate(std::string("Squish") + format + "OneThread");
            if (ours <= 0) continue;
            std::printf("%s decode: ours %7.1f Mpixel/s", format, ours / 1e6);
            if (theirs > 0)
                std::printf("; libsquish (default threads) %7.1f Mpixel/s, ratio %.2f", theirs / 1e6, ours / theirs);
            if (theirsOne > 0)
                std::printf("; libsquish (one thread) %7.1f Mpixel/s, ratio %.2f", theirsOne / 1e6, ours / theirsOne);
            std::printf("\n");
        }
        FreeImageData(Compressed(ifDXT1));
        FreeImageData(Compressed(ifDXT5));
    });
}
