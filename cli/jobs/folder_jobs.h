// A folder run: -o OUTDIR IMAGE|FOLDER... as a list of picture jobs, each
// input written into OUTDIR under its own name (a folder tree mirrored
// beneath it with --recursive).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/jobs/job.h"

namespace crest::cli {

struct FolderRequest {
    std::vector<std::string> inputs;  // pictures and folders of pictures
    std::string outputFolder;
    std::string suffix;         // added before each output's extension
    bool recursive = false;     // the pictures of subfolders too, in the same subfolders of outputFolder
    bool skipExisting = false;  // an output that exists is left alone
};

struct FolderPlan {
    std::vector<Job> jobs;              // to run, in order
    std::vector<std::string> problems;  // what cannot be enlarged at all, a message each
    std::int64_t skipped = 0;           // outputs that exist already, with skipExisting
};

// Lists the pictures (hidden files and folders left out, links to folders
// not followed) and checks that no two are written to one output and none
// into itself. Makes the output folder. Throws CommandError when it cannot.
FolderPlan planFolderJobs(const FolderRequest& request, const JobSettings& settings);

}  // namespace crest::cli
