// Times the PNG image data of an enlarged natural picture on one thread: its
// rows filtered and deflated stripe by stripe, as the command writes them,
// and the row filters alone.
//
// Counters:
//   MB_per_s        rows' bytes (unfiltered) a second
//   deflated_bytes  size of all the stripes, the bulk of the PNG file
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "cli/media/picture/png_row_filters.h"
#include "cli/media/picture/png_stripes.h"
#include "engine/enlarger.h"
#include "tests/support/picture_generator.h"
#include "tests/support/plain_frame.h"

namespace {

struct Rows {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> samples;  // RGB
};

// A natural picture of half the size, enlarged by the engine: the smooth
// detail the command's pictures have.
const Rows& enlargedPicture() {
    static const Rows rows = [] {
        constexpr std::int32_t kWidth = 3840;
        constexpr std::int32_t kHeight = 2160;
        const auto picture = crest::pictures::makePicture(crest::pictures::Content::natural, kWidth, kHeight, 2026);
        crest::testing::PlainFrame source(kWidth, kHeight);
        for (std::int32_t y = 0; y < kHeight; ++y)
            for (std::int32_t x = 0; x < kWidth; ++x) source.set(x, y, picture.at(x, y) | 0xFF000000u);
        crest::testing::PlainFrame enlarged(2 * kWidth, 2 * kHeight);
        crest::EnlargerState engine;
        crest::enlargeFrame(engine, enlarged.view(), std::as_const(source).view());
        Rows out{enlarged.width, enlarged.height, {}};
        out.samples.reserve(3 * static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
        for (std::int32_t y = 0; y < out.height; ++y)
            for (std::int32_t x = 0; x < out.width; ++x)
                for (int band = 0; band < 3; ++band)
                    out.samples.push_back(static_cast<std::uint8_t>(enlarged.get(x, y) >> (8 * band)));
        return out;
    }();
    return rows;
}

void countBytes(benchmark::State& run, const Rows& picture) {
    run.counters["MB_per_s"] = benchmark::Counter(static_cast<double>(picture.samples.size()) / 1e6 *
                                                      static_cast<double>(run.iterations()),
                                                  benchmark::Counter::kIsRate);
}

void BM_PngStripes(benchmark::State& run) {
    const Rows& picture = enlargedPicture();
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(picture.width);
    const std::int32_t rowsEach = crest::cli::pngStripeRows(rowBytes);
    std::size_t deflated = 0;
    for (auto _ : run) {
        deflated = 0;
        for (std::int32_t y = 0; y < picture.height; y += rowsEach) {
            const std::uint8_t* rows = picture.samples.data() + rowBytes * static_cast<std::size_t>(y);
            const std::int32_t count = std::min(rowsEach, picture.height - y);
            const crest::cli::PngStripe stripe = crest::cli::deflatePngStripe(
                rows, y > 0 ? rows - rowBytes : nullptr, count, rowBytes, 3, y + count == picture.height);
            deflated += stripe.deflated.size();
        }
    }
    run.counters["deflated_bytes"] = static_cast<double>(deflated);
    countBytes(run, picture);
}
BENCHMARK(BM_PngStripes)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_PngRowFilters(benchmark::State& run) {
    const Rows& picture = enlargedPicture();
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(picture.width);
    std::vector<std::uint8_t> out(rowBytes + 1);
    std::vector<std::uint8_t> scratch(rowBytes);
    for (auto _ : run) {
        for (std::int32_t y = 0; y < picture.height; ++y) {
            const std::uint8_t* row = picture.samples.data() + rowBytes * static_cast<std::size_t>(y);
            crest::cli::filterPngRow(row, y > 0 ? row - rowBytes : nullptr, rowBytes, 3, out.data(), scratch.data());
            benchmark::DoNotOptimize(out.data());
            benchmark::ClobberMemory();
        }
    }
    countBytes(run, picture);
}
BENCHMARK(BM_PngRowFilters)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
