#include "talcore/threads/MainThread.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "talcore/debug/Trace.h"

namespace talcore::threads {
namespace {

struct MainThreadQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> tasks;
    std::uint64_t wakeups = 0;
};

MainThreadQueue& Queue() {
    // Never destroyed: other threads may still post while the process exits.
    static auto* queue = new MainThreadQueue;
    return *queue;
}

std::atomic<std::thread::id>& MainThreadID() {
    static std::atomic<std::thread::id> id{std::this_thread::get_id()};
    return id;
}

// The thread that loads the platform is the main thread until the host says otherwise.
[[maybe_unused]] const bool mainThreadRecorded = (MainThreadID(), true);

bool RunOne() {
    std::function<void()> task;
    {
        auto& q = Queue();
        std::lock_guard lock(q.mutex);
        if (q.tasks.empty()) return false;
        task = std::move(q.tasks.front());
        q.tasks.pop_front();
    }
    // A task that throws must not take the host's event loop, or the tasks behind it, down.
    try {
        task();
    } catch (const std::exception& e) {
        debug::Trace("MainThread", 1, std::string("A main-thread task threw: ") + e.what());
    } catch (...) {
        debug::Trace("MainThread", 1, "A main-thread task threw an unknown exception");
    }
    return true;
}

}  // namespace

bool CurrentThreadIsMainThread() {
    return MainThreadID().load(std::memory_order_acquire) == std::this_thread::get_id();
}

void DeclareMainThread() { MainThreadID().store(std::this_thread::get_id(), std::memory_order_release); }

void PostToMainThread(std::function<void()> task) {
    auto& q = Queue();
    {
        std::lock_guard lock(q.mutex);
        q.tasks.push_back(std::move(task));
    }
    q.changed.notify_all();
}

void WakeMainThread() {
    auto& q = Queue();
    {
        std::lock_guard lock(q.mutex);
        ++q.wakeups;
    }
    q.changed.notify_all();
}

std::size_t PumpMainThreadTasks() {
    std::size_t ran = 0;
    while (RunOne()) ++ran;
    return ran;
}

bool PumpMainThreadTasksUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline) {
    auto& q = Queue();
    for (;;) {
        while (RunOne()) {
            if (done()) return true;
        }
        // Taken before checking `done`, so a wake-up that comes between the check and the wait
        // is not lost.
        std::uint64_t seen = 0;
        {
            std::lock_guard lock(q.mutex);
            seen = q.wakeups;
        }
        if (done()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        // Bounded sleep: `done` may change without a wake-up (another thread's plain flag).
        const auto until = std::min(deadline, now + std::chrono::milliseconds(10));
        std::unique_lock lock(q.mutex);
        q.changed.wait_until(lock, until, [&] { return !q.tasks.empty() || q.wakeups != seen; });
    }
}

}  // namespace talcore::threads
