#pragma once

#include <functional>
#include <string>

#include "sandbox/AuthStore.h"
#include "sandbox/Exchange.h"
#include "sandbox/LiveConfig.h"
#include "sandbox/UrlCodec.h"

namespace vekta::sandbox {

inline constexpr const char* kAuthorizePath = "/v2/auth/authorize/";
inline constexpr const char* kConsentPath = "/v2/auth/authorize/consent/";
inline constexpr const char* kTokenPath = "/v2/oauth/token/";

bool IsKnownScope(const std::string& scope);

// Sign-in: the authorize page (consent or immediate redirect), the consent form's answer, and
// the token endpoint for both grant types.
class AuthEndpoints {
public:
    AuthEndpoints(const LiveConfig& config, AuthStore& store);

    void Authorize(Exchange& exchange);
    void Consent(Exchange& exchange);
    void Token(Exchange& exchange);

private:
    void RedirectWithCode(Exchange& exchange, const AuthorizationRequest& request, const SandboxConfig& config);
    void RedeemAuthorizationCode(Exchange& exchange, const FormFields& form, const SandboxConfig& config);
    void RedeemRefreshToken(Exchange& exchange, const FormFields& form, const SandboxConfig& config);
    void SendTokens(Exchange& exchange, const TokenGrant& grant);

    const LiveConfig& config_;
    AuthStore& store_;
};

}  // namespace vekta::sandbox
