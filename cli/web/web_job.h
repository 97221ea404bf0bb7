// A job the page or a script handed in: what the journal keeps of it, and
// what the API shows.
#pragma once

#include <optional>
#include <string>

#include "cli/base/progress.h"
#include "cli/jobs/job.h"

namespace crest::cli {

enum class WebJobState { queued, running, done, failed, cancelled };

const char* nameOf(WebJobState state);
std::optional<WebJobState> webJobStateNamed(const std::string& name);

// What a request asks for; the uploaded file's own name is kept as text only
// and never reaches a path.
struct WebJobRequest {
    std::string name;             // as uploaded, control characters dropped
    std::string sourceExtension;  // lower case letters and digits
    std::string format;           // the result's extension, likewise
    JobSettings settings;         // quality, codec, crf, preset
};

// One entry of the journal.
struct WebJobRecord {
    std::string id;  // made by the server: hex digits
    WebJobRequest request;
    JobKind kind = JobKind::picture;
    WebJobState state = WebJobState::queued;
    std::string error;  // when failed
};

// A job as the API shows it, taken under the queue's lock.
struct WebJobView {
    WebJobRecord record;
    ProgressReading reading;
};

// The download name: the uploaded name's stem, "-2x", the result's extension.
std::string resultNameOf(const WebJobRequest& request);

}  // namespace crest::cli
