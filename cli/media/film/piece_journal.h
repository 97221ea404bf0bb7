// The work folder of a film enlarged in pieces, beside its OUTPUT: the
// pieces, one journal entry per finished piece, and the fingerprint of what
// they were made from. An entry file is written whole through a rename, so
// that tasks on several machines can add theirs side by side, and a piece
// counts only when its entry is there and the piece still matches it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/media/film/libav_handles.h"
#include "cli/media/film/piece_encoder.h"

namespace crest::cli {

struct PieceEntry {
    std::int64_t index = 0;
    std::int64_t firstFrame = 0;  // of the selection
    PieceFacts facts;
    bool last = false;  // the film ends in it
};

// A piece as read back: its packets' presentation times, earliest first.
struct CheckedPiece {
    PieceEntry entry;
    std::vector<std::int64_t> sortedPts;
};

class PieceJournal {
public:
    // The folder for output: .NAME.parts beside it.
    static std::string folderFor(const std::string& output);

    explicit PieceJournal(std::string folder) : folder_(std::move(folder)) {}
    const std::string& folder() const { return folder_; }
    std::string piecePath(std::int64_t index) const;

    // Makes the folder if need be and binds it to fingerprint. When it holds
    // work from another fingerprint, empties it when allowed (and returns
    // why), or throws CommandError saying why. Empty when nothing was lost.
    std::string adopt(const std::string& fingerprint, bool mayEmpty);
    void remove() const;

    // Writes the entry of a finished piece, flushed. Throws CommandError.
    void record(const PieceEntry& entry) const;
    // The piece whose entry is there, parses and still matches the piece
    // file, whose video has the stream parameters `expected`; empty
    // otherwise, with the reason in `why` when there was an entry.
    std::optional<CheckedPiece> check(std::int64_t index, const AVCodecParameters& expected, AVRational timeBase,
                                      std::string& why) const;
    // The indices of the entries there, whatever they hold.
    std::vector<std::int64_t> listedPieces() const;

private:
    std::string entryPath(std::int64_t index) const;
    std::string folder_;
};

}  // namespace crest::cli
