#include "sandbox/AuthStore.h"

#include <algorithm>
#include <utility>

#include "sandbox/Identifiers.h"

namespace vekta::sandbox {

bool AccessGrant::HasScope(const std::string& scope) const {
    return std::find(scopes.begin(), scopes.end(), scope) != scopes.end();
}

std::string JoinScopes(const std::vector<std::string>& scopes) {
    std::string joined;
    for (const auto& scope : scopes) {
        if (!joined.empty()) joined.push_back(',');
        joined += scope;
    }
    return joined;
}

AuthStore::AuthStore(const SandboxClock& clock)
    : clock_(clock), openId_(NewOpenId()), unionId_("c9b" + RandomIdentifier(33)) {}

std::string AuthStore::Keep(OneTimeRequests& entries, std::string key, AuthorizationRequest request,
                            std::chrono::seconds lifetime) {
    const auto now = clock_.Now();
    std::lock_guard lock(mutex_);
    PruneLocked(now);
    entries[key] = {std::move(request), now + lifetime};
    return key;
}

std::optional<AuthorizationRequest> AuthStore::TakeOnce(OneTimeRequests& entries, const std::string& key) {
    const auto now = clock_.Now();
    std::lock_guard lock(mutex_);
    auto found = entries.find(key);
    if (found == entries.end()) return std::nullopt;
    auto entry = std::move(found->second);
    entries.erase(found);
    if (now >= entry.expiresAt) return std::nullopt;
    return std::move(entry.value);
}

std::string AuthStore::CreateConsent(AuthorizationRequest request, std::chrono::seconds lifetime) {
    return Keep(consents_, NewConsentId(), std::move(request), lifetime);
}

std::optional<AuthorizationRequest> AuthStore::TakeConsent(const std::string& consentId) {
    return TakeOnce(consents_, consentId);
}

std::string AuthStore::IssueCode(AuthorizationRequest request, std::chrono::seconds lifetime) {
    return Keep(codes_, NewAuthorizationCode(), std::move(request), lifetime);
}

std::optional<AuthorizationRequest> AuthStore::RedeemCode(const std::string& code) { return TakeOnce(codes_, code); }

std::string AuthStore::NewAccessTokenLocked(const std::vector<std::string>& scopes, std::chrono::seconds lifetime) {
    std::string token = NewAccessToken();
    accessTokens_[token] = {scopes, clock_.Now() + lifetime};
    return token;
}

TokenGrant AuthStore::IssueTokens(const std::vector<std::string>& scopes, std::chrono::seconds accessLifetime,
                                  std::chrono::seconds refreshLifetime) {
    std::lock_guard lock(mutex_);
    TokenGrant grant;
    grant.accessToken = NewAccessTokenLocked(scopes, accessLifetime);
    grant.refreshToken = NewRefreshToken();
    refreshTokens_[grant.refreshToken] = {scopes, clock_.Now() + refreshLifetime};
    grant.openId = openId_;
    grant.scope = JoinScopes(scopes);
    grant.expiresIn = accessLifetime;
    grant.refreshExpiresIn = refreshLifetime;
    return grant;
}

std::optional<TokenGrant> AuthStore::Refresh(const std::string& refreshToken, bool rotate, bool refuseRotatedOut,
                                             std::chrono::seconds accessLifetime,
                                             std::chrono::seconds refreshLifetime) {
    const auto now = clock_.Now();
    std::lock_guard lock(mutex_);
    auto found = refreshTokens_.find(refreshToken);
    if (found == refreshTokens_.end() || now >= found->second.expiresAt) return std::nullopt;
    Grant refresh = found->second;
    TokenGrant grant;
    grant.accessToken = NewAccessTokenLocked(refresh.scopes, accessLifetime);
    if (rotate) {
        if (refuseRotatedOut) refreshTokens_.erase(found);
        grant.refreshToken = NewRefreshToken();
        refresh.expiresAt = now + refreshLifetime;
        refreshTokens_[grant.refreshToken] = refresh;
    } else {
        grant.refreshToken = refreshToken;
    }
    grant.openId = openId_;
    grant.scope = JoinScopes(refresh.scopes);
    grant.expiresIn = accessLifetime;
    grant.refreshExpiresIn =
        std::max(std::chrono::seconds(0), std::chrono::duration_cast<std::chrono::seconds>(refresh.expiresAt - now));
    return grant;
}

std::optional<AccessGrant> AuthStore::CheckAccessToken(const std::string& accessToken) const {
    const auto now = clock_.Now();
    std::lock_guard lock(mutex_);
    auto found = accessTokens_.find(accessToken);
    if (found == accessTokens_.end() || now >= found->second.expiresAt) return std::nullopt;
    return AccessGrant{openId_, found->second.scopes};
}

void AuthStore::ExpireAccessTokens() {
    std::lock_guard lock(mutex_);
    accessTokens_.clear();
}

void AuthStore::RevokeRefreshTokens() {
    std::lock_guard lock(mutex_);
    refreshTokens_.clear();
}

void AuthStore::ExpireAuthorizationCodes() {
    std::lock_guard lock(mutex_);
    codes_.clear();
}

void AuthStore::PruneLocked(TimePoint now) {
    std::erase_if(consents_, [&](const auto& entry) { return now >= entry.second.expiresAt; });
    std::erase_if(codes_, [&](const auto& entry) { return now >= entry.second.expiresAt; });
}

}  // namespace vekta::sandbox
