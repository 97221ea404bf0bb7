// Fuzzes enlargeFrame with random sizes, pitches, contents and destination
// geometries, right and wrong. Both bitmaps live between inaccessible pages,
// so a stray read or write crashes; the source is read-only.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/enlarger.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CREST_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(CREST_FUZZ_ASAN)
#define CREST_FUZZ_ASAN 1
#endif
#if defined(CREST_FUZZ_ASAN)
#include <sanitizer/asan_interface.h>
#define CREST_POISON(address, bytes) ASAN_POISON_MEMORY_REGION(address, bytes)
#define CREST_UNPOISON(address, bytes) ASAN_UNPOISON_MEMORY_REGION(address, bytes)
#else
#define CREST_POISON(address, bytes) ((void)(address), (void)(bytes))
#define CREST_UNPOISON(address, bytes) ((void)(address), (void)(bytes))
#endif

namespace {

using namespace crest;

[[noreturn]] void fail(const char* what, int line) {
    std::fprintf(stderr, "fuzz_frame_driver.cpp:%d: check failed: %s\n", line, what);
    std::abort();
}
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fail(#condition, __LINE__))

// Reads the input front to back; zeros once it runs out.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return used_ < size_ ? data_[used_++] : 0; }
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    const std::uint8_t* rest() const { return data_ + used_; }
    std::size_t restSize() const { return size_ - used_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
};

// Usable bytes between two PROT_NONE pages, flush against one of them. With
// AddressSanitizer the slack on the other side is poisoned as well.
class GuardedBuffer {
public:
    GuardedBuffer(std::size_t bytes, bool flushWithEnd) : size_(bytes) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        inner_ = (bytes + page - 1) / page * page;
        if (inner_ == 0) inner_ = page;
        mapped_ = inner_ + 2 * page;
        void* base = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        FUZZ_CHECK(base != MAP_FAILED);
        base_ = static_cast<std::uint8_t*>(base);
        FUZZ_CHECK(mprotect(base_, page, PROT_NONE) == 0);
        FUZZ_CHECK(mprotect(base_ + page + inner_, page, PROT_NONE) == 0);
        innerStart_ = base_ + page;
        data_ = flushWithEnd ? innerStart_ + inner_ - bytes : innerStart_;
        CREST_POISON(innerStart_, static_cast<std::size_t>(data_ - innerStart_));
        CREST_POISON(data_ + bytes, static_cast<std::size_t>(innerStart_ + inner_ - (data_ + bytes)));
    }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    ~GuardedBuffer() {
        // Poison would outlive the mapping and trip whoever maps here next.
        CREST_UNPOISON(innerStart_, inner_);
        munmap(base_, mapped_);
    }

    void makeReadOnly() { FUZZ_CHECK(mprotect(innerStart_, inner_, PROT_READ) == 0); }
    void poison(std::uint8_t* at, std::size_t bytes) { CREST_POISON(at, bytes); }
    void unpoisonAll() { CREST_UNPOISON(data_, size_); }

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    std::size_t size_;
    std::size_t inner_ = 0;
    std::size_t mapped_ = 0;
    std::uint8_t* base_ = nullptr;
    std::uint8_t* innerStart_ = nullptr;
    std::uint8_t* data_ = nullptr;
};

// What a bitmap claims to be.
struct Geometry {
    std::int32_t width;
    std::int32_t height;
    std::int32_t pitch;
    bool nullPixels = false;
};

// Storage larger than this is not made; the bitmap then points into a small
// buffer and only a driver that rejects it stays inside.
constexpr std::int64_t kMaxStorageBytes = 1 << 22;

// A frame over guarded storage holding every pixel its fields name whenever
// that is small enough.
class GuardedBitmap {
public:
    GuardedBitmap(const Geometry& geometry, bool flushWithEnd) {
        width = geometry.width;
        height = geometry.height;
        pitch = geometry.pitch;
        const std::int64_t rowStride = pitch < 0 ? -static_cast<std::int64_t>(pitch) : pitch;
        std::int64_t span = 0;
        if (width > 0 && height > 0) span = rowStride * (height - 1) + 4 * static_cast<std::int64_t>(width);
        holdsAll_ = span > 0 && span <= kMaxStorageBytes;
        const bool holdsAll = holdsAll_;
        buffer_ = std::make_unique<GuardedBuffer>(holdsAll ? static_cast<std::size_t>(span) : 64, flushWithEnd);
        std::uint8_t* first = buffer_->data();
        if (geometry.nullPixels)
            pixels = nullptr;
        else if (holdsAll && pitch < 0)
            pixels = first + rowStride * (height - 1);
        else
            pixels = first;
        base_ = first;
    }

    // Byte offset of pixel (x, y) from the start of the storage.
    std::int64_t offsetOf(std::int64_t x, std::int64_t y) const {
        return (static_cast<std::uint8_t*>(pixels) - base_) + y * pitch + 4 * x;
    }
    std::uint32_t pixel(std::int64_t x, std::int64_t y) const { return loadPixel(base_ + offsetOf(x, y)); }

    std::vector<std::uint8_t> snapshot() const { return {base_, base_ + buffer_->size()}; }
    GuardedBuffer& buffer() { return *buffer_; }
    bool holdsAll() const { return holdsAll_; }
    std::uint8_t* base() const { return base_; }

    void* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t pitch = 0;

private:
    std::unique_ptr<GuardedBuffer> buffer_;
    std::uint8_t* base_ = nullptr;
    bool holdsAll_ = false;
};

// Pixel words: straight from the input, including their top bytes, from a
// seeded generator, or a few colours so edges form.
std::uint32_t contentPixel(int mode, InputReader& input, std::uint64_t& seed, std::size_t index,
                           const std::uint32_t (&palette)[4]) {
    switch (mode) {
        case 0: {
            const std::size_t bytes = input.restSize();
            if (bytes < 4) return static_cast<std::uint32_t>(index * 0x9E3779B9u);
            const std::uint8_t* from = input.rest() + (4 * index) % (bytes - 3);
            std::uint32_t word;
            std::memcpy(&word, from, 4);
            return word ^ static_cast<std::uint32_t>(index / (bytes / 4 + 1));
        }
        case 1: {
            std::uint64_t z = (seed += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            return static_cast<std::uint32_t>(z ^ (z >> 31));
        }
        default: {
            const std::size_t bytes = input.restSize();
            const std::uint8_t choice = bytes == 0 ? 0 : input.rest()[index % bytes];
            return palette[(choice >> (2 * (index % 4))) & 3];
        }
    }
}

enum class Fault : std::uint8_t {
    destinationWidth,
    destinationHeight,
    destinationPitchBelowRow,
    sourcePitchBelowRow,
    destinationSwapped,
    sourceNotPositive,
    destinationNotPositive,
    nullDestination,
    nullSource,
    destinationPitchAbsurd,
    sourcePitchAbsurd,
    destinationHalved,
    count,
};

std::int32_t nonzero(std::int32_t value) { return value == 0 ? 1 : value; }

void applyFault(Fault fault, std::uint16_t amount, Geometry& source, Geometry& destination) {
    const std::int32_t delta = nonzero(static_cast<std::int16_t>(amount) % 9);
    auto shrink = [&](Geometry& bitmap) {
        const std::int32_t row = 4 * bitmap.width;
        const std::int32_t pitch = row - 1 - static_cast<std::int32_t>(amount % row);
        bitmap.pitch = bitmap.pitch < 0 ? -pitch : pitch;
    };
    switch (fault) {
        case Fault::destinationWidth: destination.width += delta; break;
        case Fault::destinationHeight: destination.height += delta; break;
        case Fault::destinationPitchBelowRow: shrink(destination); break;
        case Fault::sourcePitchBelowRow: shrink(source); break;
        case Fault::destinationSwapped:
            if (destination.width == destination.height) destination.width += 2;
            std::swap(destination.width, destination.height);
            destination.pitch = (destination.pitch < 0 ? -4 : 4) * destination.width;
            break;
        case Fault::sourceNotPositive:
            (amount & 1 ? source.width : source.height) = -static_cast<std::int32_t>((amount >> 1) % 5);
            break;
        case Fault::destinationNotPositive:
            (amount & 1 ? destination.width : destination.height) = -static_cast<std::int32_t>((amount >> 1) % 5);
            break;
        case Fault::nullDestination: destination.nullPixels = true; break;
        case Fault::nullSource: source.nullPixels = true; break;
        case Fault::destinationPitchAbsurd:
            destination.pitch = (amount & 1 ? -1 : 1) * (kMaxPitchBytes + 1 + static_cast<std::int32_t>(amount >> 1));
            break;
        case Fault::sourcePitchAbsurd:
            source.pitch = (amount & 1 ? -1 : 1) * (kMaxPitchBytes + 1 + static_cast<std::int32_t>(amount >> 1));
            break;
        case Fault::destinationHalved:
            destination.width = source.width;
            destination.height = source.height;
            destination.pitch = (destination.pitch < 0 ? -4 : 4) * destination.width;
            break;
        case Fault::count: break;
    }
}

FrameView viewOf(const GuardedBitmap& bitmap) {
    return {static_cast<std::uint8_t*>(bitmap.pixels), bitmap.width, bitmap.height, bitmap.pitch};
}
ConstFrameView constViewOf(const GuardedBitmap& bitmap) {
    return {static_cast<const std::uint8_t*>(bitmap.pixels), bitmap.width, bitmap.height, bitmap.pitch};
}

// The frame a fresh state gives in plain memory, for comparison.
std::vector<std::uint32_t> freshFrame(const GuardedBitmap& sourceBitmap) {
    const std::int32_t width = sourceBitmap.width;
    const std::int32_t height = sourceBitmap.height;
    std::vector<std::uint32_t> source;
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) source.push_back(sourceBitmap.pixel(x, y));
    std::vector<std::uint32_t> pixels(4 * source.size());
    EnlargerState state;
    FUZZ_CHECK(
        enlargeFrame(state, FrameView{reinterpret_cast<std::uint8_t*>(pixels.data()), 2 * width, 2 * height, 8 * width},
                     ConstFrameView{reinterpret_cast<const std::uint8_t*>(source.data()), width, height, 4 * width}) ==
        0);
    return pixels;
}

// 1 to 80, mostly small: a sanitized 80x80 frame takes a hundred times longer
// than a 8x8 one, and small frames hold most of the border cases.
std::int32_t sideLength(std::uint8_t byte) { return 1 + (byte < 192 ? byte % 24 : byte % 80); }

EnlargerState& sharedState() {
    static EnlargerState state;
    return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const std::uint8_t flags = input.byte();
    const bool reuseState = flags & 1;
    const bool sourceBottomUp = flags & 2;
    const bool destinationBottomUp = flags & 4;
    const bool sourceFlushWithEnd = !(flags & 8);
    const bool destinationFlushWithEnd = !(flags & 16);
    const int contentMode = (flags >> 5) % 3;
    const std::int32_t sourceWidth = sideLength(input.byte());
    const std::int32_t sourceHeight = sideLength(input.byte());
    const std::int32_t sourcePadding = input.byte() % 64;  // any byte count: pixels need not be aligned
    const std::int32_t destinationPadding = input.byte() % 64;
    const std::uint8_t faultByte = input.byte();
    const std::uint16_t faultAmount = input.word();
    std::uint64_t seed = input.word();
    std::uint32_t palette[4];
    for (std::uint32_t& colour : palette)
        colour = input.word() | static_cast<std::uint32_t>(input.byte()) << 16 |
                 static_cast<std::uint32_t>(input.byte()) << 24;

    Geometry source{sourceWidth, sourceHeight, 4 * sourceWidth + sourcePadding};
    if (sourceBottomUp) source.pitch = -source.pitch;
    Geometry destination{2 * sourceWidth, 2 * sourceHeight, 8 * sourceWidth + destinationPadding};
    if (destinationBottomUp) destination.pitch = -destination.pitch;
    // The low half of fault bytes leaves the geometry valid.
    const bool valid = faultByte < 128;
    if (!valid)
        applyFault(static_cast<Fault>(faultByte % static_cast<int>(Fault::count)), faultAmount, source, destination);

    GuardedBitmap sourceBitmap(source, sourceFlushWithEnd);
    std::size_t index = 0;
    if (sourceBitmap.pixels != nullptr && sourceBitmap.holdsAll())
        for (std::int32_t y = 0; y < source.height; ++y)
            for (std::int32_t x = 0; x < source.width; ++x) {
                const std::int64_t offset = sourceBitmap.offsetOf(x, y);
                if (offset < 0 || offset + 4 > static_cast<std::int64_t>(sourceBitmap.buffer().size())) continue;
                const std::uint32_t word = contentPixel(contentMode, input, seed, index++, palette);
                std::memcpy(sourceBitmap.base() + offset, &word, 4);
            }
    const std::vector<std::uint8_t> sourceBefore = sourceBitmap.snapshot();
    sourceBitmap.buffer().makeReadOnly();

    GuardedBitmap destinationBitmap(destination, destinationFlushWithEnd);
    for (std::size_t i = 0; i < destinationBitmap.buffer().size(); ++i)
        destinationBitmap.base()[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 7));
    const std::vector<std::uint8_t> destinationBefore = destinationBitmap.snapshot();
    // The driver has no business in the padding between rows.
    const std::int32_t destinationRowBytes = 4 * destination.width;
    if (valid && destinationPadding > 0)
        for (std::int32_t y = 0; y < destination.height; ++y) {
            const std::int64_t rowEnd = destinationBitmap.offsetOf(0, y) + destinationRowBytes;
            if (rowEnd + destinationPadding <= static_cast<std::int64_t>(destinationBitmap.buffer().size()))
                destinationBitmap.buffer().poison(destinationBitmap.base() + rowEnd, destinationPadding);
        }

    auto enlargeWith = [&](EnlargerState& state) {
        return enlargeFrame(state, viewOf(destinationBitmap), constViewOf(sourceBitmap));
    };
    std::int32_t result;
    if (reuseState) {
        result = enlargeWith(sharedState());
    } else {
        EnlargerState freshState;
        result = enlargeWith(freshState);
    }
    destinationBitmap.buffer().unpoisonAll();

    FUZZ_CHECK(sourceBitmap.snapshot() == sourceBefore);
    if (!valid) {
        FUZZ_CHECK(result != 0);
        FUZZ_CHECK(destinationBitmap.snapshot() == destinationBefore);
        return 0;
    }

    FUZZ_CHECK(result == 0);
    std::vector<std::uint32_t> frame;
    for (std::int32_t y = 0; y < destination.height; ++y)
        for (std::int32_t x = 0; x < destination.width; ++x) {
            const std::uint32_t pixel = destinationBitmap.pixel(x, y);
            if (x % 2 == 0 && y % 2 == 0) FUZZ_CHECK(pixel == tagPixel(sourceBitmap.pixel(x / 2, y / 2)));
            frame.push_back(pixel);
        }
    const std::vector<std::uint8_t> after = destinationBitmap.snapshot();
    for (std::int32_t y = 0; y < destination.height && destinationPadding > 0; ++y) {
        const std::int64_t rowEnd = destinationBitmap.offsetOf(0, y) + destinationRowBytes;
        for (std::int64_t i = rowEnd; i < rowEnd + destinationPadding && i < static_cast<std::int64_t>(after.size());
             ++i)
            FUZZ_CHECK(after[static_cast<std::size_t>(i)] == destinationBefore[static_cast<std::size_t>(i)]);
    }
    // A state carried over from other sizes must give what a fresh one gives.
    if (reuseState) FUZZ_CHECK(frame == freshFrame(sourceBitmap));
    return 0;
}
