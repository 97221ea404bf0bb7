#include "cli/media/film/fault_points.h"

#include <csignal>
#include <cstdlib>
#include <string>

namespace crest::cli {

void faultPoint(const char* name, std::int64_t count) {
    static const char* const wanted = std::getenv("CRESTDOUBLER_KILL_AT");
    if (wanted == nullptr) return;
    const std::string point = std::string(name) + ":" + std::to_string(count);
    const std::string text = wanted;
    if (text == point) std::raise(SIGKILL);
    if (text.starts_with(point + ":")) std::raise(std::atoi(text.c_str() + point.size() + 1));
}

}  // namespace crest::cli
