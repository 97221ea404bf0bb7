// The formats libvips encodes itself: its saver runs on a thread of its own
// and asks for rows as it goes, through a RowStore.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "cli/media/picture/picture_encoder.h"
#include "cli/media/picture/row_store.h"

namespace crest::cli {

class LibraryEncoder final : public PictureWriter::Encoder {
public:
    LibraryEncoder(const std::string& path, const PictureFormat& format, std::int32_t width, std::int32_t height,
                   PictureWriteSettings settings);
    ~LibraryEncoder() override;

    void writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) override;
    void finish() override;

private:
    static constexpr std::int32_t kRowsAtOnce = 64;

    ImageRef reduced(ImageRef image, FrameSize target) const;
    [[noreturn]] void encoderFailed();

    RowStore store_;
    ImageRef image_;
    std::vector<std::uint8_t> rowBuffer_;
    LibraryBuffer encoded_;
    std::string encoderError_;
    std::thread encoderThread_;
};

}  // namespace crest::cli
