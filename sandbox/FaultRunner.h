#pragma once

#include <chrono>
#include <optional>

#include "sandbox/FaultInjector.h"

namespace vekta::sandbox {

// The server's side of fault injection: taking the fault due for a call and waiting it out.
// Every wait ends early once the sandbox stops.
class FaultRunner {
public:
    explicit FaultRunner(FaultInjector& faults) : faults_(faults) {}

    // The fault due for this call, if any; counts it as used.
    std::optional<Fault> Take(Endpoint endpoint);
    // Waits `delay`; false when the sandbox stopped meanwhile.
    bool Wait(std::chrono::milliseconds delay);
    // Waits until ReleaseHangs or Stop; false when stopped.
    bool HangUntilReleased();

    void Stop();
    void Restart();

private:
    FaultInjector& faults_;
};

}  // namespace vekta::sandbox
