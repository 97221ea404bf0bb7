// The pieces of an enlarged film put together, packet for packet with their
// own timestamps, with the source's other streams, chapters and metadata.
#pragma once

#include <string>
#include <vector>

#include "cli/media/film/film_reader.h"
#include "cli/media/film/film_settings.h"
#include "cli/media/film/piece_journal.h"

namespace crest::cli {

// Writes output through a temporary file and a rename, flushed to the disk.
// `source` stands where the selection begins; `video` describes the pieces'
// encoded video (every piece was checked to hold it). Throws CommandError.
void joinPieces(FilmReader& source, const FilmSelection& selection, const AVCodecParameters& video,
                const PieceJournal& journal, const std::vector<CheckedPiece>& pieces, const std::string& output);

}  // namespace crest::cli
