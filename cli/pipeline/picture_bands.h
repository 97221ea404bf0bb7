// Enlarging one picture in bands of rows, from a decoder to an encoder,
// across the instances of a pool.
#pragma once

#include <cstdint>
#include <span>

#include "cli/base/progress.h"
#include "cli/hosting/frame_bitmap.h"
#include "cli/pipeline/instance_pool.h"

namespace crest::cli {

// A picture read top to bottom, as planes of blue, green, red, 0 pixels:
// the colour, then the alpha as a grey picture when there is one.
class PictureSource {
public:
    virtual ~PictureSource() = default;
    virtual std::int32_t width() const = 0;
    virtual std::int32_t height() const = 0;
    virtual int planeCount() const = 0;
    // The next `count` rows of every plane into rows [at, at + count) of planes[i].
    // Throws CommandError.
    virtual void readRows(std::span<FrameBitmap* const> planes, std::int32_t at, std::int32_t count) = 0;
};

// Where the enlargement goes, top to bottom.
class PictureSink {
public:
    virtual ~PictureSink() = default;
    // The next `count` rows of the enlargement: rows [at, at + count) of each plane.
    virtual void writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) = 0;
    // After the last row; the output is complete only then.
    virtual void finish() = 0;
};

// Tiles of at most tileWidth source pixels across, in bands of bandRows.
struct BandShape {
    std::int32_t tileWidth = 0;
    std::int32_t bandRows = 0;
};

// Bands of about two million source pixels, and at least two per instance
// where the picture has the rows (the halo then costs under a tenth of the
// work); tiles across only where a band is wider than a frame.
BandShape pictureBandShape(std::int32_t width, std::int32_t height, int instances);

// Reads the source band by band, enlarges each band's tiles on the pool (each
// tile a frame of its own for the module, with the halo of
// engine/frame_tiles.h around the part it delivers, so the parts put together
// are the whole picture's enlargement word for word) and hands the bands to
// the sink in order while later ones are enlarged. One more band than the
// pool has instances is in memory at a time. Throws the error of the
// earliest band that failed, once no job touches the bands any more; the
// sink is then not finished. With a progress, its units are source rows
// delivered, and a cancelled job stops before its next band.
void enlargePicture(PictureSource& source, PictureSink& sink, InstancePool& pool, BandShape shape,
                    Progress* progress = nullptr);
void enlargePicture(PictureSource& source, PictureSink& sink, InstancePool& pool);

}  // namespace crest::cli
