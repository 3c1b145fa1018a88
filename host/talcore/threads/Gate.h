// A one-shot gate: built closed; Open lets every present and future waiter through.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "talcore/TalExport.h"

namespace talcore::threads {

class TAL_API Gate {
public:
    Gate() = default;
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    // [any-thread] Opens the gate and wakes every waiter.
    void Open();
    // [any-thread] Closes it again (a fresh gate is already closed).
    void Close();
    bool IsOpen() const;
    // [any-thread] Waits until the gate is open or `deadline` has passed; true when it is open.
    bool PassThroughUntil(std::chrono::steady_clock::time_point deadline);

private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

}  // namespace talcore::threads
