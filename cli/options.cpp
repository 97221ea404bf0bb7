#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <thread>

#include "cli/command_error.h"

namespace crest::cli {

namespace {

[[noreturn]] void usageError(const std::string& message) {
    throw CommandError(message + " (see crestdoubler --help)", ExitStatus::usage);
}

bool endsWithPngExtension(const std::string& path) {
    if (path.size() < 4) return false;
    std::string extension = path.substr(path.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".png";
}

// A positive decimal without sign or spaces; 0 when it is not one or exceeds the limit.
std::int32_t parseDimension(const std::string& text, std::int32_t limit, bool& tooLarge) {
    tooLarge = false;
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return 0;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range || (error == std::errc() && value > limit)) {
        tooLarge = true;
        return 0;
    }
    if (error != std::errc() || end != text.data() + text.size()) return 0;
    return static_cast<std::int32_t>(value);
}

}  // namespace

FrameSize parseFrameSize(const std::string& text) {
    const auto separator = text.find_first_of("xX");
    if (separator == std::string::npos)
        usageError("--size '" + text + "' is not WIDTHxHEIGHT, e.g. --size 640x360");
    bool widthTooLarge = false;
    bool heightTooLarge = false;
    const std::int32_t width = parseDimension(text.substr(0, separator), kMaxSourceWidth, widthTooLarge);
    const std::int32_t height = parseDimension(text.substr(separator + 1), kMaxSourceHeight, heightTooLarge);
    if (widthTooLarge || heightTooLarge)
        usageError("--size '" + text + "' is larger than the largest frame, " + std::to_string(kMaxSourceWidth) +
                   "x" + std::to_string(kMaxSourceHeight));
    if (width == 0 || height == 0)
        usageError("--size '" + text + "' needs a positive width and height, e.g. --size 640x360");
    return FrameSize{width, height};
}

int parseThreadCount(const std::string& text) {
    bool tooLarge = false;
    const std::int32_t count = parseDimension(text, kMaxThreads, tooLarge);
    if (count == 0)
        usageError("--threads '" + text + "' is not a whole number from 1 to " + std::to_string(kMaxThreads));
    return count;
}

int defaultThreadCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, static_cast<unsigned>(kMaxThreads)));
}

FileFormat formatOfPath(const std::string& path) {
    return endsWithPngExtension(path) ? FileFormat::png : FileFormat::raw;
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    options.threads = defaultThreadCount();
    std::vector<std::string> paths;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            paths.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        // --name=value or --name value
        const auto equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const bool hasInlineValue = equals != std::string::npos;
        auto value = [&]() -> std::string {
            if (hasInlineValue) return argument.substr(equals + 1);
            if (i + 1 >= arguments.size()) usageError("option " + name + " needs a value");
            return arguments[++i];
        };
        auto noValue = [&] {
            if (hasInlineValue) usageError("option " + name + " takes no value");
        };

        if (name == "--help" || name == "-h") {
            noValue();
            options.showHelp = true;
        } else if (name == "--version") {
            noValue();
            options.showVersion = true;
        } else if (name == "--keep-tags") {
            noValue();
            options.keepTags = true;
        } else if (name == "--size") {
            options.rawSize = parseFrameSize(value());
        } else if (name == "--threads") {
            options.threads = parseThreadCount(value());
        } else if (name == "--module") {
            options.modulePath = value();
            if (options.modulePath->empty()) usageError("--module needs a path");
        } else {
            usageError("unknown option '" + argument + "'");
        }
    }
    if (options.showHelp || options.showVersion) return options;

    if (paths.size() < 2) usageError("expected INPUT and OUTPUT paths");
    if (paths.size() > 2) usageError("unexpected argument '" + paths[2] + "' after INPUT and OUTPUT");
    options.input = paths[0];
    options.output = paths[1];

    if (formatOfPath(options.input) == FileFormat::raw && !options.rawSize)
        usageError("raw input " + describePath(options.input, true) + " needs --size WIDTHxHEIGHT");
    if (formatOfPath(options.input) == FileFormat::png && options.rawSize)
        usageError("--size applies to raw input only; " + options.input + " is a PNG and carries its own size");
    return options;
}

std::string usageText() {
    return "Usage: crestdoubler [options] INPUT OUTPUT\n"
           "\n"
           "Enlarges frames 2:1, keeping edges sharp, through the crestdoubler.cpf filter module.\n"
           "\n"
           "A path ending in .png is a PNG image (grey, grey+alpha, RGB, RGBA or palette,\n"
           "8 or 16 bits; alpha is ignored). The output PNG is 8-bit RGB.\n"
           "Any other path, or - for standard input/output, is a raw stream: frames of\n"
           "4-byte pixels, blue, green, red, unused (ffmpeg's bgra or bgr0). Each output\n"
           "frame is twice as wide and tall, its fourth byte the filter's luma tag.\n"
           "\n"
           "Options:\n"
           "  --size WxH      source frame size of raw input, e.g. 640x360 (at most " +
           std::to_string(kMaxSourceWidth) + "x" + std::to_string(kMaxSourceHeight) +
           ")\n"
           "  --keep-tags     PNG output: write RGBA with the luma tag as alpha\n"
           "  --module PATH   filter module to load (default: crestdoubler.cpf beside the command)\n"
           "  --threads N     raw input: enlarge with N filter instances side by side, 1 to " +
           std::to_string(kMaxThreads) + " (default: one per core, here " + std::to_string(defaultThreadCount()) +
           ")\n"
           "  --help          show this text\n"
           "  --version       show the version\n"
           "\n"
           "Example:\n"
           "  ffmpeg -i in.mp4 -f rawvideo -pix_fmt bgra - | crestdoubler --size 640x360 - - |\n"
           "    ffmpeg -f rawvideo -pix_fmt bgra -s 1280x720 -i - out.mkv\n";
}

}  // namespace crest::cli
