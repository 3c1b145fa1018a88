#include "CompletionPool.h"

#include <utility>

namespace talnet::http::detail {

CompletionPool::CompletionPool(std::size_t threadCount) : state_(std::make_shared<State>()) {
    threads_.reserve(threadCount);
    for (std::size_t i = 0; i < threadCount; ++i) threads_.emplace_back([state = state_] { Work(state); });
}

CompletionPool::~CompletionPool() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    ReleaseThreads(true);
}

bool CompletionPool::Post(std::function<void()> work) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return false;
        state_->queue.push_back(std::move(work));
    }
    state_->wake.notify_one();
    return true;
}

void CompletionPool::Abandon(std::chrono::milliseconds grace) {
    std::deque<std::function<void()>> dropped;
    bool idle = false;
    {
        std::unique_lock lock(state_->mutex);
        state_->stopping = true;
        dropped.swap(state_->queue);
    }
    state_->wake.notify_all();
    dropped.clear();  // outside the lock: a completion's captures may do anything when destroyed
    {
        std::unique_lock lock(state_->mutex);
        idle = state_->idle.wait_for(lock, grace, [&] { return state_->running == 0; });
    }
    ReleaseThreads(idle);
}

void CompletionPool::ReleaseThreads(bool join) {
    const auto self = std::this_thread::get_id();
    for (auto& thread : threads_) {
        if (!thread.joinable()) continue;
        if (join && thread.get_id() != self) {
            thread.join();
        } else {
            thread.detach();
        }
    }
    threads_.clear();
}

void CompletionPool::Work(const std::shared_ptr<State>& state) {
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&] { return state->stopping || !state->queue.empty(); });
        if (state->queue.empty()) return;  // stopping and drained
        std::function<void()> work = std::move(state->queue.front());
        state->queue.pop_front();
        ++state->running;
        lock.unlock();
        try {
            work();
        } catch (...) {
            // A completion's failure is its own; the pool keeps serving the others.
        }
        work = nullptr;  // captures go before the count drops, so Abandon's wait covers them
        lock.lock();
        if (--state->running == 0) state->idle.notify_all();
    }
}

}  // namespace talnet::http::detail
