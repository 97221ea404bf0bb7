#include "cli/media/film/piece_series.h"

#include <algorithm>

#include "cli/media/film/fault_points.h"

namespace crest::cli {

PieceSeries::PieceSeries(const VideoEncoding& encoding, const AVStream& video, const PieceJournal& journal,
                         std::int64_t length, std::int64_t first, std::int64_t end, std::string output)
    : encoding_(encoding),
      timeBase_(video.time_base),
      frameRate_(video.avg_frame_rate),
      journal_(journal),
      length_(length),
      end_(end),
      index_(first),
      output_(std::move(output)) {}

void PieceSeries::writeFrame(const FrameBitmap& frame, const FrameTiming& timing) {
    if (static_cast<std::int64_t>(times_.size()) == length_) {
        close(false);
        ++index_;
    }
    if (end_ >= 0 && index_ >= end_) return;
    if (encoder_ == nullptr)
        encoder_ = std::make_unique<PieceEncoder>(encoding_, timeBase_, frameRate_, journal_.piecePath(index_),
                                                  output_ + ": piece " + std::to_string(index_));
    encoder_->write(frame, timing);
    times_.push_back(timing.pts);
}

void PieceSeries::finish() {
    if (encoder_ != nullptr) close(end_ < 0);
}

void PieceSeries::close(bool last) {
    const PieceFacts facts = encoder_->finish();
    encoder_.reset();
    // Between the piece on the disk and its entry: the piece does not count yet.
    faultPoint("piece-flushed", index_);
    const PieceEntry entry{index_, index_ * length_, facts, last};
    journal_.record(entry);
    std::sort(times_.begin(), times_.end());
    made_.push_back(CheckedPiece{entry, std::move(times_)});
    times_.clear();
}

}  // namespace crest::cli
