#include "cli/base/scale.h"

#include <algorithm>
#include <cmath>

#include "cli/base/command_error.h"

namespace crest::cli {

namespace {

std::string sizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::int64_t proportional(std::int64_t given, std::int64_t from, std::int64_t to) {
    return std::llround(static_cast<double>(given) * static_cast<double>(to) / static_cast<double>(from));
}

}  // namespace

FrameSize doubledSize(FrameSize source, int passes) {
    return {source.width << passes, source.height << passes};
}

Enlargement planEnlargement(const ScaleRequest& request, FrameSize source, const std::string& name) {
    Enlargement plan;
    if (!request.hasTarget()) {
        plan.passes = request.factor == 8 ? 3 : request.factor == 4 ? 2 : 1;
        return plan;
    }
    const std::int64_t width =
        request.width ? *request.width
                      : std::max<std::int64_t>(1, proportional(*request.height, source.height, source.width));
    const std::int64_t height =
        request.height ? *request.height
                       : std::max<std::int64_t>(1, proportional(*request.width, source.width, source.height));
    if (width < source.width || height < source.height)
        throw CommandError("the target " + sizeText(width, height) + " is smaller than " + name + ", " +
                               sizeText(source.width, source.height) + "; crestdoubler only enlarges",
                           ExitStatus::usage);
    plan.passes = 1;
    while (plan.passes <= kMaxPasses && (std::int64_t{source.width} << plan.passes < width ||
                                         std::int64_t{source.height} << plan.passes < height))
        ++plan.passes;
    if (plan.passes > kMaxPasses)
        throw CommandError("the target " + sizeText(width, height) + " is more than " +
                               std::to_string(1 << kMaxPasses) + " times " + name + ", " +
                               sizeText(source.width, source.height),
                           ExitStatus::usage);
    const FrameSize doubled = doubledSize(source, plan.passes);
    if (doubled.width != width || doubled.height != height)
        plan.target = FrameSize{static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
    return plan;
}

FrameSize outputSize(const Enlargement& enlargement, FrameSize source) {
    return enlargement.target ? *enlargement.target : doubledSize(source, enlargement.passes);
}

}  // namespace crest::cli
