// The one exception the command reports: a line for stderr and an exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace crest::cli {

enum class ExitStatus : int {
    success = 0,
    failure = 1,  // a file, the module or a frame could not be handled
    usage = 2,    // the command line itself is wrong
};

class CommandError : public std::runtime_error {
public:
    explicit CommandError(const std::string& message, ExitStatus status = ExitStatus::failure)
        : std::runtime_error(message), status_(status) {}
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

// A job stopped because its user asked (see Progress::cancel).
class JobCancelled : public CommandError {
public:
    JobCancelled() : CommandError("cancelled") {}
};

// Names a file in messages; standard input and output have no name.
inline std::string describePath(const std::string& path, bool isInput) {
    if (path == "-") return isInput ? "standard input" : "standard output";
    return path;
}

}  // namespace crest::cli
