// Tracing of the network services: category "Network" at a verbose level. Lines carry methods,
// origins and paths, statuses and timings only; never header values, query strings or bodies.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "talcore/debug/Trace.h"

namespace talnet::http::detail {

inline constexpr std::string_view kNetworkTraceCategory = "Network";
inline constexpr int kNetworkTraceLevel = 7;

// Asks the trace configuration again only when it has changed: the answer and the change count it
// belongs to sit in one atomic word, so a reader never pairs an answer with the wrong count.
inline bool NetworkTraceEnabled() {
    static std::atomic<std::uint64_t> cached{0};  // (count << 1) | enabled; count 0 = never asked
    const std::uint64_t count = talcore::debug::TraceChangeCount() + 1;
    const std::uint64_t seen = cached.load(std::memory_order_acquire);
    if ((seen >> 1) == count) return (seen & 1u) != 0;
    const bool enabled = talcore::debug::TraceEnabled(kNetworkTraceCategory, kNetworkTraceLevel);
    cached.store((count << 1) | (enabled ? 1u : 0u), std::memory_order_release);
    return enabled;
}

inline void NetworkTrace(std::string_view line) {
    talcore::debug::Trace(kNetworkTraceCategory, kNetworkTraceLevel, line);
}

}  // namespace talnet::http::detail
