// Times the C API on natural sources: crestdoubler_enlarge on 3840x2160 with
// 1 and 2 threads (their ratio is the speed-up of the strips), and
// crestdoubler_enlarge_pow2 on 1920x1080 at 2x, 4x and 8x with every core,
// and small BGRX pictures on one thread, where the per-call set-up weighs most.
// Counters: process_cpu_ms, CPU time of all threads per frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <tuple>
#include <vector>

#include "crestdoubler.h"
#include "tests/support/picture_generator.h"

namespace {

// Bytes of a natural picture in the given layout (BGRX or RGB).
const std::vector<std::uint8_t>& naturalSource(int width, int height, int bytes) {
    static std::map<std::tuple<int, int, int>, std::vector<std::uint8_t>> layouts;
    std::vector<std::uint8_t>& source = layouts[{width, height, bytes}];
    if (source.empty())
        for (const std::uint32_t pixel :
             crest::pictures::makePicture(crest::pictures::Content::natural, width, height, 2026).pixels) {
            const std::uint8_t blue = pixel & 0xFF, green = (pixel >> 8) & 0xFF, red = (pixel >> 16) & 0xFF;
            if (bytes == 4) source.insert(source.end(), {blue, green, red, 0xFF});
            else source.insert(source.end(), {red, green, blue});
        }
    return source;
}

void libraryBench(benchmark::State& run, crestdoubler_format format, int bytes, int width, int height, int passes,
                  int threads) {
    const std::vector<std::uint8_t>& source = naturalSource(width, height, bytes);
    const int scale = 1 << passes;
    std::vector<std::uint8_t> destination(static_cast<std::size_t>(scale * scale) * width * height * bytes);
    // std::clock counts every thread of the process: with the main thread's
    // CPU time it shows the extra work of the strips and how it is shared,
    // which wall time cannot on a machine other programs keep busy.
    const std::clock_t processBefore = std::clock();
    for (auto _ : run) {
        const int code = crestdoubler_enlarge_pow2(source.data(), width, height, bytes * width, destination.data(),
                                                   scale * bytes * width, format, passes, threads);
        if (code != 0) {
            run.SkipWithError(crestdoubler_strerror(code));
            return;
        }
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(run.iterations());
    run.counters["process_cpu_ms"] =
        1000.0 * static_cast<double>(std::clock() - processBefore) / CLOCKS_PER_SEC / frames;
    run.counters["Mpix_out_per_s"] = benchmark::Counter(
        static_cast<double>(scale * scale) * width * height / 1e6 * frames, benchmark::Counter::kIsRate);
}

void BM_Library_natural_4k_BGRX(benchmark::State& run) {
    libraryBench(run, CRESTDOUBLER_BGRX, 4, 3840, 2160, 1, static_cast<int>(run.range(0)));
}
void BM_Library_natural_4k_RGB(benchmark::State& run) {
    libraryBench(run, CRESTDOUBLER_RGB, 3, 3840, 2160, 1, static_cast<int>(run.range(0)));
}
// Argument: doublings (1 for 2x, 2 for 4x, 3 for 8x).
void BM_Library_natural_1080p_RGB_scale(benchmark::State& run) {
    libraryBench(run, CRESTDOUBLER_RGB, 3, 1920, 1080, static_cast<int>(run.range(0)), 0);
}
// Argument: the side of the square source.
void BM_Library_natural_small_BGRX(benchmark::State& run) {
    const int side = static_cast<int>(run.range(0));
    libraryBench(run, CRESTDOUBLER_BGRX, 4, side, side, 1, 1);
}
BENCHMARK(BM_Library_natural_4k_BGRX)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Library_natural_4k_RGB)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Library_natural_1080p_RGB_scale)
    ->DenseRange(1, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(BM_Library_natural_small_BGRX)
    ->Arg(16)
    ->Arg(64)
    ->Arg(256)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();
