#include "tiktok/TikTokTrace.h"

#include <atomic>
#include <string>

#include "talcore/debug/Trace.h"

namespace Vekta {
namespace {

constexpr const char* kCategory = "TikTok";
constexpr int kLevel = 5;

// The configuration's change count and the answer for it, exchanged as one value.
std::atomic<std::uint64_t> cachedAnswer{0};

}  // namespace

bool TikTokTraceEnabled() {
    const std::uint64_t count = talcore::debug::TraceChangeCount();
    const std::uint64_t cached = cachedAnswer.load(std::memory_order_acquire);
    if ((cached >> 1) == count) return (cached & 1) != 0;
    const bool enabled = talcore::debug::TraceEnabled(kCategory, kLevel);
    cachedAnswer.store((count << 1) | (enabled ? 1 : 0), std::memory_order_release);
    return enabled;
}

void TraceTikTok(std::string_view text) {
    if (TikTokTraceEnabled()) talcore::debug::Trace(kCategory, kLevel, text);
}

void TraceHandlerError(std::string_view handler, const talnet::http::RequestID& id, const std::exception& error) {
    if (!TikTokTraceEnabled()) return;
    TraceTikTok(std::string(handler) + " Error: " + id.AsUTF8String() + ": " + error.what() + "\r\n");
}

}  // namespace Vekta
