#include "cli/media/film/film_transcoder.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/base/command_error.h"
#include "cli/base/temporary_output.h"
#include "cli/media/film/film_fingerprint.h"
#include "cli/media/film/film_join.h"
#include "cli/media/film/film_reader.h"
#include "cli/media/film/piece_journal.h"
#include "cli/media/film/piece_series.h"
#include "cli/media/film/video_encoding.h"
#include "cli/media/reduction/lanczos_reducer.h"
#include "cli/pipeline/frame_pipeline.h"

namespace crest::cli {

namespace {

// Each piece is at most about this long, so that a stopped run loses little.
constexpr double kPieceSeconds = 10;
constexpr std::int64_t kFallbackPieceFrames = 250;

std::int64_t pieceLength(const FilmSettings& settings, const AVStream& video) {
    if (settings.pieceFrames) return *settings.pieceFrames;
    AVRational rate = video.avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = video.r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return kFallbackPieceFrames;
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(kPieceSeconds * av_q2d(rate)));
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// --pieces K/N: the K-th of N shares of the pieces, as [first, end);
// --pieces plan binds the work folder and prints the pieces there are and
// those done; --pieces join joins them once all are done.
struct PieceShare {
    std::int64_t first = 0;
    std::int64_t end = 0;
};

PieceShare shareOf(const std::string& spec, std::int64_t pieces) {
    long long task = -1;
    long long tasks = 0;
    char rest = 0;
    if (std::sscanf(spec.c_str(), "%lld/%lld%c", &task, &tasks, &rest) != 2 || tasks < 1 || task < 0 || task >= tasks)
        throw CommandError("--pieces '" + spec + "' is not K/N (0 <= K < N), plan or join", ExitStatus::usage);
    return PieceShare{task * pieces / tasks, (task + 1) * pieces / tasks};
}

ParametersHandle encodedParameters(const VideoEncoding& encoding) {
    const CodecHandle encoder = encoding.open();
    ParametersHandle parameters(checkedAllocation(avcodec_parameters_alloc()));
    const int status = avcodec_parameters_from_context(parameters.get(), encoder.get());
    if (status < 0) throw CommandError("cannot describe the enlarged video: " + avReason(status));
    return parameters;
}

class FilmRun {
public:
    FilmRun(const std::string& input, const std::string& output, const FilmSettings& settings,
            const ScaleRequest& scale, SharedPool& pool, Progress& progress)
        : input_(input),
          output_(output),
          settings_(settings),
          pool_(pool),
          progress_(progress),
          selection_(settings.selection),
          source_(input, selection_, 0, 0),
          enlargement_(planEnlargement(scale, source_.frameSize(), input)),
          frames_(outputSize(enlargement_, source_.frameSize())),
          encoding_(*source_.format(), *source_.videoStream(), settings.encoding, frames_, output),
          journal_(PieceJournal::folderFor(output)),
          name_(fileNameOf(output)),
          modulePath_(pool.modulePath()) {
        length_ = pieceLength(settings, *source_.videoStream());
        selectedFrames_ = source_.selectedFrames();
        planned_ = std::max<std::int64_t>(1, (selectedFrames_ + length_ - 1) / length_);
        expected_ = encodedParameters(encoding_);
    }

    FrameSize frameSize() const { return frames_; }

    void run() {
        const bool joinOnly = settings_.pieces && *settings_.pieces == "join";
        const bool plan = settings_.pieces && *settings_.pieces == "plan";
        const bool task = settings_.pieces && !joinOnly && !plan;
        task_ = task;
        if (task) shareOf(*settings_.pieces, 1);  // a malformed share is refused before the folder is touched
        if (settings_.restart && !task && !joinOnly) journal_.remove();
        const std::string changed = journal_.adopt(
            filmFingerprint({input_, *source_.format(), selection_, encoding_, length_, modulePath_}),
            !task && !joinOnly);
        if (!changed.empty())
            std::fprintf(stderr, "crestdoubler: starting %s again from the first piece: %s\n", name_.c_str(),
                         describeFingerprintChange(changed).c_str());
        setInterruptionNote("crestdoubler: stopped: " + output_ + " is as it was; the finished pieces are kept in " +
                            journal_.folder() + " and the same command resumes\n");
        checkPieces();
        const std::int64_t total = pieceCount();
        const PieceShare share = task ? shareOf(*settings_.pieces, total) : PieceShare{0, total};
        if (!pieces_.empty() && !task)
            std::fprintf(stderr, "crestdoubler: resuming %s: %zu of %" PRId64 " pieces done\n", name_.c_str(),
                         pieces_.size(), total);
        if (plan) {
            // For the cluster scripts: how many pieces there are, and how many are done.
            std::printf("%" PRId64 " %zu\n", total, pieces_.size());
            setInterruptionNote("");
            return;
        }
        if (joinOnly) {
            if (static_cast<std::int64_t>(pieces_.size()) < total || !pieces_.rbegin()->second.entry.last)
                throw CommandError(output_ + ": " + std::to_string(pieces_.size()) + " of " +
                                   std::to_string(total) + " pieces are done: the join waits for all of them");
        } else {
            makeMissing(share);
        }
        if (task) {
            setInterruptionNote("");
            return;
        }
        join();
        setInterruptionNote("");
    }

private:
    // Every entry there that its piece still matches; the others are made again.
    void checkPieces() {
        std::string why;
        for (const std::int64_t index : journal_.listedPieces()) {
            std::optional<CheckedPiece> piece =
                journal_.check(index, *expected_, source_.videoStream()->time_base, why);
            if (piece)
                pieces_.emplace(index, std::move(*piece));
            else if (!why.empty())
                std::fprintf(stderr, "crestdoubler: %s: piece %" PRId64 " is made again: %s\n", name_.c_str(), index,
                             why.c_str());
        }
    }

    // As many as the film holds: up to the piece it ends in, once that is made.
    std::int64_t pieceCount() const {
        for (const auto& [index, piece] : pieces_)
            if (piece.entry.last) return index + 1;
        return std::max(planned_, pieces_.empty() ? 0 : pieces_.rbegin()->first + 1);
    }

    // The frames of the share that no finished piece holds, for the progress.
    std::int64_t framesToMake(const PieceShare& share) const {
        std::int64_t frames =
            std::max<std::int64_t>(0, std::min(share.end * length_, selectedFrames_) - share.first * length_);
        for (const auto& [index, piece] : pieces_)
            if (index >= share.first && index < share.end) frames -= piece.entry.facts.frames;
        return std::max<std::int64_t>(frames, 0);
    }

    void makeMissing(const PieceShare& share) {
        progress_.setTotal(framesToMake(share));
        const StreamEnlargement stream = streamEnlargementFor(enlargement_, source_.frameSize());
        for (std::int64_t first = share.first; first < share.end; ++first) {
            if (pieces_.count(first) != 0) continue;
            const auto next = pieces_.upper_bound(first);
            const bool toEnd =
                next == pieces_.end() && share.end == pieceCount() &&
                std::none_of(pieces_.begin(), pieces_.end(), [](const auto& p) { return p.second.entry.last; });
            const std::int64_t end = toEnd ? -1 : std::min(share.end, next == pieces_.end() ? share.end : next->first);
            FilmReader reader(input_, selection_, first * length_, toEnd ? -1 : (end - first) * length_);
            PieceSeries series(encoding_, *source_.videoStream(), journal_, length_, first, end, output_);
            try {
                enlargeWholeStream(reader, series, pool_.pool(), progress_, stream);
            } catch (const JobCancelled&) {
                // A job its user gave up leaves nothing of its own behind.
                setInterruptionNote("");
                journal_.remove();
                throw;
            } catch (const CommandError& error) {
                keep(series);
                failKeepingPieces(error);
            }
            keep(series);
            if (toEnd) break;
            first = end - 1;
        }
    }

    void keep(PieceSeries& series) {
        for (CheckedPiece& piece : series.made()) pieces_.insert_or_assign(piece.entry.index, std::move(piece));
        series.made().clear();
    }

    // The finished pieces stay for the next run; a folder with none goes,
    // unless other tasks may be filling it.
    [[noreturn]] void failKeepingPieces(const CommandError& error) {
        setInterruptionNote("");
        if (pieces_.empty() && !task_) {
            journal_.remove();
            throw error;
        }
        throw CommandError(std::string(error.what()) + "; the " + std::to_string(pieces_.size()) +
                               " finished pieces are kept in " + journal_.folder() + " and the same command resumes",
                           error.status());
    }

    void join() {
        const std::int64_t total = pieceCount();
        std::vector<CheckedPiece> ordered;
        for (std::int64_t index = 0; index < total; ++index) {
            const auto piece = pieces_.find(index);
            const bool last = index + 1 == total;
            if (piece == pieces_.end() || piece->second.entry.last != last ||
                piece->second.entry.firstFrame != index * length_ ||
                (!last && piece->second.entry.facts.frames != length_) ||
                (!ordered.empty() && piece->second.entry.facts.firstPts <= ordered.back().entry.facts.lastPts))
                throw CommandError(output_ + ": the pieces in " + journal_.folder() +
                                   " do not add up to the film: start again with --restart");
            ordered.push_back(std::move(piece->second));
        }
        setInterruptionNote("crestdoubler: stopped: " + output_ + " is as it was; the pieces are kept in " +
                            journal_.folder() + " and the same command joins them\n");
        joinPieces(source_, selection_, *expected_, journal_, ordered, output_);
        journal_.remove();
    }

    const std::string& input_;
    const std::string& output_;
    const FilmSettings& settings_;
    SharedPool& pool_;
    Progress& progress_;
    const FilmSelection selection_;
    FilmReader source_;
    const Enlargement enlargement_;
    const FrameSize frames_;  // the enlarged frames' size
    const VideoEncoding encoding_;
    PieceJournal journal_;
    const std::string name_;
    const std::string modulePath_;
    std::int64_t length_ = 0;
    std::int64_t selectedFrames_ = 0;
    std::int64_t planned_ = 0;
    ParametersHandle expected_;
    std::map<std::int64_t, CheckedPiece> pieces_;
    bool task_ = false;  // --pieces K/N: one of several runs sharing the folder
};

}  // namespace

FrameSize enlargeFilm(const std::string& input, const std::string& output, const FilmSettings& settings,
                      const ScaleRequest& scale, SharedPool& pool, Progress& progress) {
    // Problems reach the user as one line each, from this command.
    av_log_set_level(AV_LOG_QUIET);
    FilmRun run(input, output, settings, scale, pool, progress);
    run.run();
    return run.frameSize();
}

}  // namespace crest::cli
