#include "cli/file_access.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/command_error.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace crest::cli {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens a new file that did not exist, so that two runs never share one.
std::FILE* createExclusive(const std::string& path) {
#if defined(_WIN32)
    const int descriptor = _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    return descriptor < 0 ? nullptr : _fdopen(descriptor, "wb");
#else
    const int descriptor = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
    if (descriptor < 0) return nullptr;
    std::FILE* stream = fdopen(descriptor, "wb");
    if (stream == nullptr) close(descriptor);
    return stream;
#endif
}

bool replaceFile(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

int processId() {
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

}  // namespace

std::string systemReason(int error) { return std::strerror(error); }

void useBinaryStandardStreams() {
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

std::FILE* openInputFile(const std::string& path) {
    if (path == "-") return stdin;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) throw CommandError("input " + path + " is a folder, not a file");
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) throw CommandError("cannot open input " + path + ": " + systemReason(errno));
    return stream;
}

void checkOutputFolder(const std::string& path) {
    if (path == "-") return;
    const std::string folder = folderOf(path);
    std::error_code error;
    const auto status = std::filesystem::status(folder, error);
    if (!std::filesystem::exists(status))
        throw CommandError("output folder " + folder + " of " + path + " does not exist");
    if (!std::filesystem::is_directory(status))
        throw CommandError("output folder " + folder + " of " + path + " is not a folder");
    if (std::filesystem::is_directory(path, error)) throw CommandError("output " + path + " is a folder, not a file");
}

ReplacingOutputFile::ReplacingOutputFile(std::string path) : path_(std::move(path)) {
    const std::string stem = folderOf(path_) + "/." + fileNameOf(path_) + ".part-" + std::to_string(processId());
    for (int attempt = 0; attempt < 100 && stream_ == nullptr; ++attempt) {
        temporaryPath_ = stem + "-" + std::to_string(attempt);
        stream_ = createExclusive(temporaryPath_);
        if (stream_ == nullptr && errno != EEXIST) break;
    }
    if (stream_ == nullptr)
        throw CommandError("cannot create a file in the folder of output " + path_ + ": " + systemReason(errno));
}

ReplacingOutputFile::~ReplacingOutputFile() {
    if (stream_ == nullptr) return;
    std::fclose(stream_);
    std::remove(temporaryPath_.c_str());
}

void ReplacingOutputFile::commit() {
    const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const int writeError = errno;
    const bool closed = std::fclose(stream_) == 0;
    const int closeError = errno;
    stream_ = nullptr;
    if (!written || !closed) {
        std::remove(temporaryPath_.c_str());
        throw CommandError("cannot write output " + path_ + ": " + systemReason(written ? closeError : writeError));
    }
    if (!replaceFile(temporaryPath_, path_)) {
        const int renameError = errno;
        std::remove(temporaryPath_.c_str());
        throw CommandError("cannot replace output " + path_ + ": " + systemReason(renameError));
    }
}

}  // namespace crest::cli
