#include "cli/media/picture/still_images.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "cli/base/command_error.h"
#include "cli/jobs/path_kind.h"
#include "cli/media/picture/image_io.h"
#include "cli/media/raw/raw_stream.h"
#include "cli/pipeline/picture_bands.h"

namespace crest::cli {

FrameSize enlargePictureFile(const std::string& input, const std::string& output, const PictureSettings& settings,
                             SharedPool& pool, int instances, Progress& progress) {
    const bool rawOutput = kindOfPath(output) == PathKind::raw;
    if (!rawOutput) checkPictureOutput(output);
    // Opening first rejects a bad input before the module is touched.
    std::unique_ptr<PictureReader> reader = PictureReader::open(input);
    if (settings.keepTags && reader->hasAlpha())
        throw CommandError("--keep-tags writes the luma tag as alpha, but " + input + " has an alpha channel of its own");
    if (reader->pages() > 1)
        std::fprintf(stderr, "crestdoubler: note: %s holds %d frames; the first is enlarged\n", input.c_str(),
                     reader->pages());
    if (reader->hasAlpha() && (rawOutput || !formatHoldsAlpha(output))) {
        std::fprintf(stderr, "crestdoubler: note: %s holds no alpha; the alpha of %s is left out\n",
                     describePath(output, false).c_str(), input.c_str());
        reader->leaveOutAlpha();
    }
    const BandShape shape = pictureBandShape(reader->width(), reader->height(), instances);
    const FrameSize enlarged{2 * reader->width(), 2 * reader->height()};
    InstancePool& instancePool = pool.pool();
    if (rawOutput) {
        RawFrameWriter writer(output);
        enlargePicture(*reader, writer, instancePool, shape, &progress);
        return enlarged;
    }
    PictureWriteSettings writing;
    writing.quality = settings.quality.value_or(writing.quality);
    writing.keepTags = settings.keepTags;
    writing.alpha = reader->planeCount() == 2;
    writing.grey = reader->grey();
    writing.metadata = reader->metadata();
    PictureWriter writer(output, 2 * reader->width(), 2 * reader->height(), std::move(writing), instancePool);
    enlargePicture(*reader, writer, instancePool, shape, &progress);
    return enlarged;
}

FrameSize enlargeRawFrameIntoPicture(const std::string& input, FrameSize size, const std::string& output,
                                     const PictureSettings& settings, SharedPool& pool, Progress& progress) {
    checkPictureOutput(output);
    RawFrameReader reader(input, size);
    reader.setPictureOutput(output);
    InstancePool& instancePool = pool.pool();
    PictureWriteSettings writing;
    writing.quality = settings.quality.value_or(writing.quality);
    writing.keepTags = settings.keepTags;
    PictureWriter writer(output, 2 * reader.width(), 2 * reader.height(), std::move(writing), instancePool);
    enlargePicture(reader, writer, instancePool, pictureBandShape(reader.width(), reader.height(), pool.instances()),
                   &progress);
    return {2 * size.width, 2 * size.height};
}

}  // namespace crest::cli
