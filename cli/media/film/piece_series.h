// Enlarged frames written as consecutive pieces of a fixed number of frames,
// each journaled once it is on the disk, before the next one counts.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cli/media/film/piece_encoder.h"
#include "cli/media/film/piece_journal.h"
#include "cli/media/film/video_encoding.h"
#include "cli/pipeline/frame_stream.h"

namespace crest::cli {

class PieceSeries final : public FrameWriter {
public:
    // Pieces first, first + 1, ... up to before `end`, or to the end of the
    // film when end is negative: then the piece the frames end in is the last.
    // Messages name output.
    PieceSeries(const VideoEncoding& encoding, const AVStream& video, const PieceJournal& journal, std::int64_t length,
                std::int64_t first, std::int64_t end, std::string output);

    void writeFrame(const FrameBitmap& frame, const FrameTiming& timing) override;
    void finish() override;

    // The pieces finished so far, in order.
    std::vector<CheckedPiece>& made() { return made_; }

private:
    void close(bool last);

    const VideoEncoding& encoding_;
    AVRational timeBase_;
    AVRational frameRate_;
    const PieceJournal& journal_;
    const std::int64_t length_;
    const std::int64_t end_;
    std::int64_t index_;
    std::unique_ptr<PieceEncoder> encoder_;
    std::vector<std::int64_t> times_;  // of the frames in the open piece
    std::vector<CheckedPiece> made_;
    const std::string output_;
};

}  // namespace crest::cli
