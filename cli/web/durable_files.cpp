#include "cli/web/durable_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"

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

void makePrivateFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) throw CommandError("cannot make the folder " + path + ": " + error.message());
    if (::chmod(path.c_str(), 0700) != 0) fail("make private the folder", path);
}

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
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) fail("create", temporary);
    try {
        writeAll(fd, contents, temporary);
        if (::fsync(fd) != 0) fail("flush to disk", temporary);
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    if (::close(fd) != 0) fail("write", temporary);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int reason = errno;
        ::unlink(temporary.c_str());
        errno = reason;
        fail("replace", path);
    }
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

}  // namespace crest::cli
