#include "cli/media/film/film_frame_index.h"

#include <algorithm>
#include <memory>
#include <new>
#include <queue>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "cli/base/command_error.h"

namespace crest::cli {

namespace {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

struct PacketTime {
    std::int64_t pts;
    bool key;
};

}  // namespace

std::optional<FrameLocation> locateFrame(const std::string& path, int stream, std::int64_t index) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
    const std::unique_ptr<AVFormatContext, InputCloser> input(opened);
    if ((input->iformat->flags & (AVFMT_TS_DISCONT | AVFMT_NOTIMESTAMPS)) != 0) return std::nullopt;
    if (avformat_find_stream_info(input.get(), nullptr) < 0 || stream >= static_cast<int>(input->nb_streams))
        return std::nullopt;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (static_cast<int>(i) != stream) input->streams[i]->discard = AVDISCARD_ALL;
    const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    if (packet == nullptr) throw std::bad_alloc();

    std::vector<PacketTime> packets;            // in decoding order
    std::priority_queue<std::int64_t> earliest;  // the index + 1 earliest times, latest on top
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index != stream) {
            av_packet_unref(packet.get());
            continue;
        }
        const std::int64_t pts = packet->pts;
        const std::int64_t dts = packet->dts;
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(packet.get());
        if (pts == AV_NOPTS_VALUE) return std::nullopt;
        packets.push_back({pts, key});
        if (static_cast<std::int64_t>(earliest.size()) <= index) {
            earliest.push(pts);
        } else if (pts < earliest.top()) {
            earliest.pop();
            earliest.push(pts);
        }
        // No frame is presented before it is decoded, and packets come in
        // decoding order: none after this one can come before the top.
        if (static_cast<std::int64_t>(earliest.size()) > index && dts != AV_NOPTS_VALUE && dts > earliest.top())
            break;
    }
    if (static_cast<std::int64_t>(earliest.size()) <= index)
        throw CommandError(path + " has " + std::to_string(packets.size()) + " frames: --first-frame " +
                           std::to_string(index) + " is past its end");

    std::vector<std::int64_t> times(packets.size());
    std::transform(packets.begin(), packets.end(), times.begin(), [](const PacketTime& p) { return p.pts; });
    std::sort(times.begin(), times.end());
    if (std::adjacent_find(times.begin(), times.end()) != times.end()) return std::nullopt;

    FrameLocation location{earliest.top(), AV_NOPTS_VALUE};
    for (const PacketTime& p : packets)
        if (p.key && p.pts <= location.pts) location.keyPts = std::max(location.keyPts, p.pts);
    if (location.keyPts == AV_NOPTS_VALUE) return std::nullopt;
    return location;
}

}  // namespace crest::cli
