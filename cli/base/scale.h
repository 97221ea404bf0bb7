// How much larger the output is: 2, 4 or 8 times by repeated doubling, or a
// size of its own, reached by doubling past it and reducing to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/base/frame_size.h"

namespace crest::cli {

// Most doublings a target size may take: 16 times each side.
inline constexpr int kMaxPasses = 4;

struct ScaleRequest {
    int factor = 2;                      // --scale: 2, 4 or 8
    std::optional<std::int32_t> width;   // --width: the output's width
    std::optional<std::int32_t> height;  // --height: the output's height
    bool hasTarget() const { return width.has_value() || height.has_value(); }
};

struct Enlargement {
    int passes = 1;                  // doublings by the module
    std::optional<FrameSize> target;  // then reduced to this size, when it differs
};

// The doublings and the reduction that give what was asked of a source of
// this size: for a target, the fewest doublings that reach it, the side not
// given kept in proportion (rounded to the nearest whole pixel). Throws
// CommandError naming `name` for a target below the source or beyond 16
// times it.
Enlargement planEnlargement(const ScaleRequest& request, FrameSize source, const std::string& name);

// The size after the doublings alone.
FrameSize doubledSize(FrameSize source, int passes);

// The size of the output.
FrameSize outputSize(const Enlargement& enlargement, FrameSize source);

}  // namespace crest::cli
