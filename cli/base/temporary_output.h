// Outputs are written to a temporary file beside their destination and renamed
// over it only when complete, so a failure or an interrupt never leaves a
// partial file, and an existing destination stays as it was until then.
#pragma once

#include <string>

namespace crest::cli {

// Installs handlers for SIGINT, SIGTERM and SIGHUP (where the platform has
// them) that remove every temporary output still open and exit with the
// conventional status 128 + signal number (130, 143, 129).
void removeTemporaryOutputsOnSignals();

// A line the handlers write to stderr before they exit, such as where the
// work done so far is kept; empty for none.
void setInterruptionNote(const std::string& line);

class TemporaryOutput {
public:
    // Creates an empty, new file beside destination (or in folder, on the
    // same file system), named .NAME.part-PID-N.EXT so that the destination's
    // extension still names its format. Throws CommandError.
    explicit TemporaryOutput(std::string destination, const std::string& folder = {});
    ~TemporaryOutput();  // removes the file unless committed
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    const std::string& path() const { return path_; }
    const std::string& destination() const { return destination_; }

    // Renames the file over the destination. Throws CommandError, having
    // removed the file.
    void commit();
    // Removes the file now.
    void discard();

private:
    std::string destination_;
    std::string path_;
    int slot_ = -1;  // entry in the list the signal handlers clean up
    bool open_ = false;
};

}  // namespace crest::cli
