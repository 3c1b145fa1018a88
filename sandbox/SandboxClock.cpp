#include "sandbox/SandboxClock.h"

#include <utility>

namespace vekta::sandbox {

SandboxClock::SandboxClock(WallClock base) : base_(std::move(base)) {}

std::chrono::system_clock::time_point SandboxClock::Now() const {
    const auto base = base_ ? base_() : std::chrono::system_clock::now();
    return base + std::chrono::milliseconds(offsetMs_.load());
}

void SandboxClock::Advance(std::chrono::seconds by) {
    offsetMs_ += std::chrono::duration_cast<std::chrono::milliseconds>(by).count();
}

}  // namespace vekta::sandbox
