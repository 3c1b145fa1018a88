#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "sandbox/SandboxConfig.h"

namespace vekta::sandbox {

// The configured clock plus an offset that tests (in-process or over the control API) move forward.
class SandboxClock {
public:
    explicit SandboxClock(WallClock base);

    std::chrono::system_clock::time_point Now() const;
    void Advance(std::chrono::seconds by);

private:
    WallClock base_;
    std::atomic<std::int64_t> offsetMs_{0};
};

}  // namespace vekta::sandbox
