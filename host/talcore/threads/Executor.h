// Executors: pools of worker threads that run queued work.
#pragma once

#include <functional>

#include "talcore/TalExport.h"

namespace talcore::threads {

class TAL_API Executor {
public:
    virtual ~Executor() = default;
    // [any-thread] Queues `work`; it runs once on one of the executor's threads.
    virtual void Post(std::function<void()> work, int priority) = 0;
};

// The host's pool for CPU-bound work (a few threads), alive for the life of the process.
TAL_API Executor& GetCPUBoundExecutor();

// [any-thread] Runs `work` on `executor`. `priority` 0 is the normal priority.
TAL_API void CallAsync(Executor& executor, std::function<void()> work, int priority = 0);

}  // namespace talcore::threads
