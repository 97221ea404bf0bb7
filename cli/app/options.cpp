#include "cli/app/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <thread>

#include "cli/app/command_error.h"
#include "cli/app/path_kind.h"
#include "cli/media/picture/picture_formats.h"

namespace crest::cli {

namespace {

[[noreturn]] void usageError(const std::string& message) {
    throw CommandError(message + " (see crestdoubler --help)", ExitStatus::usage);
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

// A whole number from low to high for option name.
int parseBoundedInteger(const std::string& name, const std::string& text, std::int32_t low, std::int32_t high) {
    bool tooLarge = false;
    const std::int32_t value = text == "0" ? 0 : parseDimension(text, high, tooLarge);
    if ((value == 0 && text != "0") || value < low)
        usageError(name + " '" + text + "' is not a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high));
    return value;
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

int parseThreadCount(const std::string& text) { return parseBoundedInteger("--threads", text, 1, kMaxThreads); }

int defaultThreadCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, static_cast<unsigned>(kMaxThreads)));
}

double parseTime(const std::string& text, const std::string& option) {
    // [[HH:]MM:]SS[.fraction]: plain decimals, minutes and seconds below 60
    // when a larger field stands before them.
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        const std::size_t colon = text.find(':', start);
        fields.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    double seconds = 0;
    bool valid = fields.size() <= 3;
    for (std::size_t i = 0; valid && i < fields.size(); ++i) {
        const std::string& field = fields[i];
        const bool last = i + 1 == fields.size();
        valid = !field.empty() && std::all_of(field.begin(), field.end(), [&](unsigned char c) {
            return std::isdigit(c) || (last && c == '.');
        });
        double value = 0;
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
        valid = valid && error == std::errc() && end == field.data() + field.size() && (i == 0 || value < 60);
        seconds = seconds * 60 + value;
    }
    if (!valid) usageError(option + " '" + text + "' is not a time, e.g. 90, 1:30 or 0:01:30.5");
    return seconds;
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
        } else if (name == "-o" || name == "--output-dir") {
            options.outputFolder = value();
            if (options.outputFolder->empty()) usageError(name + " needs a folder");
        } else if (name == "--suffix") {
            options.suffix = value();
            if (options.suffix.find_first_of("/\\") != std::string::npos)
                usageError("--suffix '" + options.suffix + "' may not hold a folder separator");
        } else if (name == "--quality") {
            options.quality = parseBoundedInteger(name, value(), 1, 100);
        } else if (name == "--codec") {
            options.codec = value();
            if (options.codec->empty()) usageError("--codec needs an encoder name, e.g. libx264");
        } else if (name == "--crf") {
            options.crf = parseBoundedInteger(name, value(), 0, 63);
        } else if (name == "--preset") {
            options.preset = value();
            if (options.preset->empty()) usageError("--preset needs a name, e.g. medium");
        } else if (name == "--encoder-option") {
            const std::string setting = value();
            const auto separator = setting.find('=');
            if (separator == std::string::npos || separator == 0)
                usageError("--encoder-option '" + setting + "' is not KEY=VALUE");
            options.encoderOptions.push_back({setting.substr(0, separator), setting.substr(separator + 1)});
        } else if (name == "--stream") {
            options.streamIndex = parseBoundedInteger(name, value(), 0, 65535);
        } else if (name == "--start") {
            options.startSeconds = parseTime(value(), name);
        } else if (name == "--video-only") {
            noValue();
            options.videoOnly = true;
        } else if (name == "--first-frame") {
            options.firstFrame = parseBoundedInteger(name, value(), 0, std::numeric_limits<std::int32_t>::max());
        } else if (name == "--frames") {
            options.frameLimit = parseBoundedInteger(name, value(), 1, std::numeric_limits<std::int32_t>::max());
        } else if (name == "--restart") {
            noValue();
            options.restart = true;
        } else if (name == "--piece-frames") {
            options.pieceFrames = parseBoundedInteger(name, value(), 1, std::numeric_limits<std::int32_t>::max());
        } else if (name == "--pieces") {
            options.pieces = value();
        } else {
            usageError("unknown option '" + argument + "'");
        }
    }
    if (options.showHelp || options.showVersion) return options;
    if (options.startSeconds && options.firstFrame) usageError("--start and --first-frame both say where to begin: give one");

    if (options.outputFolder) {
        if (paths.empty()) usageError("expected one or more inputs for -o " + *options.outputFolder);
        for (const std::string& path : paths)
            if (path == "-") usageError("-o takes files and folders, not standard input");
        if (options.rawSize) usageError("--size applies to raw input only; -o takes pictures");
        options.inputs = std::move(paths);
        return options;
    }
    if (!options.suffix.empty()) usageError("--suffix goes with -o OUTDIR");
    if (paths.size() < 2) usageError("expected INPUT and OUTPUT paths");
    if (paths.size() > 2)
        usageError("unexpected argument '" + paths[2] + "' after INPUT and OUTPUT (several inputs need -o OUTDIR)");
    options.input = paths[0];
    options.output = paths[1];

    const PathKind inputKind = kindOfPath(options.input);
    if (inputKind == PathKind::raw && !options.rawSize)
        usageError("raw input " + describePath(options.input, true) + " needs --size WIDTHxHEIGHT");
    if (inputKind != PathKind::raw && options.rawSize)
        usageError("--size applies to raw input only; " + options.input + " carries its own size");
    return options;
}

std::string usageText() {
    return "Usage: crestdoubler [options] INPUT OUTPUT\n"
           "       crestdoubler [options] -o OUTDIR IMAGE|FOLDER...\n"
           "\n"
           "Enlarges frames 2:1, keeping edges sharp, through the crestdoubler.cpf filter module.\n"
           "\n" +
           pathKindHelp() +
           "Raw frames are 4-byte pixels, blue, green, red, unused (ffmpeg's bgra or bgr0);\n"
           "each output frame is twice as wide and tall, its fourth byte the filter's luma tag.\n"
           "\n"
           "Options:\n"
           "  --size WxH      source frame size of raw input, e.g. 640x360 (at most " +
           std::to_string(kMaxSourceWidth) + "x" + std::to_string(kMaxSourceHeight) +
           ")\n"
           "  --keep-tags     image output: write RGBA with the luma tag as alpha\n"
           "  --module PATH   filter module to load (default: crestdoubler.cpf beside the command)\n"
           "  --threads N     enlarge with N filter instances side by side, 1 to " +
           std::to_string(kMaxThreads) + " (default: one per core, here " + std::to_string(defaultThreadCount()) +
           ")\n"
           "  -o OUTDIR       write each input image into OUTDIR under its own name\n"
           "  --suffix TEXT   with -o: add TEXT before each output's extension\n"
           "  --quality N     lossy image output (" + lossyPictureFormatNames() + "): quality 1 to 100\n"
           "  --codec NAME    video output: the encoder, e.g. libx264, libvpx-vp9, ffv1\n"
           "  --crf N         video output: constant rate factor\n"
           "  --preset NAME   video output: encoder preset, e.g. medium\n"
           "  --encoder-option KEY=VALUE\n"
           "                  video output: an encoder option, repeatable\n"
           "  --stream N      video input: enlarge stream N instead of the first video stream\n"
           "  --start TIME    video input: begin at TIME (seconds, or [HH:]MM:SS[.fff])\n"
           "  --first-frame N video input: begin at frame N (0 is the first), keeping its timestamps\n"
           "  --frames N      video input: enlarge at most N frames\n"
           "  --video-only    video output: the enlarged video alone\n"
           "  --restart       video output: throw away the pieces an interrupted run left\n"
           "  --help          show this text\n"
           "  --version       show the version\n"
           "\n"
           "Examples:\n"
           "  crestdoubler photo.jpg photo-2x.jpg\n"
           "  crestdoubler -o enlarged --suffix -2x holiday/\n"
           "  ffmpeg -i in.mp4 -f rawvideo -pix_fmt bgra - | crestdoubler --size 640x360 - - |\n"
           "    ffmpeg -f rawvideo -pix_fmt bgra -s 1280x720 -i - out.mkv\n";
}

}  // namespace crest::cli
