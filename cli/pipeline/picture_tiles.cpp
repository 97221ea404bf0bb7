#include "cli/pipeline/picture_tiles.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

#include "cli/app/options.h"
#include "engine/frame_tiles.h"

namespace crest::cli {

namespace {

// A band shorter than this spends more on its halo than it gains in parallel.
constexpr std::int32_t kMinTileRows = 128;
constexpr std::int32_t kBandsPerInstance = 2;
// Tiles of wide pictures, with their halo, stay within the largest frame.
constexpr std::int32_t kMaxTileWidth = kMaxSourceWidth - 2 * kTileHalo;
constexpr std::int32_t kMaxTileHeight = kMaxSourceHeight - 2 * kTileHalo;

std::int32_t ceilDivide(std::int32_t value, std::int32_t divisor) { return (value + divisor - 1) / divisor; }

}  // namespace

TileShape pictureTileShape(std::int32_t width, std::int32_t height, int instances) {
    if (instances <= 1 && width <= kMaxSourceWidth && height <= kMaxSourceHeight) return {width, height};
    const std::int32_t columns = ceilDivide(width, kMaxTileWidth);
    const std::int32_t bands = std::max(instances * kBandsPerInstance / columns, 1);
    const std::int32_t rows = std::clamp(ceilDivide(height, bands), std::min(kMinTileRows, height), kMaxTileHeight);
    return {ceilDivide(width, columns), rows};
}

// One instance, on a thread of its own, with the tile it last enlarged.
struct PictureTileEnlarger::Worker {
    std::unique_ptr<FilterInstance> instance;
    std::unique_ptr<FrameBitmap> tile;

    // A copy of the part of a plane a tile enlarges.
    FrameBitmap& sourceOf(FrameBitmap& plane, const SourceRect& region) {
        if (tile == nullptr || tile->width != region.width || tile->height != region.height)
            tile = std::make_unique<FrameBitmap>(region.width, region.height);
        for (std::int32_t y = 0; y < region.height; ++y)
            std::memcpy(tile->row(y), plane.row(region.y + y) + 4 * static_cast<std::size_t>(region.x),
                        4 * static_cast<std::size_t>(region.width));
        return *tile;
    }

    void enlarge(const FilterModule& module, FrameBitmap& plane, FrameBitmap& destination, const FrameTile& part) {
        if (instance == nullptr) instance = std::make_unique<FilterInstance>(module);
        const SourceRect& region = part.enlarged;
        // A tile that is the whole plane goes straight into the destination.
        if (region == SourceRect{0, 0, plane.width, plane.height}) return instance->enlargeInto(plane, destination, 1);
        const FrameBitmap& enlarged = instance->enlarge(sourceOf(plane, region), 1);
        // Only the tile's own part: the halo's enlargement belongs to its neighbours.
        const std::int32_t left = 2 * (part.own.x - region.x);
        const std::int32_t top = 2 * (part.own.y - region.y);
        const std::size_t rowBytes = 8 * static_cast<std::size_t>(part.own.width);
        for (std::int32_t y = 0; y < 2 * part.own.height; ++y)
            std::memcpy(destination.row(2 * part.own.y + y) + 8 * static_cast<std::size_t>(part.own.x),
                        enlarged.row(top + y) + 4 * static_cast<std::size_t>(left), rowBytes);
    }
};

PictureTileEnlarger::PictureTileEnlarger(const FilterModule& module, int instances) : module_(module) {
    for (int i = 0; i < std::max(instances, 1); ++i) workers_.push_back(std::make_unique<Worker>());
}

PictureTileEnlarger::~PictureTileEnlarger() = default;

void PictureTileEnlarger::enlarge(std::span<FrameBitmap* const> planes, std::span<FrameBitmap* const> destinations) {
    if (planes.empty()) return;
    enlarge(planes, destinations,
            pictureTileShape(planes[0]->width, planes[0]->height, static_cast<int>(workers_.size())));
}

void PictureTileEnlarger::enlarge(std::span<FrameBitmap* const> planes, std::span<FrameBitmap* const> destinations,
                                  TileShape shape) {
    if (planes.empty()) return;
    const std::int32_t width = planes[0]->width;
    const std::int32_t height = planes[0]->height;
    const std::vector<FrameTile> tiles = frameTiles(width, height, shape.width, shape.height);
    // A tile that is the whole picture has the module size its destination.
    if (tiles.size() > 1)
        for (FrameBitmap* destination : destinations) {
            destination->width = 2 * width;
            destination->height = 2 * height;
            destination->notifySizeChanged();
        }
    // Jobs are tile by tile, each tile plane by plane.
    const std::size_t jobCount = tiles.size() * planes.size();
    constexpr std::size_t kNoFailure = std::numeric_limits<std::size_t>::max();
    std::atomic<std::size_t> next = 0;
    std::atomic<std::size_t> failedJob = kNoFailure;
    std::mutex errorLock;
    std::exception_ptr error;
    auto work = [&](Worker& worker) {
        for (std::size_t job; (job = next++) < jobCount && failedJob.load() == kNoFailure;) {
            const std::size_t plane = job % planes.size();
            try {
                worker.enlarge(module_, *planes[plane], *destinations[plane], tiles[job / planes.size()]);
            } catch (...) {
                const std::lock_guard lock(errorLock);
                if (job < failedJob.load()) {
                    failedJob = job;
                    error = std::current_exception();
                }
            }
        }
    };
    const std::size_t threads = std::min(workers_.size(), jobCount);
    std::vector<std::thread> helpers;
    try {
        for (std::size_t i = 1; i < threads; ++i) helpers.emplace_back(work, std::ref(*workers_[i]));
    } catch (...) {
        // Fewer threads: those that started take every tile.
    }
    work(*workers_[0]);
    for (std::thread& helper : helpers) helper.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace crest::cli
