// crestdoubler: enlarges pictures and raw frame streams 2:1 through the filter module.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/base/progress.h"
#include "cli/base/temporary_output.h"
#include "cli/command/options.h"
#include "cli/command/progress_line.h"
#include "cli/hosting/filter_host.h"
#include "cli/hosting/module_loader.h"
#include "cli/jobs/folder_jobs.h"
#include "cli/jobs/job.h"
#include "cli/jobs/job_runner.h"
#include "cli/media/picture/image_io.h"
#include "cli/pipeline/shared_pool.h"

#ifndef CRESTDOUBLER_VERSION
#define CRESTDOUBLER_VERSION "unknown"
#endif

namespace crest::cli {
namespace {

// Reports a folder run's failures as they come, then one line of what was
// done when anything was left out or stderr is a terminal.
ExitStatus runFolder(const Options& options, SharedPool& pool) {
    const FolderPlan plan = planFolderJobs(*options.folder, options.settings);
    for (const std::string& problem : plan.problems) std::fprintf(stderr, "crestdoubler: %s\n", problem.c_str());
    Progress progress;
    ProgressLine line(progress, "pictures", stderrIsTerminal());
    FolderOutcome outcome;
    try {
        outcome = runFolderJobs(plan, pool, progress, [&](const std::string& message) {
            line.finish(false);
            std::fprintf(stderr, "crestdoubler: %s\n", message.c_str());
        });
    } catch (...) {
        line.finish(false);
        throw;
    }
    line.finish(true);
    const std::int64_t failed = outcome.failed + static_cast<std::int64_t>(plan.problems.size());
    if (failed > 0 || plan.skipped > 0 || stderrIsTerminal())
        std::fprintf(stderr, "crestdoubler: %lld picture%s enlarged, %lld skipped, %lld failed\n",
                     static_cast<long long>(outcome.enlarged), outcome.enlarged == 1 ? "" : "s",
                     static_cast<long long>(plan.skipped), static_cast<long long>(failed));
    return failed > 0 ? ExitStatus::failure : ExitStatus::success;
}

ExitStatus runSingle(const Options& options, SharedPool& pool) {
    const Job job = makeJob(options.input, options.output, options.settings);
    std::error_code error;
    if (options.skipExisting && job.output != "-" && std::filesystem::exists(job.output, error))
        return ExitStatus::success;
    Progress progress;
    // A picture is quick: its rows are not worth a line.
    const bool streamed = job.kind == JobKind::film || job.kind == JobKind::rawStream;
    ProgressLine line(progress, progressUnitOf(job.kind), streamed && stderrIsTerminal());
    FrameSize size;
    try {
        size = runJob(job, pool, progress);
    } catch (...) {
        line.finish(false);
        throw;
    }
    line.finish(true);
    // Scripts hear nothing on success; a person at a terminal is told what came of it.
    const bool named =
        job.kind == JobKind::picture || job.kind == JobKind::rawFrameToPicture || job.kind == JobKind::film;
    if (named && stderrIsTerminal())
        std::fprintf(stderr, "crestdoubler: wrote %s, %d\xc3\x97%d, in %.2f s\n", job.output.c_str(), size.width,
                     size.height, progress.reading().seconds);
    return ExitStatus::success;
}

ExitStatus enlargeFrames(const Options& options) {
    SharedPool pool(options.modulePath.value_or(defaultModulePath()), options.threads);
    return options.folder ? runFolder(options, pool) : runSingle(options, pool);
}

ExitStatus run(const std::vector<std::string>& arguments) {
    const Options options = parseOptions(arguments);
    if (options.showHelp) {
        std::fputs((usageText() + "\n" + imageFormatsHelp()).c_str(), stdout);
        return ExitStatus::success;
    }
    if (options.showVersion) {
        std::printf("crestdoubler %s (host interface version %d)\n", CRESTDOUBLER_VERSION,
                    static_cast<int>(kHostInterfaceVersion));
        return ExitStatus::success;
    }
    const ExitStatus status = enlargeFrames(options);
    if (std::fflush(stdout) != 0) throw CommandError("cannot write to standard output: " + systemReason(errno));
    return status;
}

}  // namespace
}  // namespace crest::cli

int main(int argc, char** argv) {
    using namespace crest::cli;
#if defined(SIGPIPE)
    // A reader that goes away becomes a write error with a message, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
#endif
#if defined(SIGXFSZ)
    // So does a file size limit, like a full disk; the partial output is then removed.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    removeTemporaryOutputsOnSignals();
    useBinaryStandardStreams();
    const ImageLibraryScope imageLibrary;
    try {
        return static_cast<int>(run(std::vector<std::string>(argv + 1, argv + argc)));
    } catch (const CommandError& error) {
        std::fprintf(stderr, "crestdoubler: %s\n", error.what());
        return static_cast<int>(error.status());
    } catch (const std::bad_alloc&) {
        std::fputs("crestdoubler: out of memory\n", stderr);
        return static_cast<int>(ExitStatus::failure);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "crestdoubler: %s\n", error.what());
        return static_cast<int>(ExitStatus::failure);
    }
}
