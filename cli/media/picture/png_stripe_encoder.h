// PNG without libvips's encoder in the way: libvips writes the chunks around
// the image data, which is deflated here in stripes on the pool as rows arrive.
#pragma once

#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "cli/media/picture/picture_encoder.h"
#include "cli/media/picture/png_stripes.h"
#include "cli/pipeline/instance_pool.h"

namespace crest::cli {

class PngStripeEncoder final : public PictureWriter::Encoder {
public:
    PngStripeEncoder(const std::string& path, const PictureFormat& format, std::int32_t width, std::int32_t height,
                     PictureWriteSettings settings, InstancePool& pool);

    void writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) override;
    void finish() override;

private:
    struct StripeJob;

    void newStripe(const std::uint8_t* rowAbove);
    void submitStripe();
    void writeOldestStripe();

    InstancePool& pool_;
    // Stripes report through their futures; the group only guards the pool.
    JobGroup stripeJobs_{pool_};
    std::size_t stripesSubmitted_ = 0;
    std::int32_t rowsWritten_ = 0;
    std::int32_t stripeRows_ = 0;
    std::shared_ptr<StripeJob> stripe_;
    std::deque<std::future<PngStripe>> pending_;
    bool pendingLast_ = false;  // the picture's last stripe is among them
    PngImageDataJoiner joiner_;
    std::string tail_;
};

}  // namespace crest::cli
