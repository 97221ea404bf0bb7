#include "cli/media/picture/still_images.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "cli/base/command_error.h"
#include "cli/media/picture/image_io.h"
#include "cli/media/raw/raw_stream.h"
#include "cli/pipeline/picture_bands.h"
#include "cli/pipeline/picture_passes.h"

namespace crest::cli {

FrameSize enlargePictureFile(const std::string& input, const std::string& output, PictureOutput kind,
                             const PictureSettings& settings, const ScaleRequest& scale, SharedPool& pool,
                             int instances, Progress& progress) {
    const bool rawOutput = kind == PictureOutput::raw;
    if (!rawOutput) checkPictureOutput(output);
    // Opening first rejects a bad input before the module is touched.
    std::unique_ptr<PictureReader> reader = PictureReader::open(input);
    if (settings.keepTags && reader->hasAlpha())
        throw CommandError("--keep-tags writes the luma tag as alpha, but " + input +
                           " has an alpha channel of its own");
    if (reader->pages() > 1)
        std::fprintf(stderr, "crestdoubler: note: %s holds %d frames; the first is enlarged\n", input.c_str(),
                     reader->pages());
    if (reader->hasAlpha() && (rawOutput || !formatHoldsAlpha(output))) {
        std::fprintf(stderr, "crestdoubler: note: %s holds no alpha; the alpha of %s is left out\n",
                     describePath(output, false).c_str(), input.c_str());
        reader->leaveOutAlpha();
    }
    const FrameSize sourceSize{reader->width(), reader->height()};
    const Enlargement enlargement = planEnlargement(scale, sourceSize, input);
    const FrameSize enlarged = outputSize(enlargement, sourceSize);
    if (enlarged.width > 2 * kMaxPictureSide || enlarged.height > 2 * kMaxPictureSide)
        throw CommandError("the enlargement of " + input + " would be " + std::to_string(enlarged.width) + "x" +
                           std::to_string(enlarged.height) + ", beyond the largest picture, " +
                           std::to_string(2 * kMaxPictureSide) + " pixels a side");
    InstancePool& instancePool = pool.pool();
    if (rawOutput) {
        if (enlargement.target)
            throw CommandError("a picture reduced to --width or --height is written as a picture; raw output of " +
                                   input + " takes --scale",
                               ExitStatus::usage);
        RawFrameWriter writer(output);
        enlargePictureInPasses(*reader, writer, instancePool, enlargement.passes, instances, &progress);
        return enlarged;
    }
    PictureWriteSettings writing;
    writing.quality = settings.quality.value_or(writing.quality);
    writing.keepTags = settings.keepTags;
    writing.alpha = reader->planeCount() == 2;
    writing.grey = reader->grey();
    writing.metadata = reader->metadata();
    writing.xScale = static_cast<double>(enlarged.width) / sourceSize.width;
    writing.yScale = static_cast<double>(enlarged.height) / sourceSize.height;
    writing.target = enlargement.target;
    const FrameSize doubled = doubledSize(sourceSize, enlargement.passes);
    PictureWriter writer(output, doubled.width, doubled.height, std::move(writing), instancePool);
    enlargePictureInPasses(*reader, writer, instancePool, enlargement.passes, instances, &progress);
    return enlarged;
}

FrameSize enlargeRawFrameIntoPicture(const std::string& input, FrameSize size, const std::string& output,
                                     const PictureSettings& settings, const ScaleRequest& scale, SharedPool& pool,
                                     Progress& progress) {
    checkPictureOutput(output);
    RawFrameReader reader(input, size);
    reader.setPictureOutput(output);
    const Enlargement enlargement = planEnlargement(scale, size, describePath(input, true));
    const FrameSize enlarged = outputSize(enlargement, size);
    InstancePool& instancePool = pool.pool();
    PictureWriteSettings writing;
    writing.quality = settings.quality.value_or(writing.quality);
    writing.keepTags = settings.keepTags;
    writing.target = enlargement.target;
    const FrameSize doubled = doubledSize(size, enlargement.passes);
    PictureWriter writer(output, doubled.width, doubled.height, std::move(writing), instancePool);
    enlargePictureInPasses(reader, writer, instancePool, enlargement.passes, pool.instances(), &progress);
    return enlarged;
}

}  // namespace crest::cli
