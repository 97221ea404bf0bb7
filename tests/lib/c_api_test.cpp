// The C API against the engine's whole frames, format by format.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "crestdoubler.h"
#include "lib/result_codes.h"
#include "tests/support/frame_helpers.h"

namespace crest {
namespace {

using pictures::Content;

struct FormatCase {
    crestdoubler_format format;
    int bytes;
    int blue, green, red, alpha;  // byte positions, -1 when absent
};

constexpr FormatCase kFormats[] = {
    {CRESTDOUBLER_BGRX, 4, 0, 1, 2, -1}, {CRESTDOUBLER_BGRA, 4, 0, 1, 2, 3}, {CRESTDOUBLER_RGBA, 4, 2, 1, 0, 3},
    {CRESTDOUBLER_BGR, 3, 0, 1, 2, -1},  {CRESTDOUBLER_RGB, 3, 2, 1, 0, -1},  {CRESTDOUBLER_GRAY, 1, 0, 0, 0, -1},
};

std::uint8_t byteOf(std::uint32_t pixel, int index) { return static_cast<std::uint8_t>(pixel >> (8 * index)); }

// An image in the caller's layout: rows `padding` bytes longer than needed,
// stored bottom-up when asked; pointer and stride as the API wants them.
struct Image {
    Image(int width, int height, int bytes, int padding, bool bottomUp)
        : rowBytes(width * bytes + padding), data(static_cast<std::size_t>(rowBytes) * height, 0x5A) {
        first = data.data() + (bottomUp ? static_cast<std::ptrdiff_t>(height - 1) * rowBytes : 0);
        stride = bottomUp ? -rowBytes : rowBytes;
    }
    std::uint8_t* at(int x, int y, int bytes) { return first + y * stride + x * bytes; }
    std::ptrdiff_t rowBytes;
    std::vector<std::uint8_t> data;
    std::uint8_t* first;
    std::ptrdiff_t stride;
};

pictures::Picture greyOf(const pictures::Picture& picture) {
    pictures::Picture grey = picture;
    for (std::uint32_t& pixel : grey.pixels) pixel = (pixel & 0xFF) * 0x010101u;
    return grey;
}

// Every format, tall enough for several strips, in all thread counts and layouts.
TEST(CApi, EveryFormatGivesTheEnginesFrames) {
    const auto colour = pictures::makePicture(Content::natural, 45, 300, 31);
    const auto alpha = greyOf(pictures::makePicture(Content::strokes, 45, 300, 32));
    for (const FormatCase& f : kFormats) {
        const bool grey = f.format == CRESTDOUBLER_GRAY;
        const auto expectedColour = testing::enlarge(grey ? greyOf(colour) : colour);
        const auto expectedAlpha = testing::enlarge(alpha);
        for (const int threads : {1, 2, 5, 0})
            for (const bool bottomUp : {false, true}) {
                Image in(colour.width, colour.height, f.bytes, 3, bottomUp);
                for (int y = 0; y < colour.height; ++y)
                    for (int x = 0; x < colour.width; ++x) {
                        std::uint8_t* pixel = in.at(x, y, f.bytes);
                        // Grey reads its one byte; BGRX's fourth byte is noise the API ignores.
                        pixel[f.blue] = byteOf(colour.at(x, y), 0);
                        if (!grey)
                            pixel[f.green] = byteOf(colour.at(x, y), 1), pixel[f.red] = byteOf(colour.at(x, y), 2);
                        if (f.bytes == 4)
                            pixel[3] = f.alpha >= 0 ? byteOf(alpha.at(x, y), 0) : static_cast<std::uint8_t>(x * y);
                    }
                Image out(2 * colour.width, 2 * colour.height, f.bytes, 5, !bottomUp);
                ASSERT_EQ(crestdoubler_enlarge(in.first, colour.width, colour.height, in.stride, out.first, out.stride,
                                               f.format, threads),
                          0);
                int wrong = 0;
                for (int y = 0; y < expectedColour.height; ++y)
                    for (int x = 0; x < expectedColour.width; ++x) {
                        const std::uint8_t* got = out.at(x, y, f.bytes);
                        const std::uint32_t word = expectedColour.at(x, y);
                        bool same = got[f.blue] == byteOf(word, 0);
                        if (!grey) same = same && got[f.green] == byteOf(word, 1) && got[f.red] == byteOf(word, 2);
                        if (f.bytes == 4)
                            same =
                                same && got[3] == (f.alpha >= 0 ? byteOf(expectedAlpha.at(x, y), 0) : byteOf(word, 3));
                        wrong += !same;
                    }
                EXPECT_EQ(wrong, 0) << "format " << f.format << ", " << threads << " threads"
                                    << (bottomUp ? ", bottom-up source" : ", bottom-up destination");
            }
    }
}

// A picture in a format's bytes; the fourth byte (alpha, or what BGRX ignores) from another picture.
std::vector<std::uint8_t> bytesOf(const FormatCase& f, const pictures::Picture& colour,
                                  const pictures::Picture& fourth) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < colour.pixels.size(); ++i) {
        std::uint8_t pixel[4];
        pixel[f.blue] = byteOf(colour.pixels[i], 0), pixel[f.green] = byteOf(colour.pixels[i], 1);
        pixel[f.red] = byteOf(colour.pixels[i], 2), pixel[3] = byteOf(fourth.pixels[i], 0);
        bytes.insert(bytes.end(), pixel, pixel + f.bytes);
    }
    return bytes;
}

// 4x and 8x are 2x of 2x, byte for byte in every format and thread count,
// and fill exactly their rows (padding bytes stay). Tall enough for several
// strips on every pass.
TEST(CApi, RepeatedDoublingIsTheDoublingOfTheDoubling) {
    const auto colour = pictures::makePicture(Content::natural, 23, 140, 41);
    const auto fourth = pictures::makePicture(Content::strokes, 23, 140, 42);
    for (const FormatCase& f : kFormats) {
        const std::vector<std::uint8_t> source = bytesOf(f, colour, fourth);
        std::vector<std::uint8_t> doubled = source;
        int width = colour.width, height = colour.height;
        for (int passes = 1; passes <= 3; ++passes) {
            std::vector<std::uint8_t> next(4 * doubled.size());
            ASSERT_EQ(crestdoubler_enlarge(doubled.data(), width, height, f.bytes * width, next.data(),
                                           2 * f.bytes * width, f.format, 1),
                      0);
            doubled.swap(next);
            width *= 2, height *= 2;
            const std::ptrdiff_t rowBytes = f.bytes * width, stride = rowBytes + 3;
            std::vector<std::uint8_t> expected(static_cast<std::size_t>(stride * height), 0x5A);
            for (int y = 0; y < height; ++y)
                std::memcpy(&expected[static_cast<std::size_t>(y * stride)],
                            &doubled[static_cast<std::size_t>(y * rowBytes)], static_cast<std::size_t>(rowBytes));
            for (const int threads : {1, 2, 5, 0}) {
                std::vector<std::uint8_t> got(expected.size(), 0x5A);
                ASSERT_EQ(crestdoubler_enlarge_pow2(source.data(), colour.width, colour.height, f.bytes * colour.width,
                                                    got.data(), stride, f.format, passes, threads),
                          0);
                EXPECT_TRUE(got == expected) << "format " << f.format << ", " << passes << " passes, " << threads
                                             << " threads";
            }
        }
    }
}

// Callers on several threads at once, each with its own workers, get what
// one caller alone gets: the library keeps nothing between calls.
TEST(CApi, ConcurrentCallersGetTheirOwnFrames) {
    constexpr int kCallers = 4;
    std::vector<pictures::Picture> sources;
    std::vector<std::vector<std::uint32_t>> expected, got(kCallers);
    for (int i = 0; i < kCallers; ++i) {
        sources.push_back(pictures::makePicture(Content::natural, 40 + 7 * i, 150 - 9 * i, 50 + i));
        expected.push_back(testing::enlarge(sources.back()).pixels);
    }
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i)
        callers.emplace_back([&, i] {
            const pictures::Picture& source = sources[static_cast<std::size_t>(i)];
            got[static_cast<std::size_t>(i)].resize(4 * source.pixels.size());
            for (int round = 0; round < 3; ++round)
                EXPECT_EQ(crestdoubler_enlarge(source.pixels.data(), source.width, source.height, 4 * source.width,
                                               got[static_cast<std::size_t>(i)].data(), 8 * source.width,
                                               CRESTDOUBLER_BGRX, 2),
                          0);
        });
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(got, expected);
}

TEST(CApi, RefusesWhatItCannotEnlarge) {
    std::vector<std::uint8_t> in(64), out(256);
    struct Case {
        const char* name;
        const void* src;
        int width, height;
        std::ptrdiff_t srcStride, dstStride;
        int format, threads, code;
        int passes = 1;
    };
    const Case cases[] = {
        {"null source", nullptr, 2, 2, 8, 16, CRESTDOUBLER_BGRX, 1, CRESTDOUBLER_ERROR_ARGUMENT},
        {"zero width", in.data(), 0, 2, 8, 16, CRESTDOUBLER_BGRX, 1, CRESTDOUBLER_ERROR_ARGUMENT},
        {"source stride below a row", in.data(), 2, 2, 7, 16, CRESTDOUBLER_BGRX, 1, CRESTDOUBLER_ERROR_ARGUMENT},
        {"destination stride below a row", in.data(), 2, 2, 6, 11, CRESTDOUBLER_RGB, 1, CRESTDOUBLER_ERROR_ARGUMENT},
        {"unknown format", in.data(), 2, 2, 8, 16, 6, 1, CRESTDOUBLER_ERROR_ARGUMENT},
        {"negative threads", in.data(), 2, 2, 8, 16, CRESTDOUBLER_BGRX, -1, CRESTDOUBLER_ERROR_ARGUMENT},
        {"too wide", in.data(), 24577, 1, 4 * 24577, 8 * 24577, CRESTDOUBLER_BGRX, 1, CRESTDOUBLER_ERROR_TOO_LARGE},
        {"rows beyond the address range", in.data(), 2, 1 << 29, PTRDIFF_MAX / 4, 16, CRESTDOUBLER_BGRX, 1,
         CRESTDOUBLER_ERROR_TOO_LARGE},
        {"no doubling", in.data(), 2, 2, 8, 16, CRESTDOUBLER_BGRX, 1, CRESTDOUBLER_ERROR_ARGUMENT, 0},
        {"more doublings than any width takes", in.data(), 1, 1, 4, 1 << 20, CRESTDOUBLER_BGRX, 1,
         CRESTDOUBLER_ERROR_ARGUMENT, CRESTDOUBLER_MAX_PASSES + 1},
        {"destination stride below a 4x row", in.data(), 2, 2, 8, 31, CRESTDOUBLER_BGRX, 1,
         CRESTDOUBLER_ERROR_ARGUMENT, 2},
        {"too wide for 8x", in.data(), 6145, 1, 4 * 6145, 32 * 6145, CRESTDOUBLER_BGRX, 1,
         CRESTDOUBLER_ERROR_TOO_LARGE, 3},
        {"too wide for 2^15", in.data(), 2, 1, 8, 1 << 18, CRESTDOUBLER_GRAY, 1, CRESTDOUBLER_ERROR_TOO_LARGE,
         CRESTDOUBLER_MAX_PASSES},
        {"too tall for 8x", in.data(), 1, (1 << 28), 4, 32, CRESTDOUBLER_BGRX, 1, CRESTDOUBLER_ERROR_TOO_LARGE, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(crestdoubler_enlarge_pow2(c.src, c.width, c.height, c.srcStride, out.data(), c.dstStride,
                                            static_cast<crestdoubler_format>(c.format), c.passes, c.threads),
                  c.code)
            << c.name;
        EXPECT_EQ(out, std::vector<std::uint8_t>(256, 0)) << c.name;
    }
    std::vector<std::string> messages;
    for (const int code : {CRESTDOUBLER_OK, CRESTDOUBLER_ERROR_ARGUMENT, CRESTDOUBLER_ERROR_TOO_LARGE,
                           CRESTDOUBLER_ERROR_MEMORY, CRESTDOUBLER_ERROR_INTERNAL, -99})
        messages.push_back(crestdoubler_strerror(code));
    for (std::size_t i = 0; i < messages.size(); ++i)
        for (std::size_t j = i + 1; j < messages.size(); ++j) EXPECT_NE(messages[i], messages[j]);
    EXPECT_STREQ(crestdoubler_version(), CRESTDOUBLER_EXPECTED_VERSION);
}

// Each engine outcome keeps its own code, even one this library never meets.
TEST(CApi, EngineOutcomesKeepTheirOwnCodes) {
    EXPECT_EQ(library::resultCodeOf(EnlargeStatus::ok), CRESTDOUBLER_OK);
    EXPECT_EQ(library::resultCodeOf(EnlargeStatus::outOfMemory), CRESTDOUBLER_ERROR_MEMORY);
    EXPECT_EQ(library::resultCodeOf(EnlargeStatus::invalidGeometry), CRESTDOUBLER_ERROR_INTERNAL);
    EXPECT_EQ(library::resultCodeOf(static_cast<EnlargeStatus>(99)), CRESTDOUBLER_ERROR_INTERNAL);
}

// A BGRX row stride beyond what the engine addresses is copied rather than
// refused: one row, so only its start is read.
TEST(CApi, SourceStrideBeyondTheEnginesIsTaken) {
    const std::vector<std::uint8_t> row{10, 20, 30, 0, 200, 90, 40, 0, 5, 250, 128, 0};
    std::vector<std::uint8_t> compact(4 * 6 * 2), farApart(4 * 6 * 2);
    ASSERT_EQ(crestdoubler_enlarge(row.data(), 3, 1, 12, compact.data(), 24, CRESTDOUBLER_BGRX, 1), 0);
    ASSERT_EQ(
        crestdoubler_enlarge(row.data(), 3, 1, std::ptrdiff_t{1} << 30, farApart.data(), 24, CRESTDOUBLER_BGRX, 1), 0);
    EXPECT_EQ(farApart, compact);
}

}  // namespace
}  // namespace crest
