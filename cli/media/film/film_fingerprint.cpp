#include "cli/media/film/film_fingerprint.h"

#include <algorithm>
#include <cstdio>

#include <sys/stat.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include "cli/base/durable_files.h"
#include "cli/media/film/file_digest.h"

namespace crest::cli {

namespace {

constexpr std::int64_t kEndBytes = 1 << 20;

// Size, modification time and hashes of the first and last MiB. An image
// sequence pattern names no one file: its frames' layout stands for it.
std::string fileIdentity(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return "pattern";
    const FileDigest head = digestFile(path, 0, kEndBytes);
    const FileDigest tail = digestFile(path, std::max<std::int64_t>(0, head.size - kEndBytes), kEndBytes);
    return "size=" + std::to_string(head.size) + " mtime=" + std::to_string(status.st_mtim.tv_sec) + "." +
           std::to_string(status.st_mtim.tv_nsec) + " head=" + head.hash + " tail=" + tail.hash;
}

std::string streamLayout(const AVFormatContext& format) {
    std::string text;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream& stream = *format.streams[i];
        const AVCodecParameters& p = *stream.codecpar;
        const char* type = av_get_media_type_string(p.codec_type);
        char entry[160];
        std::snprintf(entry, sizeof entry, " %u:%s:%s:%dx%d:%d:%d:%d/%d", i, type != nullptr ? type : "data",
                      avcodec_get_name(p.codec_id), p.width, p.height, p.sample_rate, p.ch_layout.nb_channels,
                      stream.time_base.num, stream.time_base.den);
        text += entry;
    }
    return text;
}

template <typename T>
std::string optional(const std::optional<T>& value) {
    if (!value) return "-";
    if constexpr (std::is_same_v<T, double>) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", *value);
        return text;
    } else {
        return std::to_string(*value);
    }
}

}  // namespace

std::string filmFingerprint(const FilmFingerprintParts& parts) {
    const FilmSelection& s = parts.selection;
    return "journal crestdoubler film pieces 1\n"
           "input " + fileIdentity(parts.input) + "\n" +
           "streams" + streamLayout(parts.format) + "\n" +
           "selection stream=" + optional(s.stream) + " start=" + optional(s.startSeconds) +
           " first-frame=" + optional(s.firstFrame) + " frames=" + optional(s.frameLimit) +
           " video-only=" + (s.videoOnly ? "1" : "0") + "\n" +
           "encoding " + parts.encoding.description() + "\n" +
           "pieces frames=" + std::to_string(parts.pieceFrames) + "\n" +
           "module " + fileIdentity(parts.modulePath) + "\n" +
           "libraries " + av_version_info() + " avcodec=" + std::to_string(avcodec_version()) +
           " avformat=" + std::to_string(avformat_version()) + " swscale=" + std::to_string(swscale_version()) +
           " avutil=" + std::to_string(avutil_version()) + "\n";
}

std::string describeFingerprintChange(const std::string& name) {
    if (name == "input" || name == "streams") return "the input has changed";
    if (name == "selection" || name == "encoding" || name == "pieces") return "the options have changed";
    if (name == "module") return "the filter module has changed";
    if (name == "libraries") return "the encoding libraries have changed";
    return "the journal is from another version";
}

}  // namespace crest::cli
