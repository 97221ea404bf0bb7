#include "cli/media/film/file_digest.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/hash.h>
}

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"

namespace crest::cli {

namespace {

[[noreturn]] void failOn(const std::string& what, const std::string& path) {
    throw CommandError("cannot " + what + " " + path + ": " + systemReason(errno));
}

struct HashFreer {
    void operator()(AVHashContext* context) const { av_hash_freep(&context); }
};

}  // namespace

FileDigest digestFile(const std::string& path, std::int64_t offset, std::int64_t limit) {
    const int descriptor = open(path.c_str(), O_RDONLY);
    if (descriptor < 0) failOn("read", path);
    const std::unique_ptr<int, void (*)(int*)> closer(new int(descriptor), [](int* d) {
        close(*d);
        delete d;
    });
    struct stat status {};
    if (fstat(descriptor, &status) != 0) failOn("read", path);
    AVHashContext* opened = nullptr;
    if (av_hash_alloc(&opened, "murmur3") < 0) throw std::bad_alloc();
    const std::unique_ptr<AVHashContext, HashFreer> hash(opened);
    av_hash_init(hash.get());
    if (offset > 0 && lseek(descriptor, offset, SEEK_SET) < 0) failOn("read", path);
    std::vector<std::uint8_t> buffer(1 << 20);
    for (std::int64_t left = limit; left > 0;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
        const ssize_t got = read(descriptor, buffer.data(), wanted);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) failOn("read", path);
        if (got == 0) break;
        av_hash_update(hash.get(), buffer.data(), static_cast<std::size_t>(got));
        left -= got;
    }
    char hex[2 * AV_HASH_MAX_SIZE + 1] = {};
    av_hash_final_hex(hash.get(), reinterpret_cast<std::uint8_t*>(hex), sizeof hex);
    return FileDigest{static_cast<std::int64_t>(status.st_size), hex};
}

}  // namespace crest::cli
