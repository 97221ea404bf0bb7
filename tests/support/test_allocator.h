// An EngineAllocator that counts what it hands out and fails on demand.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <map>

#include "engine/engine_allocator.h"

namespace crest::testing {

class TestAllocator {
public:
    TestAllocator() : allocator_{&TestAllocator::allocate, &TestAllocator::release, this} {}
    TestAllocator(const TestAllocator&) = delete;
    TestAllocator& operator=(const TestAllocator&) = delete;
    ~TestAllocator() {
        for (auto& [memory, bytes] : live_) std::free(memory);
    }

    const EngineAllocator& allocator() const { return allocator_; }

    // The n-th allocation from now (1-based) fails, and so does every later
    // one while failAfter is set; 0 turns failure off.
    void failFrom(int n) {
        failFrom_ = n == 0 ? 0 : allocations_ + n;
    }
    void failNone() { failFrom_ = 0; }

    int allocations() const { return allocations_; }
    int releases() const { return releases_; }
    int failures() const { return failures_; }
    std::size_t liveBlocks() const { return live_.size(); }
    std::size_t liveBytes() const {
        std::size_t total = 0;
        for (const auto& [memory, bytes] : live_) total += bytes;
        return total;
    }

private:
    static void* allocate(void* context, std::size_t bytes) {
        auto* self = static_cast<TestAllocator*>(context);
        ++self->allocations_;
        if (self->failFrom_ != 0 && self->allocations_ >= self->failFrom_) {
            ++self->failures_;
            return nullptr;
        }
        void* memory = std::malloc(bytes == 0 ? 1 : bytes);
        if (memory != nullptr) self->live_[memory] = bytes;
        return memory;
    }
    static void release(void* context, void* memory) {
        auto* self = static_cast<TestAllocator*>(context);
        ++self->releases_;
        const auto it = self->live_.find(memory);
        if (it == self->live_.end()) {
            ++self->foreignReleases_;
            return;
        }
        self->live_.erase(it);
        std::free(memory);
    }

    EngineAllocator allocator_;
    std::map<void*, std::size_t> live_;
    int allocations_ = 0;
    int releases_ = 0;
    int failures_ = 0;
    int failFrom_ = 0;

public:
    // Frees of memory this allocator never handed out (always a bug).
    int foreignReleases_ = 0;
};

}  // namespace crest::testing
