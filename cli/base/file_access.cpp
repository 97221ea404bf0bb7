#include "cli/base/file_access.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/base/command_error.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace crest::cli {

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

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

ReplacingOutputFile::ReplacingOutputFile(std::string path) : file_(std::move(path)) {
    stream_ = std::fopen(file_.path().c_str(), "wb");
    if (stream_ == nullptr)
        throw CommandError("cannot write output " + file_.destination() + ": " + systemReason(errno));
}

ReplacingOutputFile::~ReplacingOutputFile() {
    if (stream_ != nullptr) std::fclose(stream_);
}

void ReplacingOutputFile::commit() {
    const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const int writeError = errno;
    const bool closed = std::fclose(stream_) == 0;
    const int closeError = errno;
    stream_ = nullptr;
    if (!written || !closed) {
        file_.discard();
        throw CommandError("cannot write output " + file_.destination() + ": " +
                           systemReason(written ? closeError : writeError));
    }
    file_.commit();
}

}  // namespace crest::cli
