#include "cli/jobs/folder_jobs.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "cli/base/command_error.h"
#include "cli/jobs/path_kind.h"
#include "cli/media/picture/picture_formats.h"

namespace crest::cli {

namespace {

namespace fs = std::filesystem;

bool sameFile(const fs::path& first, const fs::path& second) {
    std::error_code error;
    return first == second || fs::equivalent(first, second, error);
}

bool isHidden(const fs::path& path) {
    const std::string name = path.filename().string();
    return name.empty() || name[0] == '.';
}

// OUTDIR/SUBFOLDER/NAME with the suffix before the extension; the pictures
// of a format the command only reads are written as PNG.
std::string outputPathFor(const fs::path& input, const fs::path& subfolder, const FolderRequest& request) {
    const std::string name = input.filename().string();
    const auto dot = name.find_last_of('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const PictureFormat* format = pictureFormatOfExtension(lowerExtension(name));
    const std::string extension = format != nullptr && !format->writable ? ".png"
                                  : dot == std::string::npos || dot == 0 ? ""
                                                                         : name.substr(dot);
    return (fs::path(request.outputFolder) / subfolder / (stem + request.suffix + extension)).string();
}

struct Found {
    fs::path picture;
    fs::path subfolder;  // where it lies below the folder named on the command line
};

class FolderWalk {
public:
    FolderWalk(const FolderRequest& request, FolderPlan& plan) : request_(request), plan_(plan) {}

    // The pictures of folder, by name, and with recursive those of its
    // subfolders after them; a folder that cannot be listed is a problem.
    void walk(const fs::path& folder, const fs::path& subfolder, std::vector<Found>& found) {
        std::vector<fs::path> pictures;
        std::vector<fs::path> folders;
        std::error_code error;
        for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
            const fs::path& path = entry->path();
            if (isHidden(path)) continue;
            std::error_code kindError;
            if (entry->is_directory(kindError)) {
                // A link to a folder could lead back up the tree; the output folder holds results.
                if (request_.recursive && !entry->is_symlink(kindError) && !sameFile(path, request_.outputFolder))
                    folders.push_back(path);
            } else if (entry->is_regular_file(kindError) && kindOfPath(path.string()) == PathKind::image) {
                pictures.push_back(path);
            }
        }
        if (error) {
            if (subfolder.empty()) throw CommandError("cannot list folder " + folder.string() + ": " + error.message());
            plan_.problems.push_back("cannot list folder " + folder.string() + ": " + error.message());
            return;
        }
        std::sort(pictures.begin(), pictures.end());
        std::sort(folders.begin(), folders.end());
        for (const fs::path& picture : pictures) found.push_back({picture, subfolder});
        for (const fs::path& inner : folders) walk(inner, subfolder / inner.filename(), found);
    }

private:
    const FolderRequest& request_;
    FolderPlan& plan_;
};

}  // namespace

FolderPlan planFolderJobs(const FolderRequest& request, const JobSettings& settings) {
    const std::string& folder = request.outputFolder;
    std::error_code error;
    if (!fs::is_directory(folder, error) && !fs::create_directories(folder, error) && error)
        throw CommandError("cannot make output folder " + folder + ": " + error.message());
    if (!fs::is_directory(folder, error)) throw CommandError("output folder " + folder + " is not a folder");

    FolderPlan plan;
    FolderWalk walk(request, plan);
    std::vector<Found> found;
    for (const std::string& input : request.inputs) {
        if (fs::is_directory(input, error)) {
            const std::size_t before = found.size();
            walk.walk(input, {}, found);
            if (found.size() == before) plan.problems.push_back("folder " + input + " holds no pictures");
        } else if (kindOfPath(input) != PathKind::image) {
            plan.problems.push_back("cannot enlarge " + input + " into a folder: it is not a picture (" + "-o takes" +
                                    pictureExtensionList(false) + " files and folders)");
        } else {
            found.push_back({input, {}});
        }
    }
    // Two inputs of one name would write the same output.
    std::map<std::string, std::string> firstInputFor;
    for (const Found& picture : found) {
        const std::string input = picture.picture.string();
        const std::string output = outputPathFor(picture.picture, picture.subfolder, request);
        const auto [first, isNew] = firstInputFor.emplace(output, input);
        if (!isNew) {
            plan.problems.push_back("cannot enlarge " + input + ": " + first->second + " is written to " + output +
                                    " already");
        } else if (sameFile(input, output)) {
            plan.problems.push_back("cannot enlarge " + input + " into itself; give -o another folder or a --suffix");
        } else if (request.skipExisting && fs::exists(fs::symlink_status(output, error))) {
            ++plan.skipped;
        } else {
            plan.jobs.push_back(Job{JobKind::picture, input, output, settings});
        }
    }
    return plan;
}

}  // namespace crest::cli
