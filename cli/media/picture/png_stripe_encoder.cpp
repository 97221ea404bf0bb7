#include "cli/media/picture/png_stripe_encoder.h"

#include <stdexcept>
#include <utility>

#include "cli/media/picture/image_metadata.h"
#include "cli/media/picture/png_chunks.h"

namespace crest::cli {

struct PngStripeEncoder::StripeJob {
    std::vector<std::uint8_t> rows;  // the row above, when there is one, then the stripe's rows
    bool hasRowAbove = false;
    std::int32_t count = 0;
    bool last = false;
    std::promise<PngStripe> result;
};

PngStripeEncoder::PngStripeEncoder(const std::string& path, const PictureFormat& format, std::int32_t width,
                                   std::int32_t height, PictureWriteSettings settings, InstancePool& pool)
    : Encoder(path, format, width, height, std::move(settings)), pool_(pool) {
    // libvips frames a one-row image of zeros; its image data is replaced.
    std::vector<std::uint8_t> oneRow(rowBytes, 0);
    ImageRef wrapped(vips_image_new_from_memory(oneRow.data(), oneRow.size(), width, 1, bands, VIPS_FORMAT_UCHAR));
    VipsImage* tagged = nullptr;
    if (wrapped.image == nullptr || vips_copy(wrapped.image, &tagged, "interpretation", interpretation(), nullptr) != 0)
        throw writeError();
    const ImageRef image = described(ImageRef(tagged));
    LibraryBuffer encoded;
    if (saveWithLibrary(format, image.image, this->settings.quality, encoded) != 0)
        throw CommandError("cannot encode output " + path + " as PNG: " + libraryError());
    PngFraming framing;
    try {
        framing = pngFraming(std::string(static_cast<const char*>(encoded.data), encoded.size), height);
    } catch (const std::runtime_error& error) {
        throw CommandError("cannot encode output " + path + " as PNG: " + error.what());
    }
    const ImageMetadata* metadata = this->settings.metadata.get();
    // The colour chunks go right after the header, before any palette or image data.
    if (metadata != nullptr && !metadata->pngChunks().empty() && framing.before.size() > kPngHeaderEnd)
        framing.before.insert(kPngHeaderEnd, metadata->pngChunks());
    put(framing.before.data(), framing.before.size());
    tail_ = std::move(framing.after);
    stripeRows_ = pngStripeRows(rowBytes);
    newStripe(nullptr);
}

void PngStripeEncoder::writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) {
    for (std::int32_t y = at; y < at + count; ++y) {
        const std::size_t end = stripe_->rows.size();
        stripe_->rows.resize(end + rowBytes);
        interleave(planes[0]->row(y), alpha ? planes[1]->row(y) : nullptr, stripe_->rows.data() + end);
        ++stripe_->count;
        ++rowsWritten_;
        if (stripe_->count == stripeRows_ || rowsWritten_ == height) submitStripe();
    }
}

void PngStripeEncoder::finish() {
    while (!pending_.empty()) writeOldestStripe();
    put(tail_.data(), tail_.size());
    file.commit();
}

void PngStripeEncoder::newStripe(const std::uint8_t* rowAbove) {
    stripe_ = std::make_shared<StripeJob>();
    stripe_->rows.reserve(rowBytes * (static_cast<std::size_t>(stripeRows_) + 1));
    if (rowAbove != nullptr) {
        stripe_->rows.assign(rowAbove, rowAbove + rowBytes);
        stripe_->hasRowAbove = true;
    }
}

void PngStripeEncoder::submitStripe() {
    std::shared_ptr<StripeJob> job = std::move(stripe_);
    job->last = rowsWritten_ == height;
    // The next stripe takes its row above before this one is handed out.
    if (!job->last) newStripe(job->rows.data() + job->rows.size() - rowBytes);
    pendingLast_ = job->last;
    pending_.push_back(job->result.get_future());
    const std::size_t bytesPerRow = rowBytes;
    const int sampleBands = bands;
    stripeJobs_.submit(stripesSubmitted_++, [job = std::move(job), bytesPerRow, sampleBands](PoolWorker&) {
        try {
            const std::uint8_t* first = job->rows.data() + (job->hasRowAbove ? bytesPerRow : 0);
            job->result.set_value(deflatePngStripe(first, job->hasRowAbove ? job->rows.data() : nullptr, job->count,
                                                   bytesPerRow, sampleBands, job->last));
        } catch (...) {
            job->result.set_exception(std::current_exception());
        }
        std::vector<std::uint8_t>().swap(job->rows);
    });
    // Stripes in flight: enough to keep every instance busy.
    while (pending_.size() > static_cast<std::size_t>(pool_.size()) + 1) writeOldestStripe();
}

void PngStripeEncoder::writeOldestStripe() {
    PngStripe done;
    try {
        done = pending_.front().get();
    } catch (const std::runtime_error& error) {
        throw CommandError("cannot encode output " + path + " as PNG: " + error.what());
    }
    pending_.pop_front();
    const bool last = pending_.empty() && pendingLast_;
    const std::string chunk = joiner_.chunkOf(done, last);
    put(chunk.data(), chunk.size());
}

}  // namespace crest::cli
