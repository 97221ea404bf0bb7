// One piece of an enlarged film: a run of frames encoded from a key frame
// by a fresh encoder into a NUT file of its own (NUT keeps the source's
// time base exactly and has no edit lists), flushed to the disk when done.
#pragma once

#include <cstdint>
#include <string>

#include "cli/base/temporary_output.h"
#include "cli/hosting/frame_bitmap.h"
#include "cli/media/film/file_digest.h"
#include "cli/media/film/libav_handles.h"
#include "cli/media/film/pixel_converter.h"
#include "cli/media/film/video_encoding.h"
#include "cli/pipeline/frame_stream.h"

namespace crest::cli {

// What a finished piece holds, as its journal entry records it.
struct PieceFacts {
    std::int64_t frames = 0;
    std::int64_t firstPts = 0;  // earliest presentation time, in the video's time base
    std::int64_t lastPts = 0;   // latest
    std::int64_t endPts = 0;    // when the latest frame ends
    FileDigest file;
};

class PieceEncoder {
public:
    // Writes into a temporary file beside path. Throws CommandError whose
    // message begins with label.
    PieceEncoder(const VideoEncoding& encoding, AVRational timeBase, AVRational frameRate, std::string path,
                 std::string label);

    void write(const FrameBitmap& bitmap, const FrameTiming& timing);
    // Drains the encoder, closes the file, flushes it to the disk and renames
    // it to path. Throws CommandError.
    PieceFacts finish();

private:
    [[noreturn]] void fail(const std::string& problem, int status) const;
    void encode(AVFrame* picture);

    TemporaryOutput output_;  // first, so that the file is closed before it is removed
    CodecHandle encoder_;
    OutputHandle muxer_;
    AVStream* stream_ = nullptr;
    Frame picture_;
    Packet packet_;
    PixelConverter converter_;
    PieceFacts facts_;
    std::string label_;
};

}  // namespace crest::cli
