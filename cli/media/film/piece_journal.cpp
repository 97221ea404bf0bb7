#include "cli/media/film/piece_journal.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/base/durable_files.h"
#include "cli/media/film/file_digest.h"

namespace crest::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kFingerprintName = "fingerprint";
constexpr const char* kEntryPrefix = "piece-";
constexpr const char* kEntrySuffix = ".entry";

// Zero-padded, so that names sort as the pieces follow each other.
std::string pieceName(std::int64_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%06" PRId64, kEntryPrefix, index);
    return name;
}

std::optional<std::string> readText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string entryText(const PieceEntry& entry) {
    const PieceFacts& f = entry.facts;
    char text[512];
    std::snprintf(text, sizeof text,
                  "piece %" PRId64 " first-frame %" PRId64 " frames %" PRId64 " first-pts %" PRId64
                  " last-pts %" PRId64 " end-pts %" PRId64 " size %" PRId64 " hash %s last %d\n",
                  entry.index, entry.firstFrame, f.frames, f.firstPts, f.lastPts, f.endPts, f.file.size,
                  f.file.hash.c_str(), entry.last ? 1 : 0);
    return text;
}

std::optional<PieceEntry> parseEntry(const std::string& text) {
    PieceEntry entry;
    PieceFacts& f = entry.facts;
    char hash[65] = {};
    int last = -1;
    int consumed = 0;
    const int fields =
        std::sscanf(text.c_str(),
                    "piece %" SCNd64 " first-frame %" SCNd64 " frames %" SCNd64 " first-pts %" SCNd64
                    " last-pts %" SCNd64 " end-pts %" SCNd64 " size %" SCNd64 " hash %64s last %d%n",
                    &entry.index, &entry.firstFrame, &f.frames, &f.firstPts, &f.lastPts, &f.endPts, &f.file.size, hash,
                    &last, &consumed);
    if (fields != 9 || (last != 0 && last != 1) || text.size() != static_cast<std::size_t>(consumed) + 1 ||
        text.back() != '\n')
        return std::nullopt;
    f.file.hash = hash;
    entry.last = last == 1;
    // Written back, the same line: nothing was lost in the numbers.
    if (entryText(entry) != text) return std::nullopt;
    return entry;
}

bool sameParameters(const AVCodecParameters& a, const AVCodecParameters& b) {
    return a.codec_id == b.codec_id && a.width == b.width && a.height == b.height &&
           a.extradata_size == b.extradata_size &&
           (a.extradata_size == 0 || std::memcmp(a.extradata, b.extradata, a.extradata_size) == 0);
}

}  // namespace

std::string PieceJournal::folderFor(const std::string& output) {
    const auto slash = output.find_last_of('/');
    const std::string name = slash == std::string::npos ? output : output.substr(slash + 1);
    return folderOf(output) + "/." + name + ".parts";
}

std::string PieceJournal::piecePath(std::int64_t index) const { return folder_ + "/" + pieceName(index) + ".nut"; }

std::string PieceJournal::entryPath(std::int64_t index) const {
    return folder_ + "/" + pieceName(index) + kEntrySuffix;
}

std::string PieceJournal::adopt(const std::string& fingerprint, bool mayEmpty) {
    std::error_code error;
    fs::create_directory(folder_, error);
    if (error) throw CommandError("cannot make the work folder " + folder_ + ": " + error.message());
    const std::string path = folder_ + "/" + kFingerprintName;
    const std::optional<std::string> earlier = readText(path);
    std::string why;
    if (earlier && *earlier != fingerprint) {
        // The first line that differs names what changed.
        std::istringstream was(*earlier);
        std::istringstream is(fingerprint);
        std::string a;
        std::string b;
        while (std::getline(was, a) && std::getline(is, b) && a == b) {}
        why = a.substr(0, a.find(' '));
        if (why.empty()) why = "journal";
        if (!mayEmpty)
            throw CommandError(folder_ + " holds pieces made with another " + why +
                               ": start again with --restart");
        for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) fs::remove_all(entry.path());
    }
    if (!earlier || !why.empty()) writeFileDurably(path, fingerprint);
    return why;
}

void PieceJournal::remove() const {
    std::error_code error;
    fs::remove_all(folder_, error);
}

void PieceJournal::record(const PieceEntry& entry) const { writeFileDurably(entryPath(entry.index), entryText(entry)); }

std::vector<std::int64_t> PieceJournal::listedPieces() const {
    std::vector<std::int64_t> indices;
    std::error_code error;
    for (const fs::directory_entry& file : fs::directory_iterator(folder_, error)) {
        const std::string name = file.path().filename().string();
        // Stray temporary files (".piece-....part-...") do not start so.
        if (!name.starts_with(kEntryPrefix) || !name.ends_with(kEntrySuffix)) continue;
        const std::string digits =
            name.substr(std::strlen(kEntryPrefix), name.size() - std::strlen(kEntryPrefix) - std::strlen(kEntrySuffix));
        if (digits.size() != 6 ||
            !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
            continue;
        indices.push_back(std::stoll(digits));
    }
    std::sort(indices.begin(), indices.end());
    return indices;
}

std::optional<CheckedPiece> PieceJournal::check(std::int64_t index, const AVCodecParameters& expected,
                                                AVRational timeBase, std::string& why) const {
    why.clear();
    const std::optional<std::string> text = readText(entryPath(index));
    if (!text) return std::nullopt;
    const std::optional<PieceEntry> entry = parseEntry(*text);
    if (!entry || entry->index != index) {
        why = "its journal entry is damaged";
        return std::nullopt;
    }
    const std::string path = piecePath(index);
    std::error_code error;
    if (!fs::exists(path, error)) {
        why = "the piece is missing";
        return std::nullopt;
    }
    const FileDigest digest = digestFile(path);
    if (digest.size != entry->facts.file.size || digest.hash != entry->facts.file.hash) {
        why = "the piece's size or hash differs from its journal entry";
        return std::nullopt;
    }
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) {
        why = "the piece cannot be read";
        return std::nullopt;
    }
    const InputHandle input(opened);
    if (input->nb_streams != 1 || !sameParameters(*input->streams[0]->codecpar, expected) ||
        !refines(input->streams[0]->time_base, timeBase)) {
        why = "the piece's video is not encoded as the others";
        return std::nullopt;
    }
    CheckedPiece piece{*entry, {}};
    const Packet packet(checkedAllocation(av_packet_alloc()));
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        piece.sortedPts.push_back(av_rescale_q(packet->pts, input->streams[0]->time_base, timeBase));
        av_packet_unref(packet.get());
    }
    std::sort(piece.sortedPts.begin(), piece.sortedPts.end());
    const std::vector<std::int64_t>& pts = piece.sortedPts;
    if (static_cast<std::int64_t>(pts.size()) != entry->facts.frames || pts.empty() ||
        pts.front() != entry->facts.firstPts || pts.back() != entry->facts.lastPts ||
        std::adjacent_find(pts.begin(), pts.end()) != pts.end()) {
        why = "the piece's frames or timestamps differ from its journal entry";
        return std::nullopt;
    }
    return piece;
}

}  // namespace crest::cli
