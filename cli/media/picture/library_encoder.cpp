#include "cli/media/picture/library_encoder.h"

#include <algorithm>
#include <utility>

namespace crest::cli {

LibraryEncoder::LibraryEncoder(const std::string& path, const PictureFormat& format, std::int32_t width,
                               std::int32_t height, PictureWriteSettings settings)
    : Encoder(path, format, width, height, std::move(settings)), store_(rowBytes, !format.streamsRows) {
    ImageRef generated(vips_image_new());
    vips_image_init_fields(generated.image, width, height, bands, VIPS_FORMAT_UCHAR, VIPS_CODING_NONE,
                           interpretation(), 1.0, 1.0);
    if (vips_image_pipelinev(generated.image, VIPS_DEMAND_STYLE_THINSTRIP, nullptr) != 0 ||
        vips_image_generate(generated.image, nullptr, RowStore::generate, nullptr, &store_, nullptr) != 0)
        throw writeError();
    if (this->settings.target) generated = reduced(std::move(generated), *this->settings.target);
    image_ = described(std::move(generated));
    rowBuffer_.resize(rowBytes * kRowsAtOnce);
    encoderThread_ = std::thread([this] {
        if (saveWithLibrary(this->format, image_.image, this->settings.quality, encoded_) != 0)
            encoderError_ = libraryError();
        store_.encoderEnded();
    });
}

LibraryEncoder::~LibraryEncoder() {
    store_.close();
    if (encoderThread_.joinable()) encoderThread_.join();
}

// The rows asked of the store in order, whatever the kernel's overlap, then
// Lanczos-3 down to exactly the target.
ImageRef LibraryEncoder::reduced(ImageRef image, FrameSize target) const {
    VipsImage* ordered = nullptr;
    if (vips_sequential(image.image, &ordered, nullptr) != 0) throw writeError();
    ImageRef sequential(ordered);
    VipsImage* resized = nullptr;
    if (vips_resize(sequential.image, &resized, static_cast<double>(target.width) / width, "vscale",
                    static_cast<double>(target.height) / height, "kernel", VIPS_KERNEL_LANCZOS3, nullptr) != 0)
        throw CommandError("cannot reduce output " + path + ": " + libraryError());
    ImageRef result(resized);
    if (result.image->Xsize != target.width || result.image->Ysize != target.height)
        throw CommandError("cannot reduce output " + path + " to " + std::to_string(target.width) + "x" +
                           std::to_string(target.height) + ": libvips made " + std::to_string(result.image->Xsize) +
                           "x" + std::to_string(result.image->Ysize));
    return result;
}

void LibraryEncoder::writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) {
    for (std::int32_t done = 0; done < count;) {
        const std::int32_t rows = std::min(kRowsAtOnce, count - done);
        for (std::int32_t r = 0; r < rows; ++r) {
            const std::int32_t y = at + done + r;
            interleave(planes[0]->row(y), alpha ? planes[1]->row(y) : nullptr,
                       rowBuffer_.data() + rowBytes * static_cast<std::size_t>(r));
        }
        if (!store_.push(rowBuffer_.data(), rows)) encoderFailed();
        done += rows;
    }
}

void LibraryEncoder::finish() {
    store_.close();
    encoderThread_.join();
    if (!encoderError_.empty()) encoderFailed();
    put(static_cast<const char*>(encoded_.data), encoded_.size);
    file.commit();
}

void LibraryEncoder::encoderFailed() {
    store_.close();
    // finish() has joined it already when the saver failed at the end.
    if (encoderThread_.joinable()) encoderThread_.join();
    throw CommandError("cannot encode output " + path + " as " + std::string(format.name) + ": " +
                       (encoderError_.empty() ? "the encoder stopped early" : encoderError_));
}

}  // namespace crest::cli
