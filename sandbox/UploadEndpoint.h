#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "sandbox/ChunkPlan.h"
#include "sandbox/Exchange.h"
#include "sandbox/SandboxClock.h"
#include "sandbox/UploadStore.h"

namespace vekta::sandbox {

struct ContentRange {
    ChunkRange range;
    std::uint64_t total = 0;
};

// Exactly "bytes first-last/total" with first <= last < total.
std::optional<ContentRange> ParseContentRange(std::string_view header);

// PUT to an upload URL: one chunk per request, streamed into its upload.
class UploadEndpoint {
public:
    UploadEndpoint(const SandboxClock& clock, UploadStore& uploads);

    void Put(Exchange& exchange);

private:
    // Refuses a chunk before its body is read; the body is drained so the connection stays usable.
    void Refuse(Exchange& exchange, int status, std::string_view code, std::string_view message);

    const SandboxClock& clock_;
    UploadStore& uploads_;
};

}  // namespace vekta::sandbox
