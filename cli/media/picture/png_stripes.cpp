#include "cli/media/picture/png_stripes.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <stdexcept>
#include <thread>
#include <vector>

namespace crest::cli {

namespace {

constexpr int kLevel = 3;

int paeth(int left, int up, int upLeft) {
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) return left;
    return toUp <= toUpLeft ? up : upLeft;
}

// Sum of the bytes taken as signed, in magnitude: libpng's measure of a filtered row.
std::uint64_t signedSum(const std::uint8_t* bytes, std::size_t count) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += bytes[i] < 128 ? bytes[i] : 256 - bytes[i];
    return sum;
}

// One row filtered by each of the five filters; the one whose bytes sum
// smallest in magnitude is kept, as libpng's adaptive filtering does.
void filterRow(const std::uint8_t* row, const std::uint8_t* previous, std::size_t rowBytes, int bands,
               std::vector<std::uint8_t>& trial, std::uint8_t* out) {
    const auto lead = std::min<std::size_t>(static_cast<std::size_t>(bands), rowBytes);
    std::uint8_t* candidate = trial.data();
    std::uint64_t bestSum = UINT64_MAX;
    auto keep = [&](int filter) {
        const std::uint64_t sum = signedSum(candidate, rowBytes);
        if (sum >= bestSum) return;
        bestSum = sum;
        out[0] = static_cast<std::uint8_t>(filter);
        std::copy(candidate, candidate + rowBytes, out + 1);
    };
    std::copy(row, row + rowBytes, candidate);
    keep(0);
    for (std::size_t i = 0; i < lead; ++i) candidate[i] = row[i];
    for (std::size_t i = lead; i < rowBytes; ++i) candidate[i] = static_cast<std::uint8_t>(row[i] - row[i - bands]);
    keep(1);
    if (previous == nullptr) {
        // Without a row above, up is none and average and Paeth are sub's halves.
        for (std::size_t i = 0; i < lead; ++i) candidate[i] = row[i];
        for (std::size_t i = lead; i < rowBytes; ++i) candidate[i] = static_cast<std::uint8_t>(row[i] - row[i - bands] / 2);
        keep(3);
        return;
    }
    for (std::size_t i = 0; i < rowBytes; ++i) candidate[i] = static_cast<std::uint8_t>(row[i] - previous[i]);
    keep(2);
    for (std::size_t i = 0; i < lead; ++i) candidate[i] = static_cast<std::uint8_t>(row[i] - previous[i] / 2);
    for (std::size_t i = lead; i < rowBytes; ++i)
        candidate[i] = static_cast<std::uint8_t>(row[i] - (row[i - bands] + previous[i]) / 2);
    keep(3);
    for (std::size_t i = 0; i < lead; ++i) candidate[i] = static_cast<std::uint8_t>(row[i] - previous[i]);
    for (std::size_t i = lead; i < rowBytes; ++i)
        candidate[i] = static_cast<std::uint8_t>(row[i] - paeth(row[i - bands], previous[i], previous[i - bands]));
    keep(4);
}

}  // namespace

PngStripe deflatePngStripe(const std::uint8_t* rows, const std::uint8_t* rowAbove, std::int32_t rowCount,
                           std::size_t rowBytes, int bands, bool last) {
    std::vector<std::uint8_t> filtered((rowBytes + 1) * static_cast<std::size_t>(rowCount));
    std::vector<std::uint8_t> trial(rowBytes);
    for (std::int32_t r = 0; r < rowCount; ++r) {
        const std::uint8_t* row = rows + rowBytes * static_cast<std::size_t>(r);
        filterRow(row, r > 0 ? row - rowBytes : rowAbove, rowBytes, bands, trial,
                  filtered.data() + (rowBytes + 1) * static_cast<std::size_t>(r));
    }
    PngStripe stripe;
    stripe.length = filtered.size();
    stripe.adler = static_cast<std::uint32_t>(
        adler32(adler32(0, nullptr, 0), filtered.data(), static_cast<uInt>(filtered.size())));
    z_stream stream{};
    // Raw deflate: the zlib header and checksum are written around the joined stripes.
    if (deflateInit2(&stream, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("cannot start zlib");
    stripe.deflated.resize(deflateBound(&stream, filtered.size()) + 16);
    stream.next_in = filtered.data();
    stream.avail_in = static_cast<uInt>(filtered.size());
    stream.next_out = reinterpret_cast<Bytef*>(stripe.deflated.data());
    stream.avail_out = static_cast<uInt>(stripe.deflated.size());
    const int status = deflate(&stream, last ? Z_FINISH : Z_FULL_FLUSH);
    const bool done = last ? status == Z_STREAM_END : status == Z_OK && stream.avail_in == 0;
    stripe.deflated.resize(stream.total_out);
    stripe.deflated.shrink_to_fit();
    deflateEnd(&stream);
    if (!done) throw std::runtime_error("zlib could not deflate a stripe");
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
    appendBigEndian32(out, static_cast<std::uint32_t>(
                               crc32(0, reinterpret_cast<const Bytef*>(out.data() + start), static_cast<uInt>(length + 4))));
}

}  // namespace

std::int32_t pngStripeRows(std::size_t rowBytes, std::size_t stripeBytes) {
    return static_cast<std::int32_t>(std::max<std::size_t>(1, stripeBytes / (rowBytes + 1)));
}

std::string PngImageDataJoiner::chunkOf(PngStripe& stripe, bool last) {
    std::string& data = stripe.deflated;
    // The zlib header of level 3 ("fast" in its level field).
    if (first_) data.insert(0, "\x78\x5e", 2);
    first_ = false;
    adler_ = static_cast<std::uint32_t>(adler32_combine(adler_, stripe.adler, static_cast<z_off_t>(stripe.length)));
    if (last) appendBigEndian32(data, adler_);
    std::string chunk;
    chunk.reserve(data.size() + 12);
    appendChunk(chunk, "IDAT", data.data(), data.size());
    return chunk;
}

std::string pngImageData(const std::uint8_t* samples, std::int32_t width, std::int32_t height, int bands, int threads,
                         std::size_t stripeBytes) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(bands);
    const std::int32_t rowsEach = pngStripeRows(rowBytes, stripeBytes);
    const std::size_t count = static_cast<std::size_t>((height + rowsEach - 1) / rowsEach);
    std::vector<PngStripe> stripes(count);
    std::atomic<std::size_t> next = 0;
    std::atomic<bool> failed = false;
    auto work = [&] {
        for (std::size_t i; (i = next++) < count;) {
            const std::int32_t y = static_cast<std::int32_t>(i) * rowsEach;
            const std::uint8_t* rows = samples + rowBytes * static_cast<std::size_t>(y);
            try {
                stripes[i] = deflatePngStripe(rows, y > 0 ? rows - rowBytes : nullptr, std::min(rowsEach, height - y),
                                              rowBytes, bands, i + 1 == count);
            } catch (...) {
                failed = true;
            }
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t threadCount = std::min<std::size_t>(static_cast<std::size_t>(std::max(threads, 1)), count);
    for (std::size_t i = 1; i < threadCount; ++i) helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers) helper.join();
    if (failed) throw std::runtime_error("zlib could not deflate the image data");

    PngImageDataJoiner joiner;
    std::string chunks;
    for (std::size_t i = 0; i < count; ++i) {
        chunks += joiner.chunkOf(stripes[i], i + 1 == count);
        std::string().swap(stripes[i].deflated);
    }
    return chunks;
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
