// Times enlargeFrame on generated pictures, and OpenCV's Lanczos-4 2x resize
// of the same BGRA frame on one thread as the yardstick.
//
// Counters per engine run:
//   active_share     share of targets given the edge-directed estimate
//   band_bytes       storage of the statistics bands after the frame
//   allocs_per_frame allocations through the engine allocator per timed frame
// None of them touches the engine's hot path: they come from the finished
// frame and the state.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/enlarger.h"
#include "tests/support/picture_generator.h"
#include "tests/support/plain_frame.h"
#include "tests/support/test_allocator.h"

#if defined(CRESTDOUBLER_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using crest::testing::PlainFrame;
using crest::pictures::Content;

const crest::pictures::Picture& pictureOf(Content content, int width, int height) {
    static std::map<std::tuple<int, int, int>, crest::pictures::Picture> cache;
    const auto key = std::make_tuple(static_cast<int>(content), width, height);
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.emplace(key, crest::pictures::makePicture(content, width, height, 2026)).first;
    return it->second;
}

std::unique_ptr<PlainFrame> sourceBitmap(Content content, int width, int height) {
    const auto& picture = pictureOf(content, width, height);
    auto bitmap = std::make_unique<PlainFrame>(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) bitmap->set(x, y, picture.at(x, y) | 0xFF000000u);
    return bitmap;
}

// Every pass reads only pixels that no later write changes (lattice pixels,
// the border ring, and for the axial pass the diagonal pass's targets), so
// the finished frame shows each target's neighbours as the pass saw them.
double activeShare(const PlainFrame& frame) {
    const int width = frame.width;
    const int height = frame.height;
    if (width - 4 < 2 || height - 4 < 2) return 0.0;
    std::int64_t targets = 0;
    std::int64_t active = 0;
    auto visit = [&](int x, int y, const int (&dx)[4], const int (&dy)[4]) {
        std::int32_t t[4];
        for (int j = 0; j < 4; ++j) t[j] = static_cast<std::int32_t>(frame.get(x + dx[j], y + dy[j]) >> 24);
        ++targets;
        if (crest::tagActivity(t[0], t[1], t[2], t[3]) >= crest::kActivityThreshold) ++active;
    };
    const int diagonalX[4] = {-1, -1, 1, 1}, diagonalY[4] = {-1, 1, 1, -1};
    const int axialX[4] = {0, -1, 0, 1}, axialY[4] = {-1, 0, 1, 0};
    for (int y = 1; y < height - 1; y += 2)
        for (int x = 1; x < width - 1; x += 2) visit(x, y, diagonalX, diagonalY);
    int first = 2;
    for (int y = 1; y < height - 1; ++y, first = 3 - first)
        for (int x = first; x < width - 1; x += 2) visit(x, y, axialX, axialY);
    return static_cast<double>(active) / static_cast<double>(targets);
}

// Bytes of the statistics bands, which the passes keep in the level caches' storage.
double bandBytes(const crest::EnlargerState& state) {
    double bytes = 0;
    for (const crest::LevelCache& cache : state.levelCache)
        bytes += sizeof(crest::MomentRecord*) * double(cache.capacity);
    return bytes;
}

void enlargeBench(benchmark::State& run, Content content) {
    const int width = static_cast<int>(run.range(0));
    const int height = static_cast<int>(run.range(1));
    // Third argument: the instruction set of the engine's kernels (1 SSE2,
    // 2 AVX2, 3 AVX-512).
    const auto set = static_cast<crest::InstructionSet>(run.range(2) - 1);
    if (!crest::processorHas(set)) {
        run.SkipWithError("instruction set not available");
        return;
    }
    const crest::EngineKernels kernels = crest::engineKernels(set);
    const auto source = sourceBitmap(content, width, height);
    PlainFrame destination(2 * width, 2 * height);
    crest::testing::TestAllocator memory;
    crest::EnlargerState engine(memory.allocator());
    const crest::FrameView to = destination.view();
    const crest::ConstFrameView from = std::as_const(*source).view();
    // One frame first, so the timed ones are steady-state frames.
    if (crest::enlargeFrame(engine, to, from, kernels) != 0) {
        run.SkipWithError("enlargeFrame failed");
        return;
    }
    const int allocationsBefore = memory.allocations();
    for (auto _ : run) {
        benchmark::DoNotOptimize(crest::enlargeFrame(engine, to, from, kernels));
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(run.iterations());
    run.counters["allocs_per_frame"] = static_cast<double>(memory.allocations() - allocationsBefore) / frames;
    run.counters["active_share"] = activeShare(destination);
    run.counters["band_bytes"] = bandBytes(engine);
    run.counters["Mpix_out_per_s"] =
        benchmark::Counter(4.0 * width * height / 1e6 * frames, benchmark::Counter::kIsRate);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({640, 360})->Args({1280, 720})->Args({1920, 1080});
    b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
}

// Every instruction set at 1920x1080, the widest at the smaller sizes.
void engineSizes(benchmark::internal::Benchmark* b) {
    b->Args({640, 360, 3})->Args({1280, 720, 3})->Args({1920, 1080, 1})->Args({1920, 1080, 2})->Args({1920, 1080, 3});
    b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
}

void BM_Enlarge_natural(benchmark::State& run) { enlargeBench(run, Content::natural); }
void BM_Enlarge_flat(benchmark::State& run) { enlargeBench(run, Content::flat); }
void BM_Enlarge_noise(benchmark::State& run) { enlargeBench(run, Content::noise); }
BENCHMARK(BM_Enlarge_natural)->Apply(engineSizes);
BENCHMARK(BM_Enlarge_flat)->Apply(engineSizes);
BENCHMARK(BM_Enlarge_noise)->Apply(engineSizes);

#if defined(CRESTDOUBLER_BENCH_OPENCV)
void lanczosBench(benchmark::State& run, Content content) {
    cv::setNumThreads(1);
    const int width = static_cast<int>(run.range(0));
    const int height = static_cast<int>(run.range(1));
    const auto& picture = pictureOf(content, width, height);
    cv::Mat source(height, width, CV_8UC4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) source.at<std::uint32_t>(y, x) = picture.at(x, y) | 0xFF000000u;
    cv::Mat destination(2 * height, 2 * width, CV_8UC4);
    for (auto _ : run) {
        cv::resize(source, destination, destination.size(), 0, 0, cv::INTER_LANCZOS4);
        benchmark::DoNotOptimize(destination.data);
        benchmark::ClobberMemory();
    }
    run.counters["Mpix_out_per_s"] = benchmark::Counter(
        4.0 * width * height / 1e6 * static_cast<double>(run.iterations()), benchmark::Counter::kIsRate);
}

void BM_OpenCvLanczos4_natural(benchmark::State& run) { lanczosBench(run, Content::natural); }
void BM_OpenCvLanczos4_flat(benchmark::State& run) { lanczosBench(run, Content::flat); }
void BM_OpenCvLanczos4_noise(benchmark::State& run) { lanczosBench(run, Content::noise); }
BENCHMARK(BM_OpenCvLanczos4_natural)->Apply(sizes);
BENCHMARK(BM_OpenCvLanczos4_flat)->Apply(sizes);
BENCHMARK(BM_OpenCvLanczos4_noise)->Apply(sizes);
#endif

}  // namespace

BENCHMARK_MAIN();
