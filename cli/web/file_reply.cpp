#include "cli/web/file_reply.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "cli/jobs/path_kind.h"

namespace crest::cli {

namespace {

const char* mediaTypeOf(const std::string& extension) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {"png", "image/png"},   {"jpg", "image/jpeg"},  {"jpeg", "image/jpeg"},       {"webp", "image/webp"},
        {"gif", "image/gif"},   {"tif", "image/tiff"},  {"tiff", "image/tiff"},       {"avif", "image/avif"},
        {"mp4", "video/mp4"},   {"m4v", "video/mp4"},   {"webm", "video/webm"},       {"mkv", "video/x-matroska"},
        {"mov", "video/quicktime"}, {"ogv", "video/ogg"}};
    for (const auto& [known, type] : kTypes)
        if (extension == known) return type;
    return "application/octet-stream";
}

// attachment; filename="ASCII" plus the UTF-8 name for browsers that read it.
std::string contentDisposition(const std::string& name) {
    std::string ascii;
    std::string encoded;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= 'A' && byte <= 'Z') || byte == '.' || byte == '-' || byte == '_';
        ascii += plain || byte == ' ' ? c : '_';
        if (plain) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kDigits[byte >> 4];
            encoded += kDigits[byte & 15];
        }
    }
    return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + encoded;
}

// bytes=FIRST-LAST, bytes=FIRST- or bytes=-SUFFIX, of a file of size bytes;
// nullopt for anything else, which is then answered whole.
std::optional<std::pair<std::uint64_t, std::uint64_t>> byteRange(const std::optional<std::string>& header,
                                                                 std::uint64_t size) {
    if (!header || header->rfind("bytes=", 0) != 0 || header->find(',') != std::string::npos || size == 0)
        return std::nullopt;
    const std::string spec = header->substr(6);
    const auto dash = spec.find('-');
    if (dash == std::string::npos) return std::nullopt;
    const std::string first = spec.substr(0, dash);
    const std::string last = spec.substr(dash + 1);
    const auto number = [](const std::string& text) -> std::optional<std::uint64_t> {
        if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        return std::strtoull(text.c_str(), nullptr, 10);
    };
    if (first.empty()) {
        const auto suffix = number(last);
        if (!suffix || *suffix == 0) return std::nullopt;
        const std::uint64_t length = std::min(*suffix, size);
        return std::pair{size - length, size - 1};
    }
    const auto from = number(first);
    if (!from || *from >= size) return std::nullopt;
    std::uint64_t to = size - 1;
    if (!last.empty()) {
        const auto until = number(last);
        if (!until || *until < *from) return std::nullopt;
        to = std::min(*until, size - 1);
    }
    return std::pair{*from, to};
}

}  // namespace

Reply fileReply(const std::string& path, const std::string& downloadName,
                const std::optional<std::string>& rangeHeader) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        if (fd >= 0) ::close(fd);
        return errorReply(404, "the file is gone");
    }
    Reply reply;
    reply.fd = fd;
    reply.contentType = mediaTypeOf(lowerExtension(path));
    reply.length = static_cast<std::uint64_t>(status.st_size);
    reply.headers = {{"Content-Disposition", contentDisposition(downloadName)}, {"Accept-Ranges", "bytes"}};
    if (const auto range = byteRange(rangeHeader, reply.length)) {
        reply.status = 206;
        reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                                        std::to_string(range->second) + "/" +
                                                        std::to_string(reply.length));
        reply.offset = range->first;
        reply.length = range->second - range->first + 1;
    }
    return reply;
}

}  // namespace crest::cli
