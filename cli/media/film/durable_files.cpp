#include "cli/media/film/durable_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/hash.h>
}

#include "cli/app/command_error.h"
#include "cli/app/file_access.h"
#include "cli/app/temporary_output.h"

namespace crest::cli {

namespace {

[[noreturn]] void failOn(const std::string& what, const std::string& path) {
    throw CommandError("cannot " + what + " " + path + ": " + systemReason(errno));
}

void syncDescriptorOf(const std::string& path, int flags, const char* what) {
    const int descriptor = open(path.c_str(), flags);
    if (descriptor < 0) failOn(what, path);
    const bool synced = fsync(descriptor) == 0;
    const int error = errno;
    close(descriptor);
    errno = error;
    if (!synced) failOn(what, path);
}

struct HashFreer {
    void operator()(AVHashContext* context) const { av_hash_freep(&context); }
};

}  // namespace

void syncFile(const std::string& path) { syncDescriptorOf(path, O_RDONLY, "flush"); }

void syncFolder(const std::string& path) { syncDescriptorOf(path, O_RDONLY | O_DIRECTORY, "flush folder"); }

void writeFileDurably(const std::string& path, const std::string& text) {
    TemporaryOutput file(path);
    std::FILE* stream = std::fopen(file.path().c_str(), "wb");
    if (stream == nullptr) failOn("write", file.path());
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0 &&
                         fsync(fileno(stream)) == 0;
    const int error = errno;
    std::fclose(stream);
    errno = error;
    if (!written) failOn("write", file.path());
    file.commit();
    syncFolder(folderOf(path));
}

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
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
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
