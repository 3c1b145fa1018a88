#include "talcore/threads/Executor.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "talcore/debug/Trace.h"

namespace talcore::threads {
namespace {

// A fixed pool of detached workers. It is never destroyed, so work queued during process exit
// finds a live queue instead of a destroyed one.
class ThreadPoolExecutor final : public Executor {
public:
    explicit ThreadPoolExecutor(unsigned threadCount) {
        for (unsigned i = 0; i < threadCount; ++i) std::thread([this] { Work(); }).detach();
    }

    void Post(std::function<void()> work, int priority) override {
        {
            std::lock_guard lock(mutex_);
            if (priority > 0) {
                queue_.push_front(std::move(work));
            } else {
                queue_.push_back(std::move(work));
            }
        }
        available_.notify_one();
    }

private:
    void Work() {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock lock(mutex_);
                available_.wait(lock, [this] { return !queue_.empty(); });
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            try {
                work();
            } catch (const std::exception& e) {
                debug::Trace("Executor", 1, std::string("Queued work threw: ") + e.what() + "\r\n");
            } catch (...) {
                debug::Trace("Executor", 1, "Queued work threw an unknown exception\r\n");
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable available_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace

Executor& GetCPUBoundExecutor() {
    static auto* executor = new ThreadPoolExecutor(std::clamp(std::thread::hardware_concurrency(), 2u, 4u));
    return *executor;
}

void CallAsync(Executor& executor, std::function<void()> work, int priority) {
    executor.Post(std::move(work), priority);
}

}  // namespace talcore::threads
