// Running jobs on the pool a run shares, whatever front end took them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cli/base/progress.h"
#include "cli/jobs/folder_jobs.h"
#include "cli/jobs/job.h"
#include "cli/pipeline/shared_pool.h"

namespace crest::cli {

// Runs one job with all of the pool's instances; progress counts the units
// of progressUnitOf(job.kind). The output is complete when it returns.
// Returns the size of the output's frames. Throws CommandError, JobCancelled
// once progress was cancelled.
FrameSize runJob(const Job& job, SharedPool& pool, Progress& progress);

struct FolderOutcome {
    std::int64_t enlarged = 0;
    std::int64_t failed = 0;
};

// Runs the plan's jobs, up to one picture per instance side by side on the
// one pool, making the subfolders their outputs need. A job that fails is
// reported (one line each, naming its input) and the others go on.
// progress counts pictures done, failed ones included.
FolderOutcome runFolderJobs(const FolderPlan& plan, SharedPool& pool, Progress& progress,
                            const std::function<void(const std::string&)>& report);

}  // namespace crest::cli
