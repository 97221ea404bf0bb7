#include "cli/jobs/job_runner.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "cli/base/command_error.h"
#include "cli/media/picture/still_images.h"
#include "cli/media/raw/raw_stream.h"
#include "cli/pipeline/frame_pipeline.h"
#if CRESTDOUBLER_WITH_VIDEO
#include "cli/media/film/film_transcoder.h"
#include "cli/media/reduction/lanczos_reducer.h"
#endif

namespace crest::cli {

namespace {

namespace fs = std::filesystem;

FrameSize runPicture(const Job& job, SharedPool& pool, int instances, Progress& progress) {
    const PictureOutput kind = job.kind == JobKind::pictureToRaw ? PictureOutput::raw : PictureOutput::picture;
    return enlargePictureFile(job.input, job.output, kind, job.settings.picture, job.settings.scale, pool, instances,
                              progress);
}

// Raw frames are reduced by libswscale, which comes with the film libraries.
StreamEnlargement streamEnlargement(const Enlargement& enlargement, FrameSize source) {
#if CRESTDOUBLER_WITH_VIDEO
    return streamEnlargementFor(enlargement, source);
#else
    if (!enlargement.target) return {enlargement.passes, {}};
    (void)source;
    throw CommandError("--width and --height need libswscale for raw frames, and this build has none",
                       ExitStatus::usage);
#endif
}

void makeFolderFor(const std::string& output) {
    const fs::path folder = fs::path(output).parent_path();
    std::error_code error;
    if (!folder.empty() && !fs::is_directory(folder, error) && !fs::create_directories(folder, error) && error)
        throw CommandError("cannot make folder " + folder.string() + ": " + error.message());
}

}  // namespace

FrameSize runJob(const Job& job, SharedPool& pool, Progress& progress) {
    switch (job.kind) {
    case JobKind::picture:
    case JobKind::pictureToRaw:
        return runPicture(job, pool, pool.instances(), progress);
    case JobKind::rawFrameToPicture:
        return enlargeRawFrameIntoPicture(job.input, *job.settings.rawSize, job.output, job.settings.picture,
                                          job.settings.scale, pool, progress);
    case JobKind::rawStream: {
        const FrameSize size = *job.settings.rawSize;
        const Enlargement enlargement = planEnlargement(job.settings.scale, size, describePath(job.input, true));
        RawFrameReader reader(job.input, size);
        RawFrameWriter writer(job.output);
        enlargeWholeStream(reader, writer, pool.pool(), progress, streamEnlargement(enlargement, size));
        return outputSize(enlargement, size);
    }
    case JobKind::film:
#if CRESTDOUBLER_WITH_VIDEO
        return enlargeFilm(job.input, job.output, job.settings.film, job.settings.scale, pool, progress);
#else
        throw CommandError("cannot handle " + job.input + ": video files are not supported by this build");
#endif
    }
    throw CommandError("unknown kind of job");
}

FolderOutcome runFolderJobs(const FolderPlan& plan, SharedPool& pool, Progress& progress,
                            const std::function<void(const std::string&)>& report) {
    // A module that cannot be loaded fails the run once, not each picture.
    if (!plan.jobs.empty()) pool.pool();
    progress.setTotal(static_cast<std::int64_t>(plan.jobs.size()));
    std::mutex reportLock;
    std::atomic<std::int64_t> failed = 0;
    auto fail = [&](const std::string& message) {
        ++failed;
        const std::lock_guard lock(reportLock);
        report(message);
    };
    // Pictures side by side on the one pool: each picture's decoder and
    // encoder on a thread of its own, its bands cut for its share of the
    // instances.
    const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(pool.instances()), plan.jobs.size());
    const int share = std::max(pool.instances() / static_cast<int>(std::max<std::size_t>(threads, 1)), 1);
    std::atomic<std::size_t> next = 0;
    auto worker = [&] {
        for (std::size_t i; (i = next++) < plan.jobs.size();) {
            const Job& job = plan.jobs[i];
            // Each picture's rows are its own; the folder counts pictures.
            Progress rows;
            try {
                progress.throwIfCancelled();
                makeFolderFor(job.output);
                runPicture(job, pool, share, rows);
            } catch (const JobCancelled&) {
                return;
            } catch (const std::bad_alloc&) {
                fail("out of memory enlarging " + job.input);
            } catch (const std::exception& failure) {
                const std::string message = failure.what();
                fail(message.find(job.input) == std::string::npos ? job.input + ": " + message : message);
            }
            progress.advance();
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t i = 1; i < threads; ++i) workers.emplace_back(worker);
    worker();
    for (std::thread& thread : workers) thread.join();
    progress.throwIfCancelled();
    const std::int64_t failures = failed;
    return {static_cast<std::int64_t>(plan.jobs.size()) - failures, failures};
}

}  // namespace crest::cli
