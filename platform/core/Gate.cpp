#include "talcore/threads/Gate.h"

namespace talcore::threads {

void Gate::Open() {
    // Notified under the lock: a waiter that sees the gate open may destroy it at once (a gate on
    // its stack), so the condition variable must not be touched after the lock is released.
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
}

void Gate::Close() {
    std::lock_guard lock(mutex_);
    open_ = false;
}

bool Gate::IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

bool Gate::PassThroughUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return opened_.wait_until(lock, deadline, [this] { return open_; });
}

}  // namespace talcore::threads
