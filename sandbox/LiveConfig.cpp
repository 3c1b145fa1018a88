#include "sandbox/LiveConfig.h"

#include <utility>

namespace vekta::sandbox {

LiveConfig::LiveConfig(SandboxConfig initial) : config_(std::move(initial)) {}

SandboxConfig LiveConfig::Snapshot() const {
    std::lock_guard lock(mutex_);
    return config_;
}

void LiveConfig::Update(const std::function<void(SandboxConfig&)>& change) {
    std::lock_guard lock(mutex_);
    change(config_);
}

}  // namespace vekta::sandbox
