#include "cli/pipeline/picture_passes.h"

#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "cli/base/frame_size.h"
#include "cli/pipeline/row_pipe.h"
#include "engine/frame_tiles.h"

namespace crest::cli {

namespace {

bool stoppedByAnother(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const PassStopped&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

void enlargePictureInPasses(PictureSource& source, PictureSink& sink, InstancePool& pool, int passes, int instances,
                            Progress* progress) {
    const std::int32_t width = source.width();
    const std::int32_t height = source.height();
    std::vector<std::unique_ptr<RowPipe>> pipes;
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(passes));
    std::vector<std::thread> threads;
    // A pass that fails lets the passes on either side stop waiting for it.
    auto failAround = [&](std::size_t pass) {
        if (pass > 0) pipes[pass - 1]->fail();
        if (pass < pipes.size()) pipes[pass]->fail();
    };
    std::vector<FrameSize> sizes;  // each pass's source
    for (int pass = 0; pass < passes; ++pass) sizes.push_back({width << pass, height << pass});
    for (int pass = 0; pass + 1 < passes; ++pass) {
        const FrameSize next = sizes[static_cast<std::size_t>(pass) + 1];
        pipes.push_back(std::make_unique<RowPipe>(next.width, next.height, source.planeCount(),
                                                  pictureBandShape(next.width, next.height, instances).bandRows +
                                                      2 * kTileHalo));
    }
    // Pass k reads what pass k - 1 writes; the first reads the source on this
    // thread, as a decoder may need, and the last writes the sink.
    auto runPass = [&](std::size_t pass) {
        PictureSource& from = pass == 0 ? source : *pipes[pass - 1];
        PictureSink& to = pass + 1 == sizes.size() ? sink : *pipes[pass];
        const BandShape shape = pictureBandShape(sizes[pass].width, sizes[pass].height, instances);
        try {
            enlargePicture(from, to, pool, shape, pass + 1 == sizes.size() ? progress : nullptr);
        } catch (...) {
            errors[pass] = std::current_exception();
            failAround(pass);
        }
    };
    for (std::size_t pass = 1; pass < sizes.size(); ++pass) threads.emplace_back(runPass, pass);
    runPass(0);
    for (std::thread& thread : threads) thread.join();
    // The cause, not the passes that only saw it end.
    for (const std::exception_ptr& error : errors)
        if (error && !stoppedByAnother(error)) std::rethrow_exception(error);
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

}  // namespace crest::cli
