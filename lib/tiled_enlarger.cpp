#include "lib/tiled_enlarger.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "engine/enlarger.h"

namespace crest::library {

namespace {

// Strips are kept tall enough that the halo rows stay a small share of the work.
constexpr std::int32_t kMinStripRows = 64;
// Two strips per worker, taken in turn: a worker slowed by another program on
// its core takes fewer of them, at the cost of 20 halo rows per extra strip.
constexpr std::int32_t kStripsPerWorker = 2;
constexpr std::int32_t kMaxStripRows = kMaxDestinationHeight / 2 - 2 * kTileHalo;

int codeOf(std::int32_t status) {
    if (status == static_cast<std::int32_t>(EnlargeStatus::ok)) return CRESTDOUBLER_OK;
    if (status == static_cast<std::int32_t>(EnlargeStatus::outOfMemory)) return CRESTDOUBLER_ERROR_MEMORY;
    return CRESTDOUBLER_ERROR_TOO_LARGE;
}

// Pixels the engine or a conversion overwrites in full: grown without being
// cleared first, which would be one more pass over tens of megabytes.
class ScratchPixels {
public:
    std::uint32_t* take(std::size_t count) {
        if (count > capacity_) {
            pixels_ = std::make_unique_for_overwrite<std::uint32_t[]>(count);
            capacity_ = count;
        }
        return pixels_.get();
    }

private:
    std::unique_ptr<std::uint32_t[]> pixels_;
    std::size_t capacity_ = 0;
};

// One worker's engine state and scratch frames, kept across its strips.
class StripWorker {
public:
    int enlarge(crestdoubler_format format, const ImageRows& source, const ImageRows& destination,
                const FrameTile& strip) {
        const SourceRect& region = strip.enlarged;
        const std::size_t pixels = static_cast<std::size_t>(region.width) * static_cast<std::size_t>(region.height);
        const std::int32_t outWidth = 2 * region.width;
        const FrameView out{reinterpret_cast<std::uint8_t*>(output_.take(4 * pixels)), outWidth, 2 * region.height,
                            4 * static_cast<std::ptrdiff_t>(outWidth)};
        const std::uint8_t* own = out.pixels + 2 * (strip.own.y - region.y) * out.stride + 8 * (strip.own.x - region.x);
        const bool hasAlpha = layoutOf(format)->hasAlpha;
        for (const Plane plane : {Plane::colour, Plane::alpha}) {
            if (plane == Plane::alpha && !hasAlpha) break;
            ConstFrameView in;
            if (format == CRESTDOUBLER_BGRX) {
                in = {source.row(region.y) + 4 * static_cast<std::ptrdiff_t>(region.x), region.width, region.height,
                      source.stride};
            } else {
                std::uint32_t* pixelsIn = input_.take(pixels);
                loadPlane(format, plane, source, region, pixelsIn);
                in = {reinterpret_cast<const std::uint8_t*>(pixelsIn), region.width, region.height,
                      4 * static_cast<std::ptrdiff_t>(region.width)};
            }
            const int code = codeOf(enlargeFrame(state_, out, in));
            if (code != CRESTDOUBLER_OK) return code;
            storePlane(format, plane, own, out.stride, 2 * strip.own.width, 2 * strip.own.height, destination,
                       2 * strip.own.x, 2 * strip.own.y);
        }
        return CRESTDOUBLER_OK;
    }

private:
    EnlargerState state_;
    ScratchPixels input_;
    ScratchPixels output_;
};

}  // namespace

int enlargeInStrips(crestdoubler_format format, const ImageRows& source, std::int32_t width, std::int32_t height,
                    const ImageRows& destination, int workers) {
    const std::int32_t wanted = workers == 1 ? 1 : std::min(workers, 4096) * kStripsPerWorker;
    // Strips through scratch frames are kept to some 32 MB of output each, so
    // a worker's scratch stays small and is reused rather than faulted in anew.
    const bool direct = workers == 1 && format == CRESTDOUBLER_BGRX;
    const std::int32_t scratchRows = std::max<std::int32_t>(kMinStripRows, (32 << 20) / (16 * width));
    const std::vector<FrameTile> strips =
        frameStrips(width, height, wanted, kMinStripRows, direct ? kMaxStripRows : std::min(scratchRows, kMaxStripRows));
    const std::size_t count = strips.size();
    // One strip of the engine's own layout: straight into the caller's rows.
    if (count == 1 && format == CRESTDOUBLER_BGRX && destination.stride >= -kMaxPitchBytes &&
        destination.stride <= kMaxPitchBytes) {
        EnlargerState state;
        return codeOf(enlargeFrame(state, FrameView{destination.pixels, 2 * width, 2 * height, destination.stride},
                                   ConstFrameView{source.pixels, width, height, source.stride}));
    }
    std::atomic<std::size_t> next{0};
    std::atomic<int> failure{CRESTDOUBLER_OK};
    auto work = [&] {
        try {
            StripWorker worker;
            for (std::size_t i = next++; i < count && failure.load() == CRESTDOUBLER_OK; i = next++) {
                const int code = worker.enlarge(format, source, destination, strips[i]);
                if (code != CRESTDOUBLER_OK) failure.store(code);
            }
        } catch (const std::bad_alloc&) {
            failure.store(CRESTDOUBLER_ERROR_MEMORY);
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t helperCount = std::min(static_cast<std::size_t>(workers), count) - 1;
    try {
        helpers.reserve(helperCount);
        for (std::size_t i = 0; i < helperCount; ++i) helpers.emplace_back(work);
    } catch (const std::exception&) {
        // Fewer helpers: the strips still all get done, by those that started.
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    return failure.load();
}

}  // namespace crest::library
