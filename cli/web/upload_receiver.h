// A multipart/form-data upload, streamed into a file of the upload folder as
// it arrives: the part "file" and a few short fields beside it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include <microhttpd.h>

#include "cli/web/reply.h"

namespace crest::cli {

class UploadReceiver {
public:
    // Throws CommandError with ExitStatus::usage when the request is not multipart.
    UploadReceiver(MHD_Connection* connection, const std::string& folder, std::int64_t maxBytes);
    ~UploadReceiver();  // removes the file unless taken
    UploadReceiver(const UploadReceiver&) = delete;
    UploadReceiver& operator=(const UploadReceiver&) = delete;

    void feed(const char* data, std::size_t size);

    // Once the body is in: the refusal, if there is one; otherwise the file
    // is flushed to disk and path(), fileName() and fields() tell what came.
    std::optional<Reply> finish();

    const std::string& path() const { return path_; }
    const std::string& fileName() const { return fileName_; }
    const std::map<std::string, std::string>& fields() const { return fields_; }
    // The file is the caller's from now on.
    void release() { path_.clear(); }

private:
    static MHD_Result iterate(void* self, MHD_ValueKind kind, const char* key, const char* filename,
                              const char* contentType, const char* encoding, const char* data, uint64_t offset,
                              size_t size);
    MHD_Result take(const char* key, const char* filename, const char* data, std::size_t size);
    void fail(unsigned status, std::string message);
    void closeFile();

    MHD_PostProcessor* processor_ = nullptr;
    std::string folder_;
    std::int64_t maxBytes_;
    std::int64_t received_ = 0;
    int fd_ = -1;
    std::string path_;
    std::string fileName_;
    bool fileSeen_ = false;
    std::map<std::string, std::string> fields_;
    std::optional<Reply> refusal_;
};

// The uploaded name as text to show: its last path component, without
// control characters; never used in a path.
std::string displayNameOf(const std::string& uploadedName);

}  // namespace crest::cli
