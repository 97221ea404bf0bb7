#include "cli/base/temporary_output.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace crest::cli {

namespace {

// The signal handlers may only read memory and remove files, so the paths of
// open temporary files live in fixed slots rather than in a container.
constexpr int kSlots = 128;
constexpr std::size_t kSlotPathBytes = 4096;

enum SlotState : int { kFree = 0, kClaimed = 1, kLive = 2 };

struct CleanupSlot {
    std::atomic<int> state{kFree};
    char path[kSlotPathBytes];
};

std::array<CleanupSlot, kSlots> cleanupSlots;

int claimSlot(const std::string& path) {
    if (path.size() >= kSlotPathBytes) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!cleanupSlots[i].state.compare_exchange_strong(expected, kClaimed)) continue;
        std::memcpy(cleanupSlots[i].path, path.c_str(), path.size() + 1);
        cleanupSlots[i].state.store(kLive);
        return i;
    }
    return -1;
}

void removeFile(const char* path) {
#if defined(_WIN32)
    _unlink(path);
#else
    unlink(path);
#endif
}

// Written by the handlers as it stands: its length is stored last.
char interruptionNote[kSlotPathBytes];
std::atomic<std::size_t> interruptionNoteLength{0};

extern "C" void removeTemporaryOutputsAndExit(int signalNumber) {
    for (CleanupSlot& slot : cleanupSlots)
        if (slot.state.load() == kLive) removeFile(slot.path);
#if !defined(_WIN32)
    if (const std::size_t length = interruptionNoteLength.load(); length > 0) {
        const ssize_t written = write(STDERR_FILENO, interruptionNote, length);
        static_cast<void>(written);
    }
#endif
    std::_Exit(128 + signalNumber);
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates path as a new file; false when it exists already or cannot be made.
bool createExclusive(const std::string& path) {
#if defined(_WIN32)
    const int descriptor = _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    return descriptor >= 0 && _close(descriptor) == 0;
#else
    const int descriptor = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
    return descriptor >= 0 && close(descriptor) == 0;
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

void removeTemporaryOutputsOnSignals() {
    for (const int signalNumber : {SIGINT, SIGTERM}) std::signal(signalNumber, removeTemporaryOutputsAndExit);
#if defined(SIGHUP)
    std::signal(SIGHUP, removeTemporaryOutputsAndExit);
#endif
}

void setInterruptionNote(const std::string& line) {
    interruptionNoteLength.store(0);
    const std::size_t length = std::min(line.size(), sizeof interruptionNote);
    std::memcpy(interruptionNote, line.data(), length);
    interruptionNoteLength.store(length);
}

TemporaryOutput::TemporaryOutput(std::string destination, const std::string& folder)
    : destination_(std::move(destination)) {
    const std::string name = fileNameOf(destination_);
    const auto dot = name.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot != 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : "";
    const std::string start =
        (folder.empty() ? folderOf(destination_) : folder) + "/." + stem + ".part-" + std::to_string(processId()) + "-";
    int error = 0;
    for (int attempt = 0; attempt < 1000 && !open_; ++attempt) {
        path_ = start + std::to_string(attempt) + extension;
        slot_ = claimSlot(path_);
        if (slot_ < 0) throw CommandError("cannot write " + destination_ + ": too many outputs open at once");
        open_ = createExclusive(path_);
        if (open_) break;
        error = errno;
        cleanupSlots[slot_].state.store(kFree);
        slot_ = -1;
        if (error != EEXIST) break;
    }
    if (!open_)
        throw CommandError("cannot create a file in the folder of output " + destination_ + ": " +
                           systemReason(error));
}

TemporaryOutput::~TemporaryOutput() { discard(); }

void TemporaryOutput::discard() {
    if (!open_) return;
    std::remove(path_.c_str());
    open_ = false;
    cleanupSlots[slot_].state.store(kFree);
    slot_ = -1;
}

void TemporaryOutput::commit() {
    if (!open_) throw CommandError("cannot replace output " + destination_ + ": its temporary file is gone");
    if (!replaceFile(path_, destination_)) {
        const int renameError = errno;
        discard();
        throw CommandError("cannot replace output " + destination_ + ": " + systemReason(renameError));
    }
    open_ = false;
    cleanupSlots[slot_].state.store(kFree);
    slot_ = -1;
}

}  // namespace crest::cli
