#include "cli/media/picture/still_images.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/app/file_access.h"
#include "cli/hosting/filter_host.h"
#include "cli/pipeline/instance_pool.h"
#include "cli/pipeline/picture_bands.h"
#include "cli/media/picture/image_io.h"
#include "cli/hosting/module_loader.h"
#include "cli/app/path_kind.h"
#include "cli/media/picture/picture_formats.h"
#include "cli/media/raw/raw_stream.h"

namespace crest::cli {

namespace {

namespace fs = std::filesystem;

// One picture through the pool, from its decoder to its encoder, with
// `instances` as the share of the pool its bands are cut for.
void enlargePictureFile(std::unique_ptr<PictureReader> reader, const std::string& input, const std::string& output,
                        const Options& options, InstancePool& pool, int instances) {
    if (options.keepTags && reader->hasAlpha())
        throw CommandError("--keep-tags writes the luma tag as alpha, but " + input + " has an alpha channel of its own");
    if (reader->pages() > 1)
        std::fprintf(stderr, "crestdoubler: note: %s holds %d frames; the first is enlarged\n", input.c_str(),
                     reader->pages());
    const bool rawOutput = kindOfPath(output) == PathKind::raw;
    if (reader->hasAlpha() && (rawOutput || !formatHoldsAlpha(output))) {
        std::fprintf(stderr, "crestdoubler: note: %s holds no alpha; the alpha of %s is left out\n",
                     describePath(output, false).c_str(), input.c_str());
        reader->leaveOutAlpha();
    }
    const BandShape shape = pictureBandShape(reader->width(), reader->height(), instances);
    if (rawOutput) {
        RawFrameWriter writer(output);
        return enlargePicture(*reader, writer, pool, shape);
    }
    PictureWriteSettings settings;
    settings.quality = options.quality.value_or(settings.quality);
    settings.keepTags = options.keepTags;
    settings.alpha = reader->planeCount() == 2;
    settings.grey = reader->grey();
    settings.metadata = reader->metadata();
    PictureWriter writer(output, 2 * reader->width(), 2 * reader->height(), std::move(settings), pool);
    enlargePicture(*reader, writer, pool, shape);
}

bool sameFile(const std::string& first, const std::string& second) {
    std::error_code error;
    return first == second || fs::equivalent(first, second, error);
}

struct Job {
    std::string input;
    std::string output;
    std::string problem;  // set when the input cannot be enlarged at all
};

// OUTDIR/NAME with the suffix before the extension; the pictures of a format
// the command only reads are written as PNG.
std::string outputPathFor(const fs::path& input, const Options& options) {
    const std::string name = input.filename().string();
    const auto dot = name.find_last_of('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const PictureFormat* format = pictureFormatOfExtension(lowerExtension(name));
    const std::string extension = format != nullptr && !format->writable ? ".png"
                                  : dot == std::string::npos || dot == 0 ? ""
                                                                         : name.substr(dot);
    return (fs::path(*options.outputFolder) / (stem + options.suffix + extension)).string();
}

// The pictures a folder holds, by name; hidden files (and so temporary
// outputs) are left out, and so are subfolders.
std::vector<std::string> picturesIn(const std::string& folder) {
    std::vector<std::string> pictures;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.empty() || name[0] == '.' || !entry->is_regular_file(error)) continue;
        if (kindOfPath(name) == PathKind::image) pictures.push_back(entry->path().string());
    }
    if (error) throw CommandError("cannot list folder " + folder + ": " + error.message());
    std::sort(pictures.begin(), pictures.end());
    return pictures;
}

std::vector<Job> jobsFor(const Options& options) {
    std::vector<Job> jobs;
    for (const std::string& input : options.inputs) {
        std::error_code error;
        if (fs::is_directory(input, error)) {
            const std::vector<std::string> pictures = picturesIn(input);
            if (pictures.empty()) jobs.push_back({input, "", "folder " + input + " holds no pictures"});
            for (const std::string& picture : pictures) jobs.push_back({picture, outputPathFor(picture, options), ""});
        } else if (kindOfPath(input) != PathKind::image) {
            jobs.push_back({input, "", "cannot enlarge " + input + " into a folder: it is not a picture (" +
                                           "-o takes" + pictureExtensionList(false) + " files and folders)"});
        } else {
            jobs.push_back({input, outputPathFor(input, options), ""});
        }
    }
    // Two inputs of one name would write the same output.
    std::map<std::string, std::string> firstInputFor;
    for (Job& job : jobs) {
        if (!job.problem.empty()) continue;
        const auto [first, isNew] = firstInputFor.emplace(job.output, job.input);
        if (!isNew)
            job.problem = "cannot enlarge " + job.input + ": " + first->second + " is written to " + job.output +
                          " already";
        else if (sameFile(job.input, job.output))
            job.problem = "cannot enlarge " + job.input + " into itself; give -o another folder or a --suffix";
    }
    return jobs;
}

}  // namespace

void enlargeImageFile(const Options& options) {
    if (kindOfPath(options.output) == PathKind::image) checkPictureOutput(options.output);
    // Opening first rejects a bad input before the module is touched.
    std::unique_ptr<PictureReader> reader = PictureReader::open(options.input);
    const FilterModule module(options.modulePath.value_or(defaultModulePath()));
    InstancePool pool(module, options.threads);
    enlargePictureFile(std::move(reader), options.input, options.output, options, pool, options.threads);
}

void enlargeRawFrameIntoPicture(const Options& options) {
    checkPictureOutput(options.output);
    RawFrameReader reader(options.input, *options.rawSize);
    reader.setPictureOutput(options.output);
    const FilterModule module(options.modulePath.value_or(defaultModulePath()));
    InstancePool pool(module, options.threads);
    PictureWriteSettings settings;
    settings.quality = options.quality.value_or(settings.quality);
    settings.keepTags = options.keepTags;
    PictureWriter writer(options.output, 2 * reader.width(), 2 * reader.height(), std::move(settings), pool);
    enlargePicture(reader, writer, pool);
}

ExitStatus enlargeImagesIntoFolder(const Options& options) {
    const std::string& folder = *options.outputFolder;
    std::error_code error;
    if (!fs::is_directory(folder, error) && !fs::create_directories(folder, error) && error)
        throw CommandError("cannot make output folder " + folder + ": " + error.message());
    if (!fs::is_directory(folder, error)) throw CommandError("output folder " + folder + " is not a folder");

    const std::vector<Job> jobs = jobsFor(options);
    std::mutex reportLock;
    std::atomic<bool> anyFailed = false;
    auto report = [&](const std::string& message) {
        anyFailed = true;
        const std::lock_guard lock(reportLock);
        std::fprintf(stderr, "crestdoubler: %s\n", message.c_str());
    };
    for (const Job& job : jobs)
        if (!job.problem.empty()) report(job.problem);

    std::vector<const Job*> work;
    for (const Job& job : jobs)
        if (job.problem.empty()) work.push_back(&job);
    if (!work.empty()) {
        const FilterModule module(options.modulePath.value_or(defaultModulePath()));
        InstancePool pool(module, options.threads);
        // Pictures side by side on the one pool: each picture's decoder and
        // encoder on a thread of its own, its bands cut for its share of
        // the instances.
        const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(options.threads), work.size());
        const int share = std::max(options.threads / static_cast<int>(threads), 1);
        std::atomic<std::size_t> next = 0;
        auto worker = [&] {
            for (std::size_t i; (i = next++) < work.size();) {
                const std::string& input = work[i]->input;
                try {
                    enlargePictureFile(PictureReader::open(input), input, work[i]->output, options, pool, share);
                } catch (const std::bad_alloc&) {
                    report("out of memory enlarging " + input);
                } catch (const std::exception& failure) {
                    const std::string message = failure.what();
                    report(message.find(input) == std::string::npos ? input + ": " + message : message);
                }
            }
        };
        std::vector<std::thread> workers;
        for (std::size_t i = 1; i < threads; ++i) workers.emplace_back(worker);
        worker();
        for (std::thread& thread : workers) thread.join();
    }
    return anyFailed ? ExitStatus::failure : ExitStatus::success;
}

}  // namespace crest::cli
