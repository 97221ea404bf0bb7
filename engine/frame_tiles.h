// Splitting a frame into tiles that are enlarged independently and give,
// together, exactly the whole frame's output.
#pragma once

#include <cstdint>
#include <vector>

namespace crest {

// Source pixels of halo around a tile on every side that is not a frame
// border. Where the radius comes from, in destination pixels from a cut edge:
// - A diagonal target reads lattice neighbours at +-1; its window nodes reach
//   +-7 and clamp once one leaves the inner frame (2 pixels inside the edge),
//   so diagonal targets 9 or more pixels inside the cut are exact.
// - An axial target's window nodes reach 7 pixels (|dx| + |dy| <= 7) and its
//   samples read training neighbours 2 further, 9 in all; those reads include
//   diagonal results. A target in the ring along a real frame border (row or
//   column 1, H - 2 or W - 2) lies outside the inner frame itself, so its
//   whole window is clamped 2 pixels inward: it reads diagonal results up to
//   11 away. Exact reads then need the target 11 + 9 = 20 pixels inside the
//   cut, 19 on the cut's own parity.
// - Lattice pixels are always exact; the ring that the cut gives the tile lies
//   within its first 2 pixels.
// 20 destination pixels are 10 source pixels; 9 is measurably too few.
inline constexpr std::int32_t kTileHalo = 10;

struct SourceRect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;

    bool operator==(const SourceRect&) const = default;
};

struct FrameTile {
    SourceRect own;       // the part of the frame this tile delivers
    SourceRect enlarged;  // own grown by the halo, clipped to the frame: what is enlarged
};

// Tiles of at most tileWidth x tileHeight source pixels (at least 1 each)
// covering a width x height frame, row by row; the last in a row or column
// takes what is left.
std::vector<FrameTile> frameTiles(std::int32_t width, std::int32_t height, std::int32_t tileWidth,
                                  std::int32_t tileHeight);

// Full-width strips for `count` workers: at least `count` strips (when the
// frame has the rows), none over maxRows, each at least minRows where possible.
std::vector<FrameTile> frameStrips(std::int32_t width, std::int32_t height, std::int32_t count, std::int32_t minRows,
                                   std::int32_t maxRows);

// The full-width strip of a width x height frame whose enlargement holds
// destination rows [top, bottom): the source rows under them, with the halo.
// A frame doubled again takes each pass's rows this way from the one before.
FrameTile stripForRows(std::int32_t width, std::int32_t height, std::int32_t top, std::int32_t bottom);

}  // namespace crest
