#include "cli/web/job_queue.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <new>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/jobs/job_runner.h"
#include "cli/web/access_token.h"
#include "cli/base/durable_files.h"
#include "cli/web/job_json.h"

namespace crest::cli {

namespace {

namespace fs = std::filesystem;

bool isWord(const std::string& text) {
    if (text.empty() || text.size() > 32) return false;
    for (const char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

std::string inUsersWords(std::string message, const std::string& sourcePath, const std::string& resultPath,
                         const WebJobRequest& request) {
    replaceAll(message, " (see crestdoubler --help)", "");
    replaceAll(message, sourcePath, request.name);
    replaceAll(message, resultPath, resultNameOf(request));
    replaceAll(message, fs::path(resultPath).parent_path().string() + "/", "");
    return message;
}

JobQueue::JobQueue(std::string folder, SharedPool& pool)
    : folder_(std::move(folder)), jobsFolder_(folder_ + "/jobs"), uploadFolder_(folder_ + "/uploads"), pool_(pool) {
    makePrivateFolder(jobsFolder_);
    std::error_code error;
    fs::remove_all(uploadFolder_, error);
    makePrivateFolder(uploadFolder_);
    load();
    worker_ = std::thread([this] { work(); });
}

JobQueue::~JobQueue() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        for (const auto& entry : entries_)
            if (entry->record.state == WebJobState::running) entry->progress->cancel();
    }
    wake_.notify_all();
    worker_.join();
}

std::string JobQueue::folderOf(const WebJobRecord& record) const { return jobsFolder_ + "/" + record.id; }
std::string JobQueue::sourceOf(const WebJobRecord& record) const {
    return folderOf(record) + "/source." + record.request.sourceExtension;
}
std::string JobQueue::resultOf(const WebJobRecord& record) const {
    return folderOf(record) + "/result." + record.request.format;
}

void JobQueue::load() {
    bool exists = false;
    const std::string path = folder_ + "/journal.json";
    const std::string text = readWholeFile(path, &exists);
    std::vector<WebJobRecord> records = exists ? parseJournal(text, path) : std::vector<WebJobRecord>{};
    std::error_code error;
    for (WebJobRecord& record : records) {
        if (!isWord(record.id) || !isWord(record.request.sourceExtension) || !isWord(record.request.format))
            throw CommandError("the journal " + path + " names a file outside its jobs; move it away to start again");
        if (!fs::exists(sourceOf(record), error)) continue;  // removed before the journal said so
        if (record.state == WebJobState::running) record.state = WebJobState::queued;
        if (record.state == WebJobState::done && !fs::exists(resultOf(record), error))
            record.state = WebJobState::queued;
        auto entry = std::make_unique<Entry>();
        entry->record = std::move(record);
        entries_.push_back(std::move(entry));
    }
    // Folders of uploads that never reached the journal.
    for (const fs::directory_entry& item : fs::directory_iterator(jobsFolder_)) {
        const std::string name = item.path().filename().string();
        if (findLocked(name) == nullptr) fs::remove_all(item.path(), error);
    }
    writeJournalLocked();
}

void JobQueue::writeJournalLocked() const {
    std::vector<WebJobRecord> records;
    for (const auto& entry : entries_)
        if (!entry->removeWhenStopped) records.push_back(entry->record);
    writeFileDurably(folder_ + "/journal.json", journalText(records));
}

JobQueue::Entry* JobQueue::findLocked(const std::string& id) const {
    for (const auto& entry : entries_)
        if (entry->record.id == id && !entry->removeWhenStopped) return entry.get();
    return nullptr;
}

void JobQueue::removeFilesOf(const WebJobRecord& record) const {
    std::error_code error;
    fs::remove_all(folderOf(record), error);
    if (error)
        std::fprintf(stderr, "crestdoubler-web: cannot remove %s: %s\n", folderOf(record).c_str(),
                     error.message().c_str());
}

std::string JobQueue::submit(const std::string& uploadedPath, WebJobRequest request) {
    if (!isWord(request.sourceExtension))
        throw CommandError(request.name + " has no extension that names a picture or film format", ExitStatus::usage);
    if (!isWord(request.format))
        throw CommandError("the format is a file extension such as png or mp4", ExitStatus::usage);
    WebJobRecord record;
    record.id = randomHex(8);
    record.request = std::move(request);
    const std::string folder = folderOf(record);
    makePrivateFolder(folder);
    try {
        if (std::rename(uploadedPath.c_str(), sourceOf(record).c_str()) != 0)
            throw CommandError("cannot keep the upload " + record.request.name + ": " + systemReason(errno));
        Job job;
        try {
            job = makeJob(sourceOf(record), resultOf(record), record.request.settings);
        } catch (const CommandError& problem) {
            throw CommandError(inUsersWords(problem.what(), sourceOf(record), resultOf(record), record.request),
                               ExitStatus::usage);
        }
        if (job.kind != JobKind::picture && job.kind != JobKind::film)
            throw CommandError(record.request.name + " is neither a picture nor a film, by its extension",
                               ExitStatus::usage);
        record.kind = job.kind;
        syncPath(folder);
        syncPath(jobsFolder_);
    } catch (...) {
        removeFilesOf(record);
        throw;
    }
    const std::string id = record.id;
    {
        const std::lock_guard lock(mutex_);
        auto entry = std::make_unique<Entry>();
        entry->record = std::move(record);
        entries_.push_back(std::move(entry));
        try {
            writeJournalLocked();
        } catch (...) {
            removeFilesOf(entries_.back()->record);
            entries_.pop_back();
            throw;
        }
    }
    wake_.notify_all();
    return id;
}

std::vector<WebJobView> JobQueue::list() const {
    const std::lock_guard lock(mutex_);
    std::vector<WebJobView> views;
    for (const auto& entry : entries_)
        if (!entry->removeWhenStopped) views.push_back({entry->record, entry->progress->reading()});
    return views;
}

std::optional<WebJobView> JobQueue::find(const std::string& id) const {
    const std::lock_guard lock(mutex_);
    const Entry* entry = findLocked(id);
    if (entry == nullptr) return std::nullopt;
    return WebJobView{entry->record, entry->progress->reading()};
}

std::optional<std::string> JobQueue::sourcePath(const std::string& id) const {
    const std::lock_guard lock(mutex_);
    const Entry* entry = findLocked(id);
    return entry == nullptr ? std::nullopt : std::optional(sourceOf(entry->record));
}

std::optional<std::string> JobQueue::resultPath(const std::string& id) const {
    const std::lock_guard lock(mutex_);
    const Entry* entry = findLocked(id);
    if (entry == nullptr || entry->record.state != WebJobState::done) return std::nullopt;
    return resultOf(entry->record);
}

bool JobQueue::cancel(const std::string& id) {
    const std::lock_guard lock(mutex_);
    Entry* entry = findLocked(id);
    if (entry == nullptr) return false;
    if (entry->record.state == WebJobState::running) {
        entry->progress->cancel();  // the worker records it when the job stops
    } else if (entry->record.state == WebJobState::queued) {
        entry->record.state = WebJobState::cancelled;
        writeJournalLocked();
    }
    return true;
}

bool JobQueue::remove(const std::string& id) {
    const std::lock_guard lock(mutex_);
    Entry* entry = findLocked(id);
    if (entry == nullptr) return false;
    entry->removeWhenStopped = true;
    writeJournalLocked();
    if (entry->record.state == WebJobState::running) {
        entry->progress->cancel();  // the worker removes it when the job stops
        return true;
    }
    removeFilesOf(entry->record);
    std::erase_if(entries_, [&](const auto& item) { return item.get() == entry; });
    return true;
}

void JobQueue::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        Entry* next = nullptr;
        wake_.wait(lock, [&] {
            if (stopping_) return true;
            for (const auto& entry : entries_)
                if (entry->record.state == WebJobState::queued && !entry->removeWhenStopped) {
                    next = entry.get();
                    return true;
                }
            return false;
        });
        if (stopping_) return;
        next->record.state = WebJobState::running;
        next->progress = std::make_unique<Progress>();
        try {
            writeJournalLocked();
        } catch (const CommandError& error) {
            std::fprintf(stderr, "crestdoubler-web: %s\n", error.what());
        }
        lock.unlock();
        runOne(*next);
        lock.lock();
    }
}

void JobQueue::runOne(Entry& entry) {
    // The record's paths and settings do not change while it runs.
    const WebJobRecord& record = entry.record;
    WebJobState outcome = WebJobState::done;
    std::string error;
    try {
        const Job job = makeJob(sourceOf(record), resultOf(record), record.request.settings);
        runJob(job, pool_, *entry.progress);
        // The journal calls it done only once it is on the disk.
        syncPath(resultOf(record));
        syncPath(folderOf(record));
    } catch (const JobCancelled&) {
        outcome = WebJobState::cancelled;
    } catch (const CommandError& problem) {
        outcome = WebJobState::failed;
        error = inUsersWords(problem.what(), sourceOf(record), resultOf(record), record.request);
    } catch (const std::bad_alloc&) {
        outcome = WebJobState::failed;
        error = "out of memory";
    } catch (const std::exception& problem) {
        outcome = WebJobState::failed;
        error = problem.what();
    }
    const std::lock_guard lock(mutex_);
    if (entry.removeWhenStopped) {
        removeFilesOf(entry.record);
        std::erase_if(entries_, [&](const auto& item) { return item.get() == &entry; });
        return;
    }
    if (stopping_ && outcome == WebJobState::cancelled) return;  // stays running in the journal: resumed next time
    entry.record.state = outcome;
    entry.record.error = error;
    try {
        writeJournalLocked();
    } catch (const CommandError& problem) {
        std::fprintf(stderr, "crestdoubler-web: %s\n", problem.what());
    }
}

}  // namespace crest::cli
