// Where a frame of a film lies, found from its packets without decoding them:
// frame N (counting from 0) is the one presented N-th, so it is the packet
// with the N-th earliest presentation timestamp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace crest::cli {

struct FrameLocation {
    std::int64_t pts = 0;     // of the frame, in its stream's time base
    std::int64_t keyPts = 0;  // of the last key frame presented at or before it
};

// Frame `index` of stream `stream` of the film at `path`. Empty when the
// timestamps cannot tell the frames apart (a packet without one, two alike,
// or a container whose clock may jump, like MPEG-TS): then only decoding
// from the start can count the frames. Throws CommandError when the stream
// ends before frame `index`.
std::optional<FrameLocation> locateFrame(const std::string& path, int stream, std::int64_t index);

// The frames of stream `stream` presented at or after fromPts (INT64_MIN:
// all), one per packet, read without decoding. Throws CommandError.
std::int64_t countFramesFrom(const std::string& path, int stream, std::int64_t fromPts);

}  // namespace crest::cli
