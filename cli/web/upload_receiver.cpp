#include "cli/web/upload_receiver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/web/access_token.h"

namespace crest::cli {

namespace {

constexpr std::size_t kProcessorBuffer = 32 * 1024;
constexpr std::size_t kFieldBytes = 256;
constexpr std::size_t kFieldCount = 16;
constexpr std::size_t kNameBytes = 255;

}  // namespace

std::string displayNameOf(const std::string& uploadedName) {
    const auto slash = uploadedName.find_last_of("/\\");
    const std::string last = slash == std::string::npos ? uploadedName : uploadedName.substr(slash + 1);
    std::string name;
    for (const char c : last)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) name += c;
    if (name == "." || name == "..") name.clear();
    if (name.size() > kNameBytes) name.erase(0, name.size() - kNameBytes);  // keep the extension
    return name;
}

UploadReceiver::UploadReceiver(MHD_Connection* connection, const std::string& folder, std::int64_t maxBytes)
    : folder_(folder), maxBytes_(maxBytes) {
    processor_ = MHD_create_post_processor(connection, kProcessorBuffer, &UploadReceiver::iterate, this);
    if (processor_ == nullptr)
        throw CommandError("an upload is multipart/form-data with a part named file", ExitStatus::usage);
}

UploadReceiver::~UploadReceiver() {
    if (processor_ != nullptr) MHD_destroy_post_processor(processor_);
    closeFile();
    if (!path_.empty()) ::unlink(path_.c_str());
}

void UploadReceiver::closeFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void UploadReceiver::fail(unsigned status, std::string message) {
    if (!refusal_) refusal_ = errorReply(status, message);
    closeFile();
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
}

void UploadReceiver::feed(const char* data, std::size_t size) {
    // After a refusal the rest is read and dropped, so that the client gets the answer.
    if (refusal_ || processor_ == nullptr) return;
    if (MHD_post_process(processor_, data, size) != MHD_YES && !refusal_)
        fail(400, "the upload is not well-formed multipart/form-data");
}

MHD_Result UploadReceiver::iterate(void* self, MHD_ValueKind, const char* key, const char* filename, const char*,
                                   const char*, const char* data, uint64_t, size_t size) {
    return static_cast<UploadReceiver*>(self)->take(key, filename, data, size);
}

MHD_Result UploadReceiver::take(const char* key, const char* filename, const char* data, std::size_t size) {
    if (refusal_) return MHD_YES;
    const std::string name = key == nullptr ? "" : key;
    if (name != "file") {
        std::string& field = fields_[name];
        if (fields_.size() > kFieldCount || field.size() + size > kFieldBytes) {
            fail(400, "the field " + displayNameOf(name) + " is too long");
            return MHD_YES;
        }
        field.append(data, size);
        return MHD_YES;
    }
    if (fd_ < 0) {
        if (fileSeen_) {
            fail(400, "one file per upload");
            return MHD_YES;
        }
        fileSeen_ = true;
        fileName_ = displayNameOf(filename == nullptr ? "" : filename);
        path_ = folder_ + "/" + randomHex(8);
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            path_.clear();
            fail(500, "cannot store the upload: " + systemReason(errno));
            return MHD_YES;
        }
    }
    received_ += static_cast<std::int64_t>(size);
    if (received_ > maxBytes_) {
        fail(413, "the file is larger than the server's --max-upload of " + std::to_string(maxBytes_) + " bytes");
        return MHD_YES;
    }
    std::size_t written = 0;
    while (written < size) {
        const ssize_t count = ::write(fd_, data + written, size - written);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            fail(errno == ENOSPC ? 507 : 500, "cannot store the upload: " + systemReason(errno));
            return MHD_YES;
        }
        written += static_cast<std::size_t>(count);
    }
    return MHD_YES;
}

std::optional<Reply> UploadReceiver::finish() {
    // False when the body ended inside a part.
    const bool complete = MHD_destroy_post_processor(processor_) == MHD_YES;
    processor_ = nullptr;
    if (refusal_) return refusal_;
    if (!complete) fail(400, "the upload ended before its last part");
    else if (!fileSeen_) fail(400, "the upload has no part named file");
    else if (fileName_.empty()) fail(400, "the uploaded file has no name");
    else if (::fsync(fd_) != 0) fail(errno == ENOSPC ? 507 : 500, "cannot store the upload: " + systemReason(errno));
    closeFile();
    return refusal_;
}

}  // namespace crest::cli
