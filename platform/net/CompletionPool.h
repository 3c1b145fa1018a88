// A few threads that run request completions, so that a slow completion never stalls the transfer
// loop and a completion may submit the next request.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace talnet::http::detail {

class CompletionPool {
public:
    explicit CompletionPool(std::size_t threadCount);
    // Runs what is queued, then joins. When the last owner lets go from inside a completion, that
    // thread is detached instead of joining itself; it finishes its loop on the shared state.
    ~CompletionPool();
    CompletionPool(const CompletionPool&) = delete;
    CompletionPool& operator=(const CompletionPool&) = delete;

    // [any-thread] False once the pool is shutting down (the work is then dropped).
    bool Post(std::function<void()> work);

    // For process exit: drops what has not started, waits up to `grace` for what is running, then
    // joins the threads, or detaches them when something is still running.
    void Abandon(std::chrono::milliseconds grace);

private:
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable idle;
        std::deque<std::function<void()>> queue;
        std::size_t running = 0;
        bool stopping = false;
    };
    static void Work(const std::shared_ptr<State>& state);
    void ReleaseThreads(bool join);

    std::shared_ptr<State> state_;
    std::vector<std::thread> threads_;
};

}  // namespace talnet::http::detail
