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
#include "cli/media/film/libav_handles.h"

namespace crest::cli {

namespace {

struct PacketTime {
    std::int64_t pts;
    bool key;
};

// The film at path with every stream but `stream` left unread; null when it
// cannot be opened or has no such stream.
InputHandle openForPackets(const std::string& path, int stream) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    InputHandle input(opened);
    if (avformat_find_stream_info(input.get(), nullptr) < 0 || stream >= static_cast<int>(input->nb_streams))
        return nullptr;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (static_cast<int>(i) != stream) input->streams[i]->discard = AVDISCARD_ALL;
    return input;
}

}  // namespace

std::int64_t countFramesFrom(const std::string& path, int stream, std::int64_t fromPts) {
    const InputHandle input = openForPackets(path, stream);
    if (input == nullptr) throw CommandError(path + ": cannot count the frames");
    const Packet packet(checkedAllocation(av_packet_alloc()));
    std::int64_t frames = 0;
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream &&
            (fromPts == INT64_MIN || packet->pts == AV_NOPTS_VALUE || packet->pts >= fromPts))
            ++frames;
        av_packet_unref(packet.get());
    }
    return frames;
}

std::optional<FrameLocation> locateFrame(const std::string& path, int stream, std::int64_t index) {
    const InputHandle input = openForPackets(path, stream);
    if (input == nullptr || (input->iformat->flags & (AVFMT_TS_DISCONT | AVFMT_NOTIMESTAMPS)) != 0) return std::nullopt;
    const Packet packet(checkedAllocation(av_packet_alloc()));

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
