#include "cli/media/picture/png_stripes.h"

#include "cli/media/picture/png_row_filters.h"

#include <zlib.h>

#if CRESTDOUBLER_WITH_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <string>
#include <stdexcept>
#include <vector>

namespace crest::cli {

namespace {

// A thread's buffers, kept from stripe to stripe: its filtered rows, and
// the deflated stripe until it is copied out at its length.
struct StripeBuffers {
    std::vector<std::uint8_t> filtered;
    std::vector<std::uint8_t> scratch;
    std::vector<std::uint8_t> deflated;
    std::vector<std::uint8_t> deflaterState;
};

StripeBuffers& threadBuffers() {
    thread_local StripeBuffers buffers;
    return buffers;
}

#if CRESTDOUBLER_WITH_ISAL
// ISA-L's igzip at its level 1: about seven times zlib's level 3 in speed,
// its output a few percent larger on enlarged pictures (and smaller than
// its levels 2 and 3 make).
constexpr int kLevel = 1;
constexpr std::size_t kLevelBufferBytes = ISAL_DEF_LVL1_DEFAULT;
// The zlib header of the stream ("fastest" in its level field).
constexpr char kZlibHeader[] = "\x78\x01";

std::uint32_t adler(const std::vector<std::uint8_t>& bytes) { return isal_adler32(1, bytes.data(), bytes.size()); }

std::uint32_t chunkCrc(const char* bytes, std::size_t length) {
    return crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(bytes), length);
}

// Raw deflate, ended by a full flush or, for the last stripe, the final block.
std::string deflated(const std::vector<std::uint8_t>& bytes, bool last, StripeBuffers& buffers) {
    buffers.deflaterState.resize(kLevelBufferBytes);
    isal_zstream stream;
    isal_deflate_init(&stream);
    stream.level = kLevel;
    stream.level_buf = buffers.deflaterState.data();
    stream.level_buf_size = static_cast<std::uint32_t>(kLevelBufferBytes);
    stream.flush = FULL_FLUSH;
    stream.end_of_stream = last ? 1 : 0;
    stream.next_in = const_cast<std::uint8_t*>(bytes.data());
    stream.avail_in = static_cast<std::uint32_t>(bytes.size());
    std::vector<std::uint8_t>& out = buffers.deflated;
    out.resize(std::max(out.size(), bytes.size() + bytes.size() / 8 + 1024));
    // igzip returns when the input is spent and flushed, or the output is full.
    for (;;) {
        stream.next_out = out.data() + stream.total_out;
        stream.avail_out = static_cast<std::uint32_t>(out.size() - stream.total_out);
        if (isal_deflate(&stream) != COMP_OK) throw std::runtime_error("ISA-L could not deflate a stripe");
        if (stream.avail_out > 0) break;
        out.resize(2 * out.size());
    }
    if (stream.avail_in != 0 || (last && stream.internal_state.state != ZSTATE_END))
        throw std::runtime_error("ISA-L could not deflate a stripe");
    return {reinterpret_cast<const char*>(out.data()), stream.total_out};
}
#else
// zlib where ISA-L is not built in.
constexpr int kLevel = 3;
// The zlib header of the stream ("fast" in its level field).
constexpr char kZlibHeader[] = "\x78\x5e";

std::uint32_t adler(const std::vector<std::uint8_t>& bytes) {
    return static_cast<std::uint32_t>(adler32(adler32(0, nullptr, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

std::uint32_t chunkCrc(const char* bytes, std::size_t length) {
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes), static_cast<uInt>(length)));
}

// Raw deflate, ended by a full flush or, for the last stripe, the final block.
std::string deflated(const std::vector<std::uint8_t>& bytes, bool last, StripeBuffers& buffers) {
    z_stream stream{};
    if (deflateInit2(&stream, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("cannot start zlib");
    std::vector<std::uint8_t>& out = buffers.deflated;
    out.resize(std::max<std::size_t>(out.size(), deflateBound(&stream, bytes.size()) + 16));
    stream.next_in = const_cast<Bytef*>(bytes.data());
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, last ? Z_FINISH : Z_FULL_FLUSH);
    const bool done = last ? status == Z_STREAM_END : status == Z_OK && stream.avail_in == 0;
    deflateEnd(&stream);
    if (!done) throw std::runtime_error("zlib could not deflate a stripe");
    return {reinterpret_cast<const char*>(out.data()), stream.total_out};
}
#endif

}  // namespace

PngStripe deflatePngStripe(const std::uint8_t* rows, const std::uint8_t* rowAbove, std::int32_t rowCount,
                           std::size_t rowBytes, int bands, bool last) {
    StripeBuffers& buffers = threadBuffers();
    std::vector<std::uint8_t>& filtered = buffers.filtered;
    filtered.resize((rowBytes + 1) * static_cast<std::size_t>(rowCount));
    buffers.scratch.resize(rowBytes);
    for (std::int32_t r = 0; r < rowCount; ++r) {
        const std::uint8_t* row = rows + rowBytes * static_cast<std::size_t>(r);
        filterPngRow(row, r > 0 ? row - rowBytes : rowAbove, rowBytes, bands,
                     filtered.data() + (rowBytes + 1) * static_cast<std::size_t>(r), buffers.scratch.data());
    }
    // Raw deflate: the zlib header and checksum are written around the joined stripes.
    PngStripe stripe;
    stripe.length = filtered.size();
    stripe.adler = adler(filtered);
    stripe.deflated = deflated(filtered, last, buffers);
    return stripe;
}

namespace {

std::uint32_t bigEndian32(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

void appendBigEndian32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void appendChunk(std::string& out, const char* type, const char* data, std::size_t length) {
    appendBigEndian32(out, static_cast<std::uint32_t>(length));
    const std::size_t start = out.size();
    out.append(type, 4);
    out.append(data, length);
    appendBigEndian32(out, chunkCrc(out.data() + start, length + 4));
}

}  // namespace

std::int32_t pngStripeRows(std::size_t rowBytes, std::size_t stripeBytes) {
    return static_cast<std::int32_t>(std::max<std::size_t>(1, stripeBytes / (rowBytes + 1)));
}

std::string PngImageDataJoiner::chunkOf(PngStripe& stripe, bool last) {
    std::string& data = stripe.deflated;
    if (first_) data.insert(0, kZlibHeader, 2);
    first_ = false;
    adler_ = static_cast<std::uint32_t>(adler32_combine(adler_, stripe.adler, static_cast<z_off_t>(stripe.length)));
    if (last) appendBigEndian32(data, adler_);
    std::string chunk;
    chunk.reserve(data.size() + 12);
    appendChunk(chunk, "IDAT", data.data(), data.size());
    return chunk;
}

PngFraming pngFraming(const std::string& png, std::int32_t height) {
    constexpr std::size_t kSignature = 8;
    PngFraming framing{png.substr(0, kSignature), {}};
    bool pastImageData = false;
    for (std::size_t at = kSignature; at + 12 <= png.size();) {
        const std::size_t length = bigEndian32(png.data() + at);
        if (length > png.size() - at - 12) throw std::runtime_error("a chunk runs past the end of the PNG");
        const std::string type = png.substr(at + 4, 4);
        std::string& out = pastImageData ? framing.after : framing.before;
        if (type == "IHDR") {
            std::string header = png.substr(at + 8, length);
            for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<char>((height >> (24 - 8 * i)) & 0xFF);
            appendChunk(out, "IHDR", header.data(), header.size());
        } else if (type == "IDAT") {
            pastImageData = true;
        } else {
            out.append(png, at, length + 12);
        }
        at += length + 12;
    }
    return framing;
}

}  // namespace crest::cli
