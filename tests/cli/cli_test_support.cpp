#include "tests/cli/cli_test_support.h"

#include <fcntl.h>
#include <png.h>
#include <vips/vips.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace crest::clitest {

namespace fs = std::filesystem;

namespace {

int waitForExit(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Runs argv in a child with the given descriptors as its standard streams.
pid_t spawn(const std::vector<std::string>& argv, int in, int out, int err) {
    const pid_t child = fork();
    if (child == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> arguments;
        for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
        arguments.push_back(nullptr);
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    return child;
}

std::string replaceAll(std::string text, const std::string& word, const std::string& with) {
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + with.size()))
        text.replace(at, word.size(), with);
    return text;
}

// Appends one sample of a row, packing depths below 8 bits and writing 16 bits big-endian.
void putSample(std::vector<png_byte>& row, std::size_t index, unsigned value, int bitDepth) {
    if (bitDepth == 16) {
        row[2 * index] = static_cast<png_byte>(value >> 8);
        row[2 * index + 1] = static_cast<png_byte>(value & 0xFF);
    } else if (bitDepth == 8) {
        row[index] = static_cast<png_byte>(value);
    } else {
        const std::size_t perByte = 8 / static_cast<std::size_t>(bitDepth);
        const int shift = 8 - bitDepth * static_cast<int>(index % perByte + 1);
        row[index / perByte] = static_cast<png_byte>(row[index / perByte] | (value << shift));
    }
}

int channelsOf(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;  // grey, palette
    }
}

std::uint32_t rgbWord(unsigned red, unsigned green, unsigned blue) { return (red << 16) | (green << 8) | blue; }

std::uint32_t crc32Of(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string bigEndian(std::uint32_t value) {
    return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
                       static_cast<char>(value)};
}

}  // namespace

std::string pngChunk(const std::string& type, const std::string& data) {
    return bigEndian(static_cast<std::uint32_t>(data.size())) + type + data + bigEndian(crc32Of(type + data));
}

CommandResult runProgram(const std::vector<std::string>& argv, const std::string& stdinPath) {
    char outTemplate[] = "/tmp/crestdoubler-out-XXXXXX";
    char errTemplate[] = "/tmp/crestdoubler-err-XXXXXX";
    const int outFile = mkstemp(outTemplate);
    const int errFile = mkstemp(errTemplate);
    const int inFile = open(stdinPath.c_str(), O_RDONLY);
    const pid_t child = inFile < 0 ? -1 : spawn(argv, inFile, outFile, errFile);
    if (inFile >= 0) close(inFile);
    CommandResult result;
    result.exitCode = waitForExit(child);
    close(outFile);
    close(errFile);
    result.out = readFile(outTemplate);
    result.err = readFile(errTemplate);
    unlink(outTemplate);
    unlink(errTemplate);
    return result;
}

int startProgram(const std::vector<std::string>& argv) {
    const int null = open("/dev/null", O_RDWR);
    const pid_t child = spawn(argv, null, null, null);
    close(null);
    return child;
}

int waitForProgram(int pid) { return waitForExit(pid); }

CommandResult runCrestdoubler(const std::vector<std::string>& arguments, const std::string& stdinPath) {
    std::vector<std::string> argv{CRESTDOUBLER_EXE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv, stdinPath);
}

CommandResult runPipeline(const std::string& script) {
    return runProgram({"/bin/sh", "-c", "set -e; " + replaceAll(script, "CRESTDOUBLER", CRESTDOUBLER_EXE)});
}

std::string readFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream stream(path, std::ios::binary);
    stream << bytes;
}

void CommandTest::SetUp() {
    std::string name = (fs::temp_directory_path() / "crestdoubler-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    folder_ = name;
}

void CommandTest::TearDown() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::vector<std::string> CommandTest::folderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string rawBytes(const std::vector<std::uint32_t>& pixels) {
    std::string bytes;
    bytes.reserve(4 * pixels.size());
    for (std::uint32_t pixel : pixels)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(pixel >> shift));
    return bytes;
}

std::vector<std::uint32_t> rawWords(const std::string& bytes) {
    std::vector<std::uint32_t> words(bytes.size() / 4);
    for (std::size_t i = 0; i < words.size(); ++i)
        for (int b = 0; b < 4; ++b)
            words[i] |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[4 * i + b])) << (8 * b);
    return words;
}

std::vector<std::uint32_t> engineEnlargement(const pictures::Picture& picture) {
    const testing::EnlargedFrame frame = testing::enlarge(picture);
    EXPECT_EQ(frame.result, 0);
    return frame.pixels;
}

pictures::Picture rawTestPicture(std::int32_t width, std::int32_t height, std::uint64_t seed) {
    pictures::Picture picture = pictures::makePicture(pictures::Content::natural, width, height, seed);
    pictures::scrambleTopBytes(picture, seed + 1000);
    return picture;
}

pictures::Picture writeTestPng(const fs::path& path, const PngKind& kind, std::int32_t width, std::int32_t height,
                               std::uint64_t seed) {
    const pictures::Picture source = pictures::makePicture(pictures::Content::natural, width, height, seed);
    pictures::Random random(seed * 7 + 3);
    pictures::Picture expected{width, height, std::vector<std::uint32_t>(source.pixels.size())};

    // A palette whose entries are spread over the colour cube.
    const int paletteSize = kind.colorType == PNG_COLOR_TYPE_PALETTE ? 1 << kind.bitDepth : 0;
    std::vector<png_color> palette(static_cast<std::size_t>(paletteSize));
    std::vector<png_byte> transparency(static_cast<std::size_t>(paletteSize));
    for (int i = 0; i < paletteSize; ++i) {
        palette[i] = png_color{static_cast<png_byte>(random.below(256)), static_cast<png_byte>(random.below(256)),
                               static_cast<png_byte>(random.below(256))};
        transparency[i] = static_cast<png_byte>(random.below(256));
    }

    const int channels = channelsOf(kind.colorType);
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * channels * kind.bitDepth + 7) / 8;
    std::vector<std::vector<png_byte>> rows(static_cast<std::size_t>(height), std::vector<png_byte>(rowBytes));
    const unsigned maxSample = (1u << kind.bitDepth) - 1;
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint32_t colour = source.at(x, y);
            const unsigned red = (colour >> 16) & 0xFF, green = (colour >> 8) & 0xFF, blue = colour & 0xFF;
            // 16-bit samples carry random low bytes, which a reader must drop.
            auto sample16 = [&](unsigned byte) { return (byte << 8) | random.below(256); };
            auto wide = [&](unsigned byte) { return kind.bitDepth == 16 ? sample16(byte) : byte; };
            std::vector<unsigned> samples;
            std::uint32_t seen = 0;
            switch (kind.colorType) {
            case PNG_COLOR_TYPE_GRAY:
            case PNG_COLOR_TYPE_GRAY_ALPHA: {
                const unsigned level = green * maxSample / 255;  // depths below 8 scale up on reading
                const unsigned grey = kind.bitDepth >= 8 ? green : level * 255 / maxSample;
                samples.push_back(kind.bitDepth >= 8 ? wide(green) : level);
                seen = rgbWord(grey, grey, grey);
                break;
            }
            case PNG_COLOR_TYPE_PALETTE: {
                const unsigned index = random.below(static_cast<std::uint32_t>(paletteSize));
                samples.push_back(index);
                seen = rgbWord(palette[index].red, palette[index].green, palette[index].blue);
                break;
            }
            default:
                samples = {wide(red), wide(green), wide(blue)};
                seen = rgbWord(red, green, blue);
            }
            if (kind.colorType & PNG_COLOR_MASK_ALPHA) samples.push_back(wide(random.below(256)));
            for (std::size_t c = 0; c < samples.size(); ++c)
                putSample(rows[static_cast<std::size_t>(y)], static_cast<std::size_t>(x) * channels + c, samples[c],
                          kind.bitDepth);
            expected.pixels[static_cast<std::size_t>(y) * width + x] = seen;
        }

    std::FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), kind.bitDepth,
                 kind.colorType, kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (paletteSize > 0) {
        png_set_PLTE(png, info, palette.data(), paletteSize);
        png_set_tRNS(png, info, transparency.data(), paletteSize, nullptr);
    }
    png_write_info(png, info);
    std::vector<png_bytep> rowPointers;
    for (auto& row : rows) rowPointers.push_back(row.data());
    png_write_image(png, rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return expected;
}

DecodedPng readPng(const fs::path& path) {
    DecodedPng decoded;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return decoded;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_read_info(png, info);
    decoded.width = static_cast<std::int32_t>(png_get_image_width(png, info));
    decoded.height = static_cast<std::int32_t>(png_get_image_height(png, info));
    decoded.colorType = png_get_color_type(png, info);
    decoded.bitDepth = png_get_bit_depth(png, info);
    decoded.channels = png_get_channels(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    decoded.samples.resize(rowBytes * static_cast<std::size_t>(decoded.height));
    std::vector<png_bytep> rows;
    for (std::int32_t y = 0; y < decoded.height; ++y) rows.push_back(decoded.samples.data() + rowBytes * y);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return decoded;
}

std::string pngWithHeaderSize(std::uint32_t width, std::uint32_t height) {
    const std::string header = bigEndian(width) + bigEndian(height) + std::string{8, 2, 0, 0, 0};
    // A zlib stream of a few zero bytes; a reader must give up before inflating it.
    const std::string data("\x78\x9c\x63\x60\x60\x60\x00\x00\x00\x04\x00\x01", 12);
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", data) +
           pngChunk("IEND", "");
}

namespace {

void startVips() {
    static std::once_flag started;
    std::call_once(started, [] {
        ASSERT_EQ(VIPS_INIT("cli_tests"), 0) << vips_error_buffer();
        vips_cache_set_max(0);  // files of one name are rewritten between reads
        std::atexit([] { vips_shutdown(); });  // the leak checker sees the library's memory returned
    });
}

}  // namespace

std::uint32_t Samples::colour(std::int32_t x, std::int32_t y) const {
    const int shift = depth == 16 ? 8 : 0;
    const unsigned red = at(x, y, 0) >> shift;
    if (bands <= 2) return rgbWord(red, red, red);
    return rgbWord(red, at(x, y, 1) >> shift, at(x, y, 2) >> shift);
}

Samples makeSamples(std::int32_t width, std::int32_t height, int bands, int depth, std::uint64_t seed) {
    const pictures::Picture source = pictures::makePicture(pictures::Content::natural, width, height, seed);
    pictures::Random random(seed * 5 + 1);
    Samples samples{width, height, bands, depth, {}};
    // 16-bit samples carry random low bytes, which a reader must drop.
    auto wide = [&](unsigned byte) {
        return static_cast<std::uint16_t>(depth == 16 ? (byte << 8) | random.below(256) : byte);
    };
    for (const std::uint32_t pixel : source.pixels) {
        if (bands <= 2) {
            samples.values.push_back(wide((pixel >> 8) & 0xFF));
        } else {
            for (const int shift : {16, 8, 0}) samples.values.push_back(wide((pixel >> shift) & 0xFF));
        }
        if (bands == 2 || bands == 4) samples.values.push_back(wide(random.below(256)));
    }
    return samples;
}

void writePicture(const std::string& pathAndOptions, const Samples& samples, const PictureMetadata& metadata) {
    startVips();
    const bool wide = samples.depth == 16;
    std::vector<std::uint8_t> bytes;
    for (const std::uint16_t value : samples.values) {
        if (wide) bytes.insert(bytes.end(), reinterpret_cast<const std::uint8_t*>(&value),
                               reinterpret_cast<const std::uint8_t*>(&value) + 2);
        else bytes.push_back(static_cast<std::uint8_t>(value));
    }
    VipsImage* image = vips_image_new_from_memory(bytes.data(), bytes.size(), samples.width, samples.height,
                                                  samples.bands, wide ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR);
    ASSERT_NE(image, nullptr) << vips_error_buffer();
    const bool grey = samples.bands <= 2;
    image->Type = wide ? (grey ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16)
                       : (grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB);
    if (!metadata.iccProfile.empty())
        vips_image_set_blob_copy(image, VIPS_META_ICC_NAME, metadata.iccProfile.data(), metadata.iccProfile.size());
    if (metadata.orientation != 0) vips_image_set_int(image, VIPS_META_ORIENTATION, metadata.orientation);
    if (metadata.pixelsPerInch != 0) image->Xres = image->Yres = metadata.pixelsPerInch / 25.4;
    EXPECT_EQ(vips_image_write_to_file(image, pathAndOptions.c_str(), nullptr), 0) << vips_error_buffer();
    g_object_unref(image);
}

Samples readPicture(const fs::path& path) {
    startVips();
    Samples samples;
    VipsImage* image = vips_image_new_from_file(path.c_str(), nullptr);
    if (image == nullptr) {
        ADD_FAILURE() << "cannot read " << path << ": " << vips_error_buffer();
        vips_error_clear();
        return samples;
    }
    samples.width = vips_image_get_width(image);
    samples.height = vips_image_get_height(image);
    samples.bands = vips_image_get_bands(image);
    const bool wide = vips_image_get_format(image) == VIPS_FORMAT_USHORT;
    std::size_t size = 0;
    void* memory = vips_image_write_to_memory(image, &size);
    const auto* bytes = static_cast<const std::uint8_t*>(memory);
    for (std::size_t i = 0; i < size; i += wide ? 2 : 1) {
        std::uint16_t value = bytes[i];
        if (wide) std::memcpy(&value, bytes + i, 2);
        samples.values.push_back(wide ? value >> 8 : value);
    }
    g_free(memory);
    g_object_unref(image);
    return samples;
}

pictures::Picture colourPicture(const Samples& samples) {
    pictures::Picture picture{samples.width, samples.height, {}};
    for (std::int32_t y = 0; y < samples.height; ++y)
        for (std::int32_t x = 0; x < samples.width; ++x) picture.pixels.push_back(samples.colour(x, y));
    return picture;
}

pictures::Picture alphaPicture(const Samples& samples) {
    pictures::Picture picture{samples.width, samples.height, {}};
    const int shift = samples.depth == 16 ? 8 : 0;
    for (std::int32_t y = 0; y < samples.height; ++y)
        for (std::int32_t x = 0; x < samples.width; ++x) {
            const unsigned alpha = samples.at(x, y, samples.bands - 1) >> shift;
            picture.pixels.push_back(rgbWord(alpha, alpha, alpha));
        }
    return picture;
}

std::string builtInProfile(const std::string& name) {
    startVips();
    VipsBlob* blob = nullptr;
    if (vips_profile_load(name.c_str(), &blob, nullptr) != 0 || blob == nullptr) {
        ADD_FAILURE() << "no profile " << name << ": " << vips_error_buffer();
        return {};
    }
    std::size_t size = 0;
    const void* data = vips_blob_get(blob, &size);
    std::string bytes(static_cast<const char*>(data), size);
    vips_area_unref(VIPS_AREA(blob));
    return bytes;
}

std::string pictureField(const fs::path& path, const std::string& name) {
    startVips();
    VipsImage* image = vips_image_new_from_file(path.c_str(), nullptr);
    if (image == nullptr) {
        ADD_FAILURE() << "cannot read " << path << ": " << vips_error_buffer();
        vips_error_clear();
        return {};
    }
    std::string text;
    const GType type = vips_image_get_typeof(image, name.c_str());
    if (type == VIPS_TYPE_BLOB) {
        const void* data = nullptr;
        std::size_t length = 0;
        if (vips_image_get_blob(image, name.c_str(), &data, &length) == 0)
            text.assign(static_cast<const char*>(data), length);
    } else if (type != 0) {
        GValue value = G_VALUE_INIT;
        vips_image_get(image, name.c_str(), &value);
        char* shown = g_strdup_value_contents(&value);
        text = shown;
        g_free(shown);
        g_value_unset(&value);
    }
    g_object_unref(image);
    return text;
}

}  // namespace crest::clitest
