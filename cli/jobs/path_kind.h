// What a path on the command line stands for, chosen by its extension.
#pragma once

#include <string>

namespace crest::cli {

enum class PathKind {
    image,  // one picture in a format of cli/picture_formats.h
    video,  // a film in a container (.mkv .mp4 .mov .webm .avi .ts ...) or an
            // image sequence pattern such as frames/%06d.png
    raw,    // anything else, and "-": 32-bit BGRA frames
};

// The extension after the last dot of the file name, lower case, without the
// dot; empty when there is none.
std::string lowerExtension(const std::string& path);

// True for a printf-style frame number in the file name: %d or %0Nd.
bool isImageSequencePattern(const std::string& path);

bool isImageExtension(const std::string& extension);
bool isVideoExtension(const std::string& extension);

PathKind kindOfPath(const std::string& path);

// For --help: how a path's kind is chosen.
std::string pathKindHelp();

}  // namespace crest::cli
