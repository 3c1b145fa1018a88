#include "sandbox/AuthEndpoints.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "sandbox/Pkce.h"
#include "sandbox/Url.h"
#include "sandbox/UrlCodec.h"

namespace vekta::sandbox {
namespace {

constexpr std::array<std::string_view, 6> kKnownScopes = {
    "user.info.basic", "user.info.profile", "user.info.stats", "video.list", "video.publish", "video.upload",
};

std::string AppendQuery(const std::string& uri, const FormFields& fields) {
    return uri + (uri.find('?') == std::string::npos ? "?" : "&") + EncodeUrlEncoded(fields);
}

std::optional<std::vector<std::string>> ParseScopes(const std::string& text) {
    std::vector<std::string> scopes;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        std::string scope = text.substr(start, end - start);
        if (!IsKnownScope(scope)) return std::nullopt;
        if (std::find(scopes.begin(), scopes.end(), scope) == scopes.end()) scopes.push_back(std::move(scope));
        start = end + 1;
    }
    return scopes;
}

}  // namespace

bool IsKnownScope(const std::string& scope) {
    return std::find(kKnownScopes.begin(), kKnownScopes.end(), scope) != kKnownScopes.end();
}

AuthEndpoints::AuthEndpoints(const LiveConfig& config, AuthStore& store) : config_(config), store_(store) {}

void AuthEndpoints::Authorize(Exchange& ex) {
    const SandboxConfig config = config_.Snapshot();
    const auto query = ParseUrlEncoded(QueryOf(ex.request.target));
    if (!query) {
        ex.SendHtml(400, "Something went wrong", "<h1>Something went wrong</h1><p>The request is malformed.</p>");
        return;
    }
    ex.record.queryParamNames = FieldNames(*query);

    // Without a trustworthy client and redirect target there is nowhere safe to send an error.
    const auto clientKey = SingleValue(*query, "client_key");
    if (!clientKey || *clientKey != config.clientKey) {
        ex.record.errorCode = "invalid_client_key";
        ex.SendHtml(400, "Something went wrong",
                    "<h1>Something went wrong</h1><p>client_key: the client is unknown.</p>");
        return;
    }
    const auto redirectUri = SingleValue(*query, "redirect_uri");
    if (!redirectUri || !IsLoopbackRedirectUri(*redirectUri)) {
        ex.record.errorCode = "invalid_redirect_uri";
        ex.SendHtml(400, "Something went wrong",
                    "<h1>Something went wrong</h1><p>redirect_uri: not a registered redirect URI.</p>");
        return;
    }

    const auto state = SingleValue(*query, "state");
    auto fail = [&](std::string_view error, std::string_view description) {
        ex.record.errorCode = std::string(error);
        FormFields fields{{"error", std::string(error)}, {"error_description", std::string(description)}};
        if (state) fields.push_back({"state", *state});
        ex.Redirect(AppendQuery(*redirectUri, fields));
    };

    if (SingleValue(*query, "response_type") != "code") {
        return fail("invalid_request", "response_type must be code");
    }
    if (!state || state->empty()) return fail("invalid_request", "state is required");
    const auto scopeText = SingleValue(*query, "scope");
    const auto scopes = scopeText ? ParseScopes(*scopeText) : std::nullopt;
    if (!scopes) return fail("invalid_scope", "scope must list known scopes, separated by commas");
    const auto challenge = SingleValue(*query, "code_challenge");
    if (!challenge || !IsWellFormedCodeChallenge(*challenge)) {
        return fail("invalid_request", "code_challenge must be the hex SHA-256 of the code verifier");
    }
    if (SingleValue(*query, "code_challenge_method") != "S256") {
        return fail("invalid_request", "code_challenge_method must be S256");
    }

    AuthorizationRequest request{*clientKey, *redirectUri, *state, *challenge, *scopes};
    if (config.autoApprove) return RedirectWithCode(ex, request, config);

    std::string scopeList;
    for (const auto& scope : request.scopes) scopeList += "<li>" + HtmlEscape(scope) + "</li>";
    const std::string consentId = store_.CreateConsent(std::move(request), config.consentPageLifetime);
    ex.SendHtml(200, "Authorize the app",
                "<h1>Log in to TikTok</h1>\n<p>" + HtmlEscape(config.creator.nickname) +
                    ", this app would like to:</p>\n<ul>" + scopeList + "</ul>\n<form method=\"post\" action=\"" +
                    std::string(kConsentPath) + "\">\n<input type=\"hidden\" name=\"consent_id\" value=\"" +
                    HtmlEscape(consentId) +
                    "\">\n<button type=\"submit\" name=\"decision\" value=\"authorize\">Authorize</button>\n"
                    "<button type=\"submit\" name=\"decision\" value=\"cancel\">Cancel</button>\n</form>");
}

void AuthEndpoints::Consent(Exchange& ex) {
    const SandboxConfig config = config_.Snapshot();
    const auto form = ParseUrlEncoded(ex.request.body);
    if (form) ex.record.formFieldNames = FieldNames(*form);
    const auto consentId = form ? SingleValue(*form, "consent_id") : std::nullopt;
    const auto request = consentId ? store_.TakeConsent(*consentId) : std::nullopt;
    if (!request) {
        ex.record.errorCode = "invalid_consent";
        ex.SendHtml(400, "Something went wrong",
                    "<h1>Something went wrong</h1><p>This page has expired. Please start again.</p>");
        return;
    }
    if (SingleValue(*form, "decision") != "authorize") {
        ex.record.errorCode = "access_denied";
        ex.Redirect(AppendQuery(request->redirectUri, {{"error", "access_denied"},
                                                       {"error_description", "The user denied the request"},
                                                       {"state", request->state}}));
        return;
    }
    RedirectWithCode(ex, *request, config);
}

void AuthEndpoints::RedirectWithCode(Exchange& ex, const AuthorizationRequest& request, const SandboxConfig& config) {
    const std::string code = store_.IssueCode(request, config.authorizationCodeLifetime);
    ex.Redirect(AppendQuery(request.redirectUri,
                            {{"code", code}, {"scopes", JoinScopes(request.scopes)}, {"state", request.state}}));
}

void AuthEndpoints::Token(Exchange& ex) {
    const SandboxConfig config = config_.Snapshot();
    if (MediaType(ex.request.get_header_value("Content-Type")) != "application/x-www-form-urlencoded") {
        return ex.SendTokenError("invalid_request", "Content-Type must be application/x-www-form-urlencoded");
    }
    const auto form = ParseUrlEncoded(ex.request.body);
    if (!form) return ex.SendTokenError("invalid_request", "The form body is malformed");
    ex.record.formFieldNames = FieldNames(*form);
    if (HasRepeatedField(*form)) return ex.SendTokenError("invalid_request", "A parameter is repeated");

    const auto clientKey = SingleValue(*form, "client_key");
    const auto clientSecret = SingleValue(*form, "client_secret");
    if (!clientKey || !clientSecret) {
        return ex.SendTokenError("invalid_request", "client_key and client_secret are required");
    }
    if (*clientKey != config.clientKey || *clientSecret != config.clientSecret) {
        return ex.SendTokenError("invalid_client", "Client authentication failed");
    }
    const auto grantType = SingleValue(*form, "grant_type");
    if (grantType == "authorization_code") return RedeemAuthorizationCode(ex, *form, config);
    if (grantType == "refresh_token") return RedeemRefreshToken(ex, *form, config);
    ex.SendTokenError("invalid_request", "grant_type must be authorization_code or refresh_token");
}

void AuthEndpoints::RedeemAuthorizationCode(Exchange& ex, const FormFields& form, const SandboxConfig& config) {
    const auto code = SingleValue(form, "code");
    const auto redirectUri = SingleValue(form, "redirect_uri");
    const auto verifier = SingleValue(form, "code_verifier");
    if (!code || code->empty() || !redirectUri || !verifier) {
        return ex.SendTokenError("invalid_request", "code, redirect_uri and code_verifier are required");
    }
    if (!IsWellFormedCodeVerifier(*verifier)) {
        return ex.SendTokenError("invalid_request", "code_verifier must be 43 to 128 unreserved characters");
    }
    const auto request = store_.RedeemCode(*code);
    if (!request || request->clientKey != config.clientKey) {
        return ex.SendTokenError("invalid_grant", "Authorization code is expired or invalid");
    }
    if (request->redirectUri != *redirectUri) {
        return ex.SendTokenError("invalid_grant", "redirect_uri does not match the authorization request");
    }
    if (CodeChallengeFor(*verifier) != request->codeChallenge) {
        return ex.SendTokenError("invalid_grant", "code_verifier does not match the code challenge");
    }
    SendTokens(ex, store_.IssueTokens(request->scopes, config.accessTokenLifetime, config.refreshTokenLifetime));
}

void AuthEndpoints::RedeemRefreshToken(Exchange& ex, const FormFields& form, const SandboxConfig& config) {
    const auto refreshToken = SingleValue(form, "refresh_token");
    if (!refreshToken || refreshToken->empty()) {
        return ex.SendTokenError("invalid_request", "refresh_token is required");
    }
    const auto grant = store_.Refresh(*refreshToken, config.rotateRefreshTokens, config.refuseRotatedRefreshTokens,
                                      config.accessTokenLifetime, config.refreshTokenLifetime);
    if (!grant) return ex.SendTokenError("invalid_grant", "Refresh token is invalid or expired");
    SendTokens(ex, *grant);
}

void AuthEndpoints::SendTokens(Exchange& ex, const TokenGrant& grant) {
    ex.SendJson({
        {"access_token", grant.accessToken},
        {"expires_in", grant.expiresIn.count()},
        {"open_id", grant.openId},
        {"refresh_expires_in", grant.refreshExpiresIn.count()},
        {"refresh_token", grant.refreshToken},
        {"scope", grant.scope},
        {"token_type", "Bearer"},
    });
}

}  // namespace vekta::sandbox
