#include "lib/tiled_enlarger.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <new>
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

EnlargeStatus statusOf(std::int32_t engineResult) { return static_cast<EnlargeStatus>(engineResult); }

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

// The frame of every pass: pass 0 is the source, pass k + 1 pass k doubled.
struct PassFrames {
    std::int32_t width;
    std::int32_t height;
    int passes;

    std::int32_t widthOf(int pass) const { return width << pass; }
    std::int32_t heightOf(int pass) const { return height << pass; }
};

// One worker's engine state and scratch frames, kept across its strips.
class StripWorker {
public:
    StripWorker(crestdoubler_format format, const ImageRows& source, const PassFrames& frames)
        : format_(format),
          source_(source),
          frames_(frames),
          state_(EnlargerState::Detached{}, systemAllocator()),
          scratch_(static_cast<std::size_t>(frames.passes) + 1) {}

    // The strip's own rows of the last pass, converted into the destination.
    EnlargeStatus enlarge(const ImageRows& destination, const FrameTile& strip) {
        const int last = frames_.passes;
        for (const Plane plane : {Plane::colour, Plane::alpha}) {
            if (plane == Plane::alpha && !layoutOf(format_)->hasAlpha) break;
            ConstFrameView rows;
            const EnlargeStatus status =
                rowsOf(plane, last, 2 * strip.own.y, 2 * (strip.own.y + strip.own.height), rows);
            if (status != EnlargeStatus::ok) return status;
            storePlane(format_, plane, rows.pixels, rows.stride, rows.width, rows.height, destination, 0,
                       2 * strip.own.y);
        }
        return EnlargeStatus::ok;
    }

    // The whole last pass straight into the caller's rows, for BGRX.
    EnlargeStatus enlargeWhole(const ImageRows& destination) {
        const int last = frames_.passes;
        ConstFrameView in;
        const EnlargeStatus status = rowsOf(Plane::colour, last - 1, 0, frames_.heightOf(last - 1), in);
        if (status != EnlargeStatus::ok) return status;
        return statusOf(enlargeFrameWithoutPool(
            state_, FrameView{destination.pixels, frames_.widthOf(last), frames_.heightOf(last), destination.stride},
            in));
    }

private:
    // Rows [top, bottom) of the pass's whole frame, full width, as engine
    // pixels: the source's plane for pass 0, else the pass's doubling of the
    // rows of the pass before under them, with their halo.
    EnlargeStatus rowsOf(Plane plane, int pass, std::int32_t top, std::int32_t bottom, ConstFrameView& rows) {
        if (pass == 0) {
            rows = sourceRows(plane, top, bottom);
            return EnlargeStatus::ok;
        }
        const FrameTile under = stripForRows(frames_.widthOf(pass - 1), frames_.heightOf(pass - 1), top, bottom);
        const SourceRect& region = under.enlarged;
        ConstFrameView in;
        const EnlargeStatus status = rowsOf(plane, pass - 1, region.y, region.y + region.height, in);
        if (status != EnlargeStatus::ok) return status;
        const FrameView out = scratchFrame(pass, 2 * region.width, 2 * region.height);
        rows = {out.pixels + (top - 2 * region.y) * out.stride, out.width, bottom - top, out.stride};
        return statusOf(enlargeFrameWithoutPool(state_, out, in));
    }

    ConstFrameView sourceRows(Plane plane, std::int32_t top, std::int32_t bottom) {
        const std::int32_t width = frames_.width;
        // The engine reads BGRX as it is, its fourth byte ignored, where it can address the rows.
        if (format_ == CRESTDOUBLER_BGRX && source_.stride >= -kMaxPitchBytes && source_.stride <= kMaxPitchBytes)
            return {source_.row(top), width, bottom - top, source_.stride};
        const FrameView converted = scratchFrame(0, width, bottom - top);
        loadPlane(format_, plane, source_, {0, top, width, bottom - top},
                  reinterpret_cast<std::uint32_t*>(converted.pixels));
        return {converted.pixels, converted.width, converted.height, converted.stride};
    }

    FrameView scratchFrame(int pass, std::int32_t width, std::int32_t height) {
        std::uint32_t* pixels = scratch_[static_cast<std::size_t>(pass)].take(static_cast<std::size_t>(width) *
                                                                              static_cast<std::size_t>(height));
        return {reinterpret_cast<std::uint8_t*>(pixels), width, height, 4 * static_cast<std::ptrdiff_t>(width)};
    }

    crestdoubler_format format_;
    ImageRows source_;
    PassFrames frames_;
    // Without a pool block: the passes never take a pool record.
    EnlargerState state_;
    std::vector<ScratchPixels> scratch_;  // the converted source, then each pass's output
};

}  // namespace

EnlargeStatus enlargeInStrips(crestdoubler_format format, const ImageRows& source, std::int32_t width,
                              std::int32_t height, const ImageRows& destination, int passes, int workers) {
    const PassFrames frames{width, height, passes};
    // Strips are cut from the frame the last pass doubles.
    const std::int32_t lastWidth = frames.widthOf(passes - 1);
    const std::int32_t lastHeight = frames.heightOf(passes - 1);
    const std::int32_t wanted = workers == 1 ? 1 : std::min(workers, 4096) * kStripsPerWorker;
    // Strips through scratch frames are kept to some 32 MB of output each, so
    // a worker's scratch stays small and is reused rather than faulted in anew.
    // One worker doubling BGRX once reads the source as it is and may take it whole.
    const bool direct = workers == 1 && passes == 1 && format == CRESTDOUBLER_BGRX;
    const std::int32_t scratchRows = std::max<std::int32_t>(kMinStripRows, (32 << 20) / (16 * lastWidth));
    const std::vector<FrameTile> strips = frameStrips(lastWidth, lastHeight, wanted, kMinStripRows,
                                                      direct ? kMaxStripRows : std::min(scratchRows, kMaxStripRows));
    const std::size_t count = strips.size();
    // One strip of the engine's own layout: straight into the caller's rows.
    if (count == 1 && format == CRESTDOUBLER_BGRX && destination.stride >= -kMaxPitchBytes &&
        destination.stride <= kMaxPitchBytes)
        return StripWorker(format, source, frames).enlargeWhole(destination);
    std::atomic<std::size_t> next{0};
    std::atomic<EnlargeStatus> failure{EnlargeStatus::ok};
    auto work = [&] {
        try {
            StripWorker worker(format, source, frames);
            for (std::size_t i = next++; i < count && failure.load() == EnlargeStatus::ok; i = next++) {
                const EnlargeStatus status = worker.enlarge(destination, strips[i]);
                if (status != EnlargeStatus::ok) failure.store(status);
            }
        } catch (const std::bad_alloc&) {
            failure.store(EnlargeStatus::outOfMemory);
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
