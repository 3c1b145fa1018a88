#pragma once

#include <mutex>

#include "talcore/TalExport.h"

namespace talcore::threads {

// A mutex that the thread holding it may lock again; usable with std::lock_guard.
class TAL_API RecursiveMutex {
public:
    void lock() { mutex_.lock(); }
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

}  // namespace talcore::threads
