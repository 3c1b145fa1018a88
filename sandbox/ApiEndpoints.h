#pragma once

#include <optional>
#include <string>

#include "sandbox/AuthStore.h"
#include "sandbox/Exchange.h"
#include "sandbox/LiveConfig.h"
#include "sandbox/UploadStore.h"

namespace vekta::sandbox {

inline constexpr const char* kUserInfoPath = "/v2/user/info/";
inline constexpr const char* kCreatorInfoPath = "/v2/post/publish/creator_info/query/";
inline constexpr const char* kDirectPostInitPath = "/v2/post/publish/video/init/";
inline constexpr const char* kInboxInitPath = "/v2/post/publish/inbox/video/init/";
inline constexpr const char* kUploadPath = "/upload/";
inline constexpr const char* kAvatarPath = "/_sandbox/avatar.png";

std::vector<std::string> PrivacyLevelOptions(const CreatorSettings& creator);

// The bearer-token API: user info, creator info and the two kinds of upload init.
class ApiEndpoints {
public:
    // `origin` is the sandbox's own origin; it is set before the first request arrives.
    ApiEndpoints(const LiveConfig& config, const AuthStore& auth, UploadStore& uploads, const std::string& origin);

    void UserInfo(Exchange& exchange);
    void CreatorInfo(Exchange& exchange);
    void Init(Exchange& exchange, InitKind kind);

private:
    // Answers 401/403 itself and returns nothing when the request may not go on.
    std::optional<AccessGrant> Authenticate(Exchange& exchange, const char* requiredScope);
    // The JSON object body, or nothing after answering 400.
    std::optional<nlohmann::json> JsonBody(Exchange& exchange, bool emptyIsObject);

    const LiveConfig& config_;
    const AuthStore& auth_;
    UploadStore& uploads_;
    const std::string& origin_;
};

}  // namespace vekta::sandbox
