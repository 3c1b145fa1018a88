#pragma once

#include <functional>
#include <mutex>

#include "sandbox/SandboxConfig.h"

namespace vekta::sandbox {

// The configuration as it stands now; each request works on its own snapshot, so a change made
// while a request runs applies from the next request on.
class LiveConfig {
public:
    explicit LiveConfig(SandboxConfig initial);

    SandboxConfig Snapshot() const;
    void Update(const std::function<void(SandboxConfig&)>& change);

private:
    mutable std::mutex mutex_;
    SandboxConfig config_;
};

}  // namespace vekta::sandbox
