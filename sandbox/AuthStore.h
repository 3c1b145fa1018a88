#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/SandboxClock.h"

namespace vekta::sandbox {

// What a client asked for on the authorize page, carried through consent and the code.
struct AuthorizationRequest {
    std::string clientKey;
    std::string redirectUri;
    std::string state;
    std::string codeChallenge;
    std::vector<std::string> scopes;
};

struct TokenGrant {
    std::string accessToken;
    std::string refreshToken;
    std::string openId;
    std::string scope;  // comma-separated
    std::chrono::seconds expiresIn{0};
    std::chrono::seconds refreshExpiresIn{0};
};

struct AccessGrant {
    std::string openId;
    std::vector<std::string> scopes;

    bool HasScope(const std::string& scope) const;
};

// Consent pages, authorization codes and tokens of the sandbox's one user. Thread-safe.
class AuthStore {
public:
    explicit AuthStore(const SandboxClock& clock);

    const std::string& OpenId() const { return openId_; }
    const std::string& UnionId() const { return unionId_; }

    std::string CreateConsent(AuthorizationRequest request, std::chrono::seconds lifetime);
    // One-time: a consent id answers once, whether the user authorised or cancelled.
    std::optional<AuthorizationRequest> TakeConsent(const std::string& consentId);

    std::string IssueCode(AuthorizationRequest request, std::chrono::seconds lifetime);
    // Single use: the code is spent by the first attempt, even one that fails later checks.
    std::optional<AuthorizationRequest> RedeemCode(const std::string& code);

    TokenGrant IssueTokens(const std::vector<std::string>& scopes, std::chrono::seconds accessLifetime,
                           std::chrono::seconds refreshLifetime);
    // `rotate`: a new refresh token comes back; `refuseRotatedOut`: the one sent is then retired.
    std::optional<TokenGrant> Refresh(const std::string& refreshToken, bool rotate, bool refuseRotatedOut,
                                      std::chrono::seconds accessLifetime, std::chrono::seconds refreshLifetime);
    std::optional<AccessGrant> CheckAccessToken(const std::string& accessToken) const;

    void ExpireAccessTokens();
    void RevokeRefreshTokens();
    void ExpireAuthorizationCodes();

private:
    using TimePoint = std::chrono::system_clock::time_point;
    template <typename T>
    struct Expiring {
        T value;
        TimePoint expiresAt;
    };
    struct Grant {
        std::vector<std::string> scopes;
        TimePoint expiresAt;
    };

    std::string NewAccessTokenLocked(const std::vector<std::string>& scopes, std::chrono::seconds lifetime);
    void PruneLocked(TimePoint now);
    using OneTimeRequests = std::map<std::string, Expiring<AuthorizationRequest>>;
    // Keeps `request` under a fresh `key` until it expires or is taken.
    std::string Keep(OneTimeRequests& entries, std::string key, AuthorizationRequest request,
                     std::chrono::seconds lifetime);
    // The request under `key`, once: it is gone afterwards, and an expired one is not handed out.
    std::optional<AuthorizationRequest> TakeOnce(OneTimeRequests& entries, const std::string& key);

    const SandboxClock& clock_;
    const std::string openId_;
    const std::string unionId_;
    mutable std::mutex mutex_;
    std::map<std::string, Expiring<AuthorizationRequest>> consents_;
    std::map<std::string, Expiring<AuthorizationRequest>> codes_;
    std::map<std::string, Grant> accessTokens_;
    std::map<std::string, Grant> refreshTokens_;
};

std::string JoinScopes(const std::vector<std::string>& scopes);

}  // namespace vekta::sandbox
