#include "cli/web/web_job.h"

#include <array>

namespace crest::cli {

namespace {

constexpr std::array<const char*, 5> kStateNames = {"queued", "running", "done", "failed", "cancelled"};

}  // namespace

const char* nameOf(WebJobState state) { return kStateNames[static_cast<std::size_t>(state)]; }

std::optional<WebJobState> webJobStateNamed(const std::string& name) {
    for (std::size_t i = 0; i < kStateNames.size(); ++i)
        if (name == kStateNames[i]) return static_cast<WebJobState>(i);
    return std::nullopt;
}

std::string resultNameOf(const WebJobRequest& request) {
    const auto dot = request.name.find_last_of('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? request.name : request.name.substr(0, dot);
    const ScaleRequest& scale = request.settings.scale;
    const std::string size = scale.width ? std::to_string(*scale.width) + "w" : std::to_string(scale.factor) + "x";
    return stem + "-" + size + "." + request.format;
}

}  // namespace crest::cli
