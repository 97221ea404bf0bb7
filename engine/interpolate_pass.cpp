#include "engine/interpolate_pass.h"

#include <cstddef>
#include <cstdint>

#include <optional>

#include "engine/edge_estimate.h"
#include "engine/four_pixels.h"
#include "engine/tagged_pixel.h"
#include "engine/pass_windows.h"

namespace crest {

TaggedPixel smoothFill(TaggedPixel n0, TaggedPixel n1, TaggedPixel n2, TaggedPixel n3) {
    return tagPixel(averagePixels(averagePixels(n0, n1), averagePixels(n2, n3)));
}

void setPassDirections(EnlargerState& state, const NeighborSet& neighbors) {
    for (int j = 0; j < 4; ++j) {
        const DirectionStep step = directionStepOf(neighbors.offset[j], state.pitch);
        for (int k = 0; k < 4; ++k)
            state.levelStep[k][j] = step.dy * (1 << k) * state.halfWidth + ((step.dx * (1 << k)) >> 1);
        state.dirPacked[j] = packedStep(step.dx, step.dy);
        state.trainOffset[j] = 2 * neighbors.offset[j];
    }
}

namespace {

// The targets of one pass, visited row by row. Flat targets are filled in
// groups of eight (where the kernels have them) or four; active ones get their window from the pass's windows and
// are solved in batches across targets.
class PassVisitor {
public:
    PassVisitor(EnlargerState& state, const NeighborSet& neighbors, bool axial, const EngineKernels& kernels)
        : neighbors_(neighbors),
          estimateBatch_(kernels.estimateBatch),
          // Without at least two inner rows and columns the border clamp has
          // nowhere to land, so such small frames are smooth-filled throughout.
          canEstimate_(state.innerWidth >= 2 && state.innerHeight >= 2) {
        if (canEstimate_) windows_.emplace(state, axial, kernels.bandRows);
    }

    void beginRow(std::int32_t y) {
        y_ = y;
        rowReady_ = false;
    }

    void visit(std::uint8_t* target, std::int32_t x) {
        const TaggedPixel n0 = loadPixel(target + neighbors_.offset[0]);
        const TaggedPixel n1 = loadPixel(target + neighbors_.offset[1]);
        const TaggedPixel n2 = loadPixel(target + neighbors_.offset[2]);
        const TaggedPixel n3 = loadPixel(target + neighbors_.offset[3]);
        const std::int32_t activity =
            tagActivity(static_cast<std::int32_t>(lumaTag(n0)), static_cast<std::int32_t>(lumaTag(n1)),
                        static_cast<std::int32_t>(lumaTag(n2)), static_cast<std::int32_t>(lumaTag(n3)));
        if (activity < kActivityThreshold || !canEstimate_) {
            storePixel(target, smoothFill(n0, n1, n2, n3));
            return;
        }
        estimate(target, x, n0, n1, n2, n3);
    }

    // Targets x, x + 2, x + 4 and x + 6: the same results as four visits.
    void visitFour(std::uint8_t* target, std::int32_t x) {
        __m128i n[4];
        for (int j = 0; j < 4; ++j) n[j] = four::loadEveryOtherPixel(target + neighbors_.offset[j]);
        const int active = canEstimate_ ? four::activeLanes(n, kActivityThreshold) : 0;
        // Active targets get their estimate when the batch is solved; until
        // then they hold the fill, which nothing in the pass reads.
        four::storeEveryOtherPixel(target, four::smoothFillFour(n));
        if (active != 0) queueFour(target, x, n, active);
    }

    // The targets x, x + 2, .., x + 16 * groups - 2 through fill: the same
    // results as visitFour on each four. A chunk of groups is filled first;
    // then the groups with active targets gather their neighbours again for
    // the batch.
    void visitGroups(FillTargetGroups fill, std::uint8_t* target, std::int32_t x, std::int32_t groups) {
        constexpr std::int32_t kChunk = 64;
        std::uint8_t masks[kChunk];
        const std::int32_t threshold = canEstimate_ ? kActivityThreshold : INT32_MAX;
        for (std::int32_t first = 0; first < groups; first += kChunk) {
            const std::int32_t count = groups - first < kChunk ? groups - first : kChunk;
            fill(target + 64 * static_cast<std::ptrdiff_t>(first), count, neighbors_.offset, threshold, masks);
            for (std::int32_t g = 0; g < count; ++g) {
                if (masks[g] == 0) continue;
                std::uint8_t* const group = target + 64 * static_cast<std::ptrdiff_t>(first + g);
                const std::int32_t column = x + 16 * (first + g);
                if ((masks[g] & 15) != 0) queueGatheredFour(group, column, masks[g] & 15);
                if ((masks[g] >> 4) != 0) queueGatheredFour(group + 32, column + 8, masks[g] >> 4);
            }
        }
    }

    // Solves, estimates and stores the queued targets.
    void flush() {
        if (batch_.count == 0) return;
        solveFirst(batch_.count);
        batch_.count = 0;
    }

private:
    void queueGatheredFour(std::uint8_t* target, std::int32_t x, int active) {
        __m128i n[4];
        for (int j = 0; j < 4; ++j) n[j] = four::loadEveryOtherPixel(target + neighbors_.offset[j]);
        queueFour(target, x, n, active);
    }

    // The active targets of a group of four (bit m: target x + 2m) into the
    // batch; their fill is stored already.
    void queueFour(std::uint8_t* target, std::int32_t x, const __m128i (&n)[4], int active) {
        prepareRow();
        const int k = batch_.count;
        if (!windows_->windowFour(x, &batch_.word[0][k], WindowBatch::kCapacity)) {
            // Windows clamped at the border: one target at a time.
            for (int m = 0; m < 4; ++m)
                if ((active >> m & 1) != 0)
                    estimate(target + 8 * m, x + 2 * m, four::lane(n[0], m), four::lane(n[1], m), four::lane(n[2], m),
                             four::lane(n[3], m));
            return;
        }
        // All four windows are in slots k..k+3; the active ones close up.
        for (int j = 0; j < 4; ++j) _mm_storeu_si128(reinterpret_cast<__m128i*>(&batch_.neighbor[j][k]), n[j]);
        int slot = k;
        for (int m = 0; m < 4; ++m) {
            if ((active >> m & 1) == 0) continue;
            if (slot != k + m) moveSlot(k + m, slot);
            target_[slot++] = target + 8 * m;
        }
        batch_.count = slot;
        if (batch_.count >= WindowBatch::kSolveAt) solveFullBatch();
    }

    // The first kSolveAt windows, whole vectors of lanes; the one to three
    // a group of four brought beyond them move to the front for the next
    // batch.
    void solveFullBatch() {
        const int extra = batch_.count - WindowBatch::kSolveAt;
        solveFirst(WindowBatch::kSolveAt);
        for (int k = 0; k < extra; ++k) {
            moveSlot(WindowBatch::kSolveAt + k, k);
            target_[k] = target_[WindowBatch::kSolveAt + k];
        }
        batch_.count = extra;
    }

    void solveFirst(int count) {
        batch_.count = count;
        TaggedPixel pixels[WindowBatch::kCapacity];
        estimateBatch_(batch_, pixels);
        for (int k = 0; k < count; ++k) storePixel(target_[k], pixels[k]);
    }

    // Queues the target for the next batch. No pass reads a pixel that the
    // same pass writes, so the order of the stores does not matter.
    void estimate(std::uint8_t* target, std::int32_t x, TaggedPixel n0, TaggedPixel n1, TaggedPixel n2,
                  TaggedPixel n3) {
        prepareRow();
        const int k = batch_.count;
        windows_->window(x, &batch_.word[0][k], WindowBatch::kCapacity);
        batch_.neighbor[0][k] = n0;
        batch_.neighbor[1][k] = n1;
        batch_.neighbor[2][k] = n2;
        batch_.neighbor[3][k] = n3;
        target_[k] = target;
        if (++batch_.count >= WindowBatch::kSolveAt) solveFullBatch();
    }

    void prepareRow() {
        if (rowReady_) return;
        windows_->beginRow(y_);
        rowReady_ = true;
    }

    void moveSlot(int from, int to) {
        for (auto& word : batch_.word) word[to] = word[from];
        for (auto& neighbor : batch_.neighbor) neighbor[to] = neighbor[from];
    }

    const NeighborSet neighbors_;
    const BatchEstimator estimateBatch_;
    const bool canEstimate_;
    std::optional<PassWindows> windows_;
    WindowBatch batch_{};
    std::uint8_t* target_[WindowBatch::kCapacity];
    std::int32_t y_ = 0;
    bool rowReady_ = false;
};

}  // namespace

void interpolatePass(EnlargerState& state, std::uint8_t* base, std::int32_t pitch, std::int32_t startX,
                     std::int32_t startY, std::int32_t endX, std::int32_t endY, const NeighborSet& neighbors,
                     bool axial) {
    interpolatePass(state, base, pitch, startX, startY, endX, endY, neighbors, axial, widestEngineKernels());
}

void interpolatePass(EnlargerState& state, std::uint8_t* base, std::int32_t pitch, std::int32_t startX,
                     std::int32_t startY, std::int32_t endX, std::int32_t endY, const NeighborSet& neighbors,
                     bool axial, const EngineKernels& kernels) {
    setPassDirections(state, neighbors);
    const std::int32_t rowStep = axial ? 1 : 2;
    PassVisitor visitor(state, neighbors, axial, kernels);
    const FillTargetGroups fillGroups = kernels.fillTargetGroups;
    std::int32_t firstColumn = startX;
    for (std::int32_t y = startY; y < endY; y += rowStep) {
        std::uint8_t* row = base + static_cast<std::ptrdiff_t>(y) * pitch;
        visitor.beginRow(y);
        std::int32_t x = firstColumn;
        if (fillGroups != nullptr && x + 14 < endX) {
            const std::int32_t groups = (endX - x + 1) / 16;  // the last target x + 16 * groups - 2 < endX
            visitor.visitGroups(fillGroups, row + 4 * static_cast<std::ptrdiff_t>(x), x, groups);
            x += 16 * groups;
        }
        for (; x + 6 < endX; x += 8) visitor.visitFour(row + 4 * static_cast<std::ptrdiff_t>(x), x);
        for (; x < endX; x += 2) visitor.visit(row + 4 * static_cast<std::ptrdiff_t>(x), x);
        if (axial) firstColumn = 3 - firstColumn;
    }
    visitor.flush();
}

}  // namespace crest
