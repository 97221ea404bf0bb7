#include "cli/base/durable_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/base/temporary_output.h"

namespace crest::cli {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw CommandError("cannot " + what + " " + path + ": " + systemReason(errno));
}

void writeAll(int fd, const std::string& contents, const std::string& path) {
    std::size_t written = 0;
    while (written < contents.size()) {
        const ssize_t count = ::write(fd, contents.data() + written, contents.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) fail("write", path);
        written += static_cast<std::size_t>(count);
    }
}

}  // namespace

void syncPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("open", path);
    const int status = ::fsync(fd);
    const int reason = errno;
    ::close(fd);
    errno = reason;
    if (status != 0) fail("flush to disk", path);
}

void writeFileDurably(const std::string& path, const std::string& contents) {
    // Hidden and removed on a signal like every temporary output; one a kill
    // leaves is never taken for the file.
    TemporaryOutput file(path);
    if (::chmod(file.path().c_str(), 0600) != 0) fail("create", file.path());
    const int fd = ::open(file.path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) fail("create", file.path());
    try {
        writeAll(fd, contents, file.path());
        if (::fsync(fd) != 0) fail("flush to disk", file.path());
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) fail("write", file.path());
    file.commit();
    syncPath(folderOf(path));
}

std::string readWholeFile(const std::string& path, bool* exists) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    *exists = fd >= 0;
    if (fd < 0) {
        if (errno == ENOENT) return {};
        fail("read", path);
    }
    std::string contents;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            const int reason = errno;
            ::close(fd);
            errno = reason;
            fail("read", path);
        }
        if (count == 0) break;
        contents.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return contents;
}

void makePrivateFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) throw CommandError("cannot make the folder " + path + ": " + error.message());
    if (::chmod(path.c_str(), 0700) != 0) fail("make private the folder", path);
}

}  // namespace crest::cli
