// The module and the pool of instances that every job of a run shares,
// loaded when a job first needs them: a job rejects a bad input before the
// module is touched.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "cli/hosting/filter_host.h"
#include "cli/pipeline/instance_pool.h"

namespace crest::cli {

class SharedPool {
public:
    SharedPool(std::string modulePath, int instances) : modulePath_(std::move(modulePath)), instances_(instances) {}
    SharedPool(const SharedPool&) = delete;
    SharedPool& operator=(const SharedPool&) = delete;

    int instances() const { return instances_; }
    const std::string& modulePath() const { return modulePath_; }

    // Loads the module on the first call, from any thread. Throws the
    // module's CommandError, again on every call once loading failed.
    InstancePool& pool() {
        const std::lock_guard lock(mutex_);
        if (pool_ == nullptr) {
            module_ = std::make_unique<FilterModule>(modulePath_);
            pool_ = std::make_unique<InstancePool>(*module_, instances_);
        }
        return *pool_;
    }

private:
    const std::string modulePath_;
    const int instances_;
    std::mutex mutex_;
    std::unique_ptr<FilterModule> module_;
    std::unique_ptr<InstancePool> pool_;  // declared last: its threads end before the module goes
};

}  // namespace crest::cli
