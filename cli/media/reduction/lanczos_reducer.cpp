#include "cli/media/reduction/lanczos_reducer.h"

#include <cstdint>
#include <new>

extern "C" {
#include <libswscale/swscale.h>
}

namespace crest::cli {

namespace {

constexpr int kReductionFlags = SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_BITEXACT;

class LanczosReducer final : public FrameReducer {
public:
    LanczosReducer(FrameSize from, FrameSize to)
        : scaler_(sws_getContext(from.width, from.height, AV_PIX_FMT_BGR0, to.width, to.height, AV_PIX_FMT_BGR0,
                                 kReductionFlags, nullptr, nullptr, nullptr)),
          reduced_(to.width, to.height) {
        if (scaler_ == nullptr) throw std::bad_alloc();
    }
    ~LanczosReducer() override { sws_freeContext(scaler_); }
    LanczosReducer(const LanczosReducer&) = delete;
    LanczosReducer& operator=(const LanczosReducer&) = delete;

    const FrameBitmap& reduce(const FrameBitmap& enlarged) override {
        const std::uint8_t* from[4] = {static_cast<const std::uint8_t*>(enlarged.pixels), nullptr, nullptr, nullptr};
        const int fromStrides[4] = {enlarged.pitch, 0, 0, 0};
        std::uint8_t* to[4] = {static_cast<std::uint8_t*>(reduced_.pixels), nullptr, nullptr, nullptr};
        const int toStrides[4] = {reduced_.pitch, 0, 0, 0};
        sws_scale(scaler_, from, fromStrides, 0, enlarged.height, to, toStrides);
        return reduced_;
    }

private:
    SwsContext* scaler_;
    FrameBitmap reduced_;
};

}  // namespace

std::function<std::unique_ptr<FrameReducer>()> lanczosReducer(FrameSize from, FrameSize to) {
    return [from, to] { return std::make_unique<LanczosReducer>(from, to); };
}

StreamEnlargement streamEnlargementFor(const Enlargement& enlargement, FrameSize source) {
    StreamEnlargement stream{enlargement.passes, {}};
    if (enlargement.target)
        stream.makeReducer = lanczosReducer(doubledSize(source, enlargement.passes), *enlargement.target);
    return stream;
}

}  // namespace crest::cli
