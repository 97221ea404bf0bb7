// What a picture file is by its first bytes, and whether its own framing says
// it ends before its last byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cli/media/picture/picture_formats.h"

namespace crest::cli {

std::uint32_t bigEndian32(const std::uint8_t* bytes);
std::uint32_t littleEndian32(const std::uint8_t* bytes);

// The format whose signature the bytes start with, or null.
const PictureFormat* formatOfBytes(const std::uint8_t* bytes, std::size_t size);

// Whether the last of a HEIF file's boxes runs past its end.
bool heifBoxesEndEarly(const std::uint8_t* bytes, std::size_t size);

}  // namespace crest::cli
