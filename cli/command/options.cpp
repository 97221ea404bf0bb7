#include "cli/command/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <thread>

#include "cli/base/command_error.h"
#include "cli/jobs/path_kind.h"
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
    FolderRequest folder;
    bool outputFolderGiven = false;
    bool scaleGiven = false;
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
            options.settings.picture.keepTags = true;
        } else if (name == "--size") {
            options.settings.rawSize = parseFrameSize(value());
        } else if (name == "--scale") {
            const std::string text = value();
            if (text != "2" && text != "4" && text != "8") usageError("--scale '" + text + "' is not 2, 4 or 8");
            options.settings.scale.factor = text[0] - '0';
            scaleGiven = true;
        } else if (name == "--width") {
            options.settings.scale.width = parseBoundedInteger(name, value(), 1, kMaxTargetSide);
        } else if (name == "--height") {
            options.settings.scale.height = parseBoundedInteger(name, value(), 1, kMaxTargetSide);
        } else if (name == "--threads") {
            options.threads = parseThreadCount(value());
        } else if (name == "--module") {
            options.modulePath = value();
            if (options.modulePath->empty()) usageError("--module needs a path");
        } else if (name == "-o" || name == "--output-dir") {
            folder.outputFolder = value();
            outputFolderGiven = true;
            if (folder.outputFolder.empty()) usageError(name + " needs a folder");
        } else if (name == "--suffix") {
            folder.suffix = value();
            if (folder.suffix.find_first_of("/\\") != std::string::npos)
                usageError("--suffix '" + folder.suffix + "' may not hold a folder separator");
        } else if (name == "-r" || name == "--recursive") {
            noValue();
            folder.recursive = true;
        } else if (name == "--skip-existing") {
            noValue();
            options.skipExisting = true;
        } else if (name == "--quality") {
            options.settings.picture.quality = parseBoundedInteger(name, value(), 1, 100);
        } else if (name == "--codec") {
            options.settings.film.encoding.codec = value();
            if (options.settings.film.encoding.codec->empty())
                usageError("--codec needs an encoder name, e.g. libx264");
        } else if (name == "--crf") {
            options.settings.film.encoding.crf = parseBoundedInteger(name, value(), 0, 63);
        } else if (name == "--preset") {
            options.settings.film.encoding.preset = value();
            if (options.settings.film.encoding.preset->empty()) usageError("--preset needs a name, e.g. medium");
        } else if (name == "--encoder-option") {
            const std::string setting = value();
            const auto separator = setting.find('=');
            if (separator == std::string::npos || separator == 0)
                usageError("--encoder-option '" + setting + "' is not KEY=VALUE");
            options.settings.film.encoding.encoderOptions.push_back(
                {setting.substr(0, separator), setting.substr(separator + 1)});
        } else if (name == "--stream") {
            options.settings.film.selection.stream = parseBoundedInteger(name, value(), 0, 65535);
        } else if (name == "--start") {
            options.settings.film.selection.startSeconds = parseTime(value(), name);
        } else if (name == "--video-only") {
            noValue();
            options.settings.film.selection.videoOnly = true;
        } else if (name == "--first-frame") {
            options.settings.film.selection.firstFrame =
                parseBoundedInteger(name, value(), 0, std::numeric_limits<std::int32_t>::max());
        } else if (name == "--frames") {
            options.settings.film.selection.frameLimit =
                parseBoundedInteger(name, value(), 1, std::numeric_limits<std::int32_t>::max());
        } else if (name == "--restart") {
            noValue();
            options.settings.film.restart = true;
        } else if (name == "--piece-frames") {
            options.settings.film.pieceFrames =
                parseBoundedInteger(name, value(), 1, std::numeric_limits<std::int32_t>::max());
        } else if (name == "--pieces") {
            options.settings.film.pieces = value();
        } else {
            usageError("unknown option '" + argument + "'");
        }
    }
    if (options.showHelp || options.showVersion) return options;
    if (scaleGiven && options.settings.scale.hasTarget())
        usageError("--scale and --width or --height both say how large the output is: give one");
    if (options.settings.film.selection.startSeconds && options.settings.film.selection.firstFrame)
        usageError("--start and --first-frame both say where to begin: give one");

    if (outputFolderGiven) {
        if (paths.empty()) usageError("expected one or more inputs for -o " + folder.outputFolder);
        for (const std::string& path : paths)
            if (path == "-") usageError("-o takes files and folders, not standard input");
        if (options.settings.rawSize) usageError("--size applies to raw input only; -o takes pictures");
        folder.inputs = std::move(paths);
        folder.skipExisting = options.skipExisting;
        options.folder = std::move(folder);
        return options;
    }
    if (!folder.suffix.empty()) usageError("--suffix goes with -o OUTDIR");
    if (folder.recursive) usageError("--recursive goes with -o OUTDIR");
    if (paths.size() < 2) usageError("expected INPUT and OUTPUT paths");
    if (paths.size() > 2)
        usageError("unexpected argument '" + paths[2] + "' after INPUT and OUTPUT (several inputs need -o OUTDIR)");
    options.input = paths[0];
    options.output = paths[1];
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
           "  --scale N       enlarge 2, 4 or 8 times, each doubling the module's (default 2)\n"
           "  --width W, --height H\n"
           "                  an output of this size (one given: the other in proportion): doubled\n"
           "                  until it is reached, at most 16 times, then reduced to it by a Lanczos\n"
           "                  filter (libvips for pictures, libswscale for films and raw frames),\n"
           "                  the one step that is not the module's\n"
           "  --keep-tags     image output: write RGBA with the luma tag as alpha\n"
           "  --module PATH   filter module to load (default: crestdoubler.cpf beside the command)\n"
           "  --threads N     enlarge with N filter instances side by side, 1 to " +
           std::to_string(kMaxThreads) + " (default: one per core, here " + std::to_string(defaultThreadCount()) +
           ")\n"
           "  -o OUTDIR       write each input image into OUTDIR under its own name\n"
           "  --suffix TEXT   with -o: add TEXT before each output's extension\n"
           "  -r, --recursive with -o: the pictures of subfolders too, into the same subfolders of OUTDIR\n"
           "  --skip-existing leave every output that exists alone, so a stopped run resumes\n"
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
