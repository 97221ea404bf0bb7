// Enlarging one picture in tiles across filter instances.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "cli/hosting/filter_host.h"

namespace crest::cli {

// Most source pixels a tile delivers across and down.
struct TileShape {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Tiles for a width x height picture on `instances` instances: one tile when
// one instance can take the picture whole, else about two full-width bands
// per instance (some columns for pictures wider than a frame), so the halo
// stays a small share of the work.
TileShape pictureTileShape(std::int32_t width, std::int32_t height, int instances);

// Filter instances, made when first needed and kept for the next picture,
// that enlarge the planes of a picture tile by tile, one thread per instance.
// Each tile is a frame of its own for the module, with the halo of
// engine/frame_tiles.h around the part it delivers, so the parts put
// together are the whole picture's enlargement word for word.
class PictureTileEnlarger {
public:
    PictureTileEnlarger(const FilterModule& module, int instances);
    ~PictureTileEnlarger();
    PictureTileEnlarger(const PictureTileEnlarger&) = delete;
    PictureTileEnlarger& operator=(const PictureTileEnlarger&) = delete;

    // Enlarges each of planes (of one size: the colour, the alpha as grey)
    // into the destination of the same index, made twice its size. Throws the
    // error of the earliest tile that failed.
    void enlarge(std::span<FrameBitmap* const> planes, std::span<FrameBitmap* const> destinations, TileShape shape);
    void enlarge(std::span<FrameBitmap* const> planes, std::span<FrameBitmap* const> destinations);

private:
    struct Worker;

    const FilterModule& module_;
    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace crest::cli
