#include "cli/jobs/path_kind.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "cli/media/picture/picture_formats.h"

namespace crest::cli {

namespace {

constexpr std::array<std::string_view, 16> kVideoExtensions = {
    "mkv", "mp4", "m4v", "mov", "webm", "avi", "ts", "m2ts", "mts", "mpg", "mpeg", "nut", "flv", "y4m",
    "mka", "ogv"};

std::string_view fileNameOf(std::string_view path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& list, const std::string& extension) {
    return std::find(list.begin(), list.end(), extension) != list.end();
}

}  // namespace

std::string lowerExtension(const std::string& path) {
    const std::string_view name = fileNameOf(path);
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool isImageSequencePattern(const std::string& path) {
    const std::string_view name = fileNameOf(path);
    for (std::size_t at = name.find('%'); at != std::string_view::npos; at = name.find('%', at + 1)) {
        std::size_t end = at + 1;
        while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
        if (end < name.size() && name[end] == 'd') return true;
    }
    return false;
}

bool isImageExtension(const std::string& extension) { return pictureFormatOfExtension(extension) != nullptr; }
bool isVideoExtension(const std::string& extension) { return contains(kVideoExtensions, extension); }

PathKind kindOfPath(const std::string& path) {
    if (path == "-") return PathKind::raw;
    const std::string extension = lowerExtension(path);
    if (isVideoExtension(extension)) return PathKind::video;
    if (isImageExtension(extension)) return isImageSequencePattern(path) ? PathKind::video : PathKind::image;
    return PathKind::raw;
}

std::string pathKindHelp() {
    const std::string images = pictureExtensionList(false);
    std::string videos;
    for (const std::string_view extension : kVideoExtensions) videos += " ." + std::string(extension);
    return "A path's kind is chosen by its extension, in any letter case:\n"
           "  image  " + images + "\n"
           "  video  " + videos + ",\n"
           "         and image sequence patterns such as frames/%06d.png\n"
           "  raw     any other path, and - for standard input or output\n";
}

}  // namespace crest::cli
