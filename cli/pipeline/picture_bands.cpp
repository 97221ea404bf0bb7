#include "cli/pipeline/picture_bands.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/base/frame_size.h"
#include "engine/frame_tiles.h"

namespace crest::cli {

namespace {

constexpr std::int64_t kBandPixels = std::int64_t{1} << 21;
// A band shorter than this spends more on its halo than it gains in parallel.
constexpr std::int32_t kMinBandRows = 128;
constexpr std::int32_t kBandsPerInstance = 2;
// Tiles, with their halo, stay within the largest frame.
constexpr std::int32_t kMaxTileWidth = kMaxSourceWidth - 2 * kTileHalo;
constexpr std::int32_t kMaxTileHeight = kMaxSourceHeight - 2 * kTileHalo;

std::int32_t ceilDivide(std::int32_t value, std::int32_t divisor) { return (value + divisor - 1) / divisor; }

void copyRows(const FrameBitmap& from, std::int32_t fromRow, std::int32_t fromX, FrameBitmap& to, std::int32_t toRow,
              std::int32_t toX, std::int32_t width, std::int32_t rows) {
    for (std::int32_t y = 0; y < rows; ++y)
        std::memcpy(to.row(toRow + y) + 4 * static_cast<std::size_t>(toX),
                    from.row(fromRow + y) + 4 * static_cast<std::size_t>(fromX), 4 * static_cast<std::size_t>(width));
}

// The tiles of one band, the source rows it reads (own rows and halo) and
// their enlargement. Its jobs end before it is reused or destroyed.
struct Band {
    std::vector<std::unique_ptr<FrameBitmap>> source;    // rows sourceTop to sourceTop + sourceRows
    std::vector<std::unique_ptr<FrameBitmap>> enlarged;  // twice the source rows
    std::int32_t sourceTop = 0;
    std::int32_t sourceRows = 0;
    std::int32_t ownTop = 0;
    std::int32_t ownRows = 0;
    // Last: destroyed first, so that it waits for the jobs still using the bitmaps.
    std::unique_ptr<JobGroup> jobs;
};

// Reallocated only when the size changes: at the first and last bands.
void resize(std::unique_ptr<FrameBitmap>& bitmap, std::int32_t width, std::int32_t height) {
    if (bitmap == nullptr || bitmap->width != width || bitmap->height != height)
        bitmap = std::make_unique<FrameBitmap>(width, height);
}

class BandedPicture {
public:
    BandedPicture(PictureSource& source, PictureSink& sink, InstancePool& pool, BandShape shape, Progress* progress)
        : source_(source),
          sink_(sink),
          progress_(progress),
          width_(source.width()),
          height_(source.height()),
          tiles_(frameTiles(width_, height_, shape.tileWidth, shape.bandRows)),
          bands_(static_cast<std::size_t>(pool.size()) + 1),
          wholeRows_(shape.tileWidth >= width_) {
        for (Band& band : bands_) {
            band.source.resize(static_cast<std::size_t>(source.planeCount()));
            band.enlarged.resize(band.source.size());
            band.jobs = std::make_unique<JobGroup>(pool);
        }
    }

    void run() {
        std::size_t count = 0;
        for (std::size_t first = 0; first < tiles_.size(); ++count) {
            std::size_t end = first;
            while (end < tiles_.size() && tiles_[end].own.y == tiles_[first].own.y) ++end;
            Band& band = bands_[count % bands_.size()];
            if (count >= bands_.size()) deliver(band);
            if (progress_ != nullptr) progress_->throwIfCancelled();
            read(band, count == 0 ? nullptr : &bands_[(count - 1) % bands_.size()], tiles_[first]);
            for (std::size_t tile = first; tile < end; ++tile)
                for (std::size_t plane = 0; plane < band.source.size(); ++plane)
                    band.jobs->submit(tile * band.source.size() + plane,
                                      [this, &band, &part = tiles_[tile], plane](PoolWorker& worker) {
                                          enlargeTile(band, part, plane, worker);
                                      });
            first = end;
        }
        for (std::size_t k = count >= bands_.size() ? count - bands_.size() : 0; k < count; ++k)
            deliver(bands_[k % bands_.size()]);
        sink_.finish();
    }

private:
    // The band's source rows: those the band before read already, then new ones.
    void read(Band& band, const Band* before, const FrameTile& first) {
        band.ownTop = first.own.y;
        band.ownRows = first.own.height;
        band.sourceTop = first.enlarged.y;
        band.sourceRows = first.enlarged.height;
        for (std::size_t plane = 0; plane < band.source.size(); ++plane) {
            resize(band.source[plane], width_, band.sourceRows);
            // Whole rows are enlarged into it by the module, which sizes it.
            if (!wholeRows_) resize(band.enlarged[plane], 2 * width_, 2 * band.sourceRows);
            else if (band.enlarged[plane] == nullptr) band.enlarged[plane] = std::make_unique<FrameBitmap>(0, 0);
        }
        std::int32_t row = band.sourceTop;
        if (before != nullptr) {
            const std::int32_t kept = before->sourceTop + before->sourceRows - row;
            for (std::size_t plane = 0; plane < band.source.size(); ++plane)
                copyRows(*before->source[plane], row - before->sourceTop, 0, *band.source[plane], 0, 0, width_, kept);
            row += kept;
        }
        std::vector<FrameBitmap*> planes;
        for (auto& plane : band.source) planes.push_back(plane.get());
        const std::int32_t end = band.sourceTop + band.sourceRows;
        if (end > row) source_.readRows(planes, row - band.sourceTop, end - row);
    }

    void enlargeTile(Band& band, const FrameTile& tile, std::size_t plane, PoolWorker& worker) const {
        FrameBitmap& destination = *band.enlarged[plane];
        if (wholeRows_) {
            // The band is the tile: no copies either way.
            return worker.instance().enlargeInto(*band.source[plane], destination, 1);
        }
        const SourceRect& region = tile.enlarged;
        FrameBitmap& part = worker.scratch(region.width, region.height);
        copyRows(*band.source[plane], 0, region.x, part, 0, 0, region.width, region.height);
        const FrameBitmap& enlarged = worker.instance().enlarge(part, 1);
        // Only the tile's own columns: the halo's enlargement belongs to its neighbours.
        copyRows(enlarged, 0, 2 * (tile.own.x - region.x), destination, 0, 2 * tile.own.x, 2 * tile.own.width,
                 2 * region.height);
    }

    void deliver(Band& band) {
        band.jobs->wait();
        band.jobs->rethrow();
        std::vector<const FrameBitmap*> planes;
        for (auto& plane : band.enlarged) planes.push_back(plane.get());
        sink_.writeRows(planes, 2 * (band.ownTop - band.sourceTop), 2 * band.ownRows);
        if (progress_ != nullptr) progress_->advance(band.ownRows);
    }

    PictureSource& source_;
    PictureSink& sink_;
    Progress* const progress_;
    const std::int32_t width_;
    const std::int32_t height_;
    const std::vector<FrameTile> tiles_;
    std::vector<Band> bands_;
    const bool wholeRows_;  // one tile a band
};

}  // namespace

BandShape pictureBandShape(std::int32_t width, std::int32_t height, int instances) {
    const std::int32_t columns = ceilDivide(width, kMaxTileWidth);
    const std::int64_t byPixels = std::max<std::int64_t>(kBandPixels / width, 1);
    const std::int32_t perInstance = ceilDivide(height, std::max(instances, 1) * kBandsPerInstance);
    const std::int32_t rows = static_cast<std::int32_t>(std::min<std::int64_t>(byPixels, perInstance));
    return {ceilDivide(width, columns), std::clamp(rows, std::min(kMinBandRows, height), kMaxTileHeight)};
}

void enlargePicture(PictureSource& source, PictureSink& sink, InstancePool& pool, BandShape shape, Progress* progress) {
    if (progress != nullptr) progress->setTotal(source.height());
    BandedPicture(source, sink, pool, shape, progress).run();
}

void enlargePicture(PictureSource& source, PictureSink& sink, InstancePool& pool) {
    enlargePicture(source, sink, pool, pictureBandShape(source.width(), source.height(), pool.size()));
}

}  // namespace crest::cli
