// Times crestdoubler_enlarge, the C API, on one 3840x2160 natural source,
// with 1 and 2 threads (their ratio is the speed-up of the strips).
// Counters: process_cpu_ms, CPU time of all threads per frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <vector>

#include "crestdoubler.h"
#include "tests/support/picture_generator.h"

namespace {

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

// Bytes of the natural picture in the given layout (BGRX or RGB).
const std::vector<std::uint8_t>& naturalSource(int bytes) {
    static const auto picture = crest::pictures::makePicture(crest::pictures::Content::natural, kWidth, kHeight, 2026);
    static std::vector<std::uint8_t> layouts[5];
    std::vector<std::uint8_t>& source = layouts[bytes];
    if (source.empty())
        for (const std::uint32_t pixel : picture.pixels) {
            const std::uint8_t blue = pixel & 0xFF, green = (pixel >> 8) & 0xFF, red = (pixel >> 16) & 0xFF;
            if (bytes == 4) source.insert(source.end(), {blue, green, red, 0xFF});
            else source.insert(source.end(), {red, green, blue});
        }
    return source;
}

void libraryBench(benchmark::State& run, crestdoubler_format format, int bytes) {
    const int threads = static_cast<int>(run.range(0));
    const std::vector<std::uint8_t>& source = naturalSource(bytes);
    std::vector<std::uint8_t> destination(static_cast<std::size_t>(4) * kWidth * kHeight * bytes);
    // std::clock counts every thread of the process: with the main thread's
    // CPU time it shows the extra work of the strips and how it is shared,
    // which wall time cannot on a machine other programs keep busy.
    const std::clock_t processBefore = std::clock();
    for (auto _ : run) {
        const int code = crestdoubler_enlarge(source.data(), kWidth, kHeight, bytes * kWidth, destination.data(),
                                              2 * bytes * kWidth, format, threads);
        if (code != 0) {
            run.SkipWithError(crestdoubler_strerror(code));
            return;
        }
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(run.iterations());
    run.counters["process_cpu_ms"] = 1000.0 * static_cast<double>(std::clock() - processBefore) / CLOCKS_PER_SEC / frames;
    run.counters["Mpix_out_per_s"] = benchmark::Counter(4.0 * kWidth * kHeight / 1e6 * static_cast<double>(run.iterations()),
                                                        benchmark::Counter::kIsRate);
}

void BM_Library_natural_4k_BGRX(benchmark::State& run) { libraryBench(run, CRESTDOUBLER_BGRX, 4); }
void BM_Library_natural_4k_RGB(benchmark::State& run) { libraryBench(run, CRESTDOUBLER_RGB, 3); }
BENCHMARK(BM_Library_natural_4k_BGRX)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Library_natural_4k_RGB)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
