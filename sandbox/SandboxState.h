#pragma once

#include <string>

#include "sandbox/AuthStore.h"
#include "sandbox/FaultInjector.h"
#include "sandbox/LiveConfig.h"
#include "sandbox/RequestLog.h"
#include "sandbox/SandboxClock.h"
#include "sandbox/UploadStore.h"

namespace vekta::sandbox {

// Everything a running sandbox knows, shared by its endpoints.
struct SandboxState {
    explicit SandboxState(SandboxConfig initial)
        : clock(initial.clock), config(std::move(initial)), auth(clock), uploads(clock) {}

    SandboxClock clock;
    LiveConfig config;
    AuthStore auth;
    UploadStore uploads;
    FaultInjector faults;
    RequestLog requests;
    std::string origin;  // set before the server accepts its first connection
};

}  // namespace vekta::sandbox
