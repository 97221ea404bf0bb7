// The five PNG row filters and libpng's adaptive choice among them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crest::cli {

enum class PngFilter : std::uint8_t { none = 0, sub = 1, up = 2, average = 3, paeth = 4 };

// One row of rowBytes (bands bytes a pixel) filtered into out. previous is
// the row above, null for the picture's first row, which filters against
// zeros. Returns the sum of the filtered bytes taken as signed, in magnitude.
std::uint64_t filterPngRowWith(PngFilter filter, const std::uint8_t* row, const std::uint8_t* previous,
                               std::size_t rowBytes, int bands, std::uint8_t* out);

// The row as libpng's adaptive filtering writes it: the filter whose bytes
// sum smallest (the first in filter order on a tie), its type byte, then its
// rowBytes bytes. scratch holds rowBytes bytes.
void filterPngRow(const std::uint8_t* row, const std::uint8_t* previous, std::size_t rowBytes, int bands,
                  std::uint8_t* out, std::uint8_t* scratch);

}  // namespace crest::cli
