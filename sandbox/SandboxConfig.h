#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace vekta::sandbox {

// The sandbox's "now". Tests replace it so codes, tokens and upload URLs expire without sleeping.
using WallClock = std::function<std::chrono::system_clock::time_point()>;

// What creator_info/query reports and what a direct post is checked against.
struct CreatorSettings {
    std::string nickname = "Sandbox Creator";
    std::string username = "sandbox.creator";
    bool privateAccount = false;
    bool commentDisabled = false;
    bool duetDisabled = false;
    bool stitchDisabled = false;
    int maxVideoPostDurationSec = 600;
};

struct SandboxConfig {
    // The plug-in's registered credentials.
    std::string clientKey = "mqv27xk0pd4rh8sz";
    std::string clientSecret = "3f6c0a9e5b17d4820c9ea3716bd05f4a";

    // Skip the consent page: authorize answers with the redirect at once.
    bool autoApprove = false;
    // Received uploads are written here as files named by upload id; empty keeps nothing on disk.
    std::string dataDir;
    // Keep each upload's bytes for inspection; only for small test files.
    bool keepUploadBytesInMemory = false;

    std::chrono::seconds accessTokenLifetime{86400};
    std::chrono::seconds refreshTokenLifetime{365 * 86400};
    std::chrono::seconds authorizationCodeLifetime{60};
    std::chrono::seconds consentPageLifetime{600};
    std::chrono::seconds uploadUrlLifetime{3600};
    // Refreshing issues a new refresh token; otherwise the same one comes back.
    bool rotateRefreshTokens = false;
    // A refresh token that a rotation replaced is refused from then on, as TikTok does; otherwise it
    // stays usable until it expires.
    bool refuseRotatedRefreshTokens = false;
    // Unfinished uploads a creator may have open before init answers spam_risk_too_many_pending_share;
    // 0 means no limit.
    int maxPendingUploads = 5;

    CreatorSettings creator;
    // Empty: the system clock.
    WallClock clock;
};

}  // namespace vekta::sandbox
