#pragma once

#include <httplib.h>

#include "sandbox/SandboxState.h"

namespace vekta::sandbox {

inline constexpr const char* kControlPrefix = "/_sandbox/";

// The sandbox's own JSON API under /_sandbox/, for tests that run it as a separate process:
// the same fault injection and inspection the C++ API offers.
class ControlEndpoints {
public:
    explicit ControlEndpoints(SandboxState& state);

    void Register(httplib::Server& server);

private:
    SandboxState& state_;
};

}  // namespace vekta::sandbox
