// The C API: argument checks, then the strips; engine outcomes become codes only here.
#include "crestdoubler.h"

#include <climits>
#include <cstdint>
#include <new>
#include <thread>

#include "engine/positions.h"
#include "lib/pixel_formats.h"
#include "lib/result_codes.h"
#include "lib/tiled_enlarger.h"

// The header's limits are the engine's, written out for C callers.
static_assert(CRESTDOUBLER_MAX_WIDTH == crest::kMaxDestinationWidth / 2);
static_assert((1 << (CRESTDOUBLER_MAX_PASSES - 1)) <= CRESTDOUBLER_MAX_WIDTH &&
              (1 << CRESTDOUBLER_MAX_PASSES) > CRESTDOUBLER_MAX_WIDTH);

// A macro's value as a string literal, for the messages.
#define CREST_DECIMAL_OF(value) #value
#define CREST_DECIMAL(macro) CREST_DECIMAL_OF(macro)

namespace {

using crest::library::ImageRows;

std::uint64_t magnitude(std::ptrdiff_t value) {
    return value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

// Whether every row start of an image lies within the address range.
bool rowsAddressable(std::ptrdiff_t stride, std::int64_t rows) {
    return magnitude(stride) <= static_cast<std::uint64_t>(PTRDIFF_MAX) / static_cast<std::uint64_t>(rows);
}

int workerCount(int threads) {
    if (threads > 0) return threads;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores > 1024 ? 1024 : cores);
}

}  // namespace

extern "C" int crestdoubler_enlarge_pow2(const void* src, int width, int height, ptrdiff_t src_stride, void* dst,
                                         ptrdiff_t dst_stride, crestdoubler_format format, int passes, int threads) {
    const crest::library::FormatLayout* layout = crest::library::layoutOf(format);
    if (src == nullptr || dst == nullptr || layout == nullptr || width < 1 || height < 1 || threads < 0 ||
        passes < 1 || passes > CRESTDOUBLER_MAX_PASSES)
        return CRESTDOUBLER_ERROR_ARGUMENT;
    if (width > (CRESTDOUBLER_MAX_WIDTH >> (passes - 1)) || height > (INT_MAX >> passes))
        return CRESTDOUBLER_ERROR_TOO_LARGE;
    const std::int64_t scale = std::int64_t{1} << passes;
    if (magnitude(src_stride) < static_cast<std::uint64_t>(layout->bytes) * static_cast<std::uint64_t>(width) ||
        magnitude(dst_stride) < static_cast<std::uint64_t>(scale * layout->bytes * width))
        return CRESTDOUBLER_ERROR_ARGUMENT;
    if (!rowsAddressable(src_stride, height) || !rowsAddressable(dst_stride, scale * height))
        return CRESTDOUBLER_ERROR_TOO_LARGE;
    try {
        // The source is only read.
        const ImageRows source{static_cast<std::uint8_t*>(const_cast<void*>(src)), src_stride};
        const ImageRows destination{static_cast<std::uint8_t*>(dst), dst_stride};
        return crest::library::resultCodeOf(crest::library::enlargeInStrips(format, source, width, height, destination,
                                                                            passes, workerCount(threads)));
    } catch (...) {
        return CRESTDOUBLER_ERROR_MEMORY;
    }
}

extern "C" int crestdoubler_enlarge(const void* src, int width, int height, ptrdiff_t src_stride, void* dst,
                                    ptrdiff_t dst_stride, crestdoubler_format format, int threads) {
    return crestdoubler_enlarge_pow2(src, width, height, src_stride, dst, dst_stride, format, 1, threads);
}

extern "C" const char* crestdoubler_strerror(int code) {
    switch (code) {
        case CRESTDOUBLER_OK: return "success";
        case CRESTDOUBLER_ERROR_ARGUMENT:
            return "invalid argument (null pointer, size below 1, stride below a row, unknown format, or passes "
                   "outside 1 to " CREST_DECIMAL(CRESTDOUBLER_MAX_PASSES) ")";
        case CRESTDOUBLER_ERROR_TOO_LARGE:
            return "image too large (wider than " CREST_DECIMAL(CRESTDOUBLER_MAX_WIDTH) " before its last doubling, "
                   "or a size or stride beyond what can be addressed)";
        case CRESTDOUBLER_ERROR_MEMORY: return "out of memory";
        case CRESTDOUBLER_ERROR_INTERNAL: return "internal error: the engine refused a frame the library passed it";
        default: return "unknown error code";
    }
}

extern "C" const char* crestdoubler_version(void) { return CRESTDOUBLER_VERSION_STRING; }
