// The server's jobs: kept in the data folder with a journal, and run one at
// a time, in the order they came, by one worker thread on the one pool.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/pipeline/shared_pool.h"
#include "cli/web/web_job.h"

namespace crest::cli {

class JobQueue {
public:
    // Reads the journal in folder and queues again what was queued or
    // running when the server stopped; a finished job whose result is gone is
    // made again. Files the journal does not vouch for are removed.
    // Throws CommandError.
    JobQueue(std::string folder, SharedPool& pool);
    ~JobQueue();  // cancels the running job and waits for the worker
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // A folder for uploads on their way in, on the same file system as the jobs.
    const std::string& uploadFolder() const { return uploadFolder_; }

    // Moves the complete upload in and queues it; the job counts once the
    // journal holds it. Returns its id. Throws CommandError with
    // ExitStatus::usage for a request that makes no job, in the user's words.
    std::string submit(const std::string& uploadedPath, WebJobRequest request);

    std::vector<WebJobView> list() const;
    std::optional<WebJobView> find(const std::string& id) const;
    // The source's path; the result's only once done.
    std::optional<std::string> sourcePath(const std::string& id) const;
    std::optional<std::string> resultPath(const std::string& id) const;

    // Stops a queued or running job, keeping its source. False when there is no such job.
    bool cancel(const std::string& id);
    // Cancels the job if it runs and removes it with its files.
    bool remove(const std::string& id);

private:
    struct Entry {
        WebJobRecord record;
        std::unique_ptr<Progress> progress = std::make_unique<Progress>();
        bool removeWhenStopped = false;
    };

    std::string folderOf(const WebJobRecord& record) const;
    std::string sourceOf(const WebJobRecord& record) const;
    std::string resultOf(const WebJobRecord& record) const;
    Entry* findLocked(const std::string& id) const;
    void load();
    void writeJournalLocked() const;
    void removeFilesOf(const WebJobRecord& record) const;
    void work();
    void runOne(Entry& entry);

    const std::string folder_;
    const std::string jobsFolder_;
    const std::string uploadFolder_;
    SharedPool& pool_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::unique_ptr<Entry>> entries_;  // in the order they came
    bool stopping_ = false;
    std::thread worker_;
};

// A job's message with the server's own paths replaced by the names the
// user knows.
std::string inUsersWords(std::string message, const std::string& sourcePath, const std::string& resultPath,
                         const WebJobRequest& request);

}  // namespace crest::cli
