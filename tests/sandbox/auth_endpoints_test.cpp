// Sign-in: the authorize page, consent, the loopback redirect and the token endpoint.
#include <gtest/gtest.h>

#include "sandbox/HeadlessBrowser.h"
#include "sandbox/Url.h"
#include "tests/sandbox/SandboxTestSupport.h"

namespace vekta::test {

using namespace vekta::sandbox;
namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(AuthEndpointsTest, BrowserReachesTheLoopbackRedirectWithTheLocationAsSent) {
    struct Case {
        const char* name;
        bool autoApprove;
        HeadlessBrowser::Choice choice;
        int hops;
        const char* answer;
    };
    const Case cases[] = {
        {"consent authorize", false, HeadlessBrowser::Choice::Authorize, 3, "/callback?code="},
        {"consent cancel", false, HeadlessBrowser::Choice::Cancel, 3, "/callback?error=access_denied"},
        {"auto-approve", true, HeadlessBrowser::Choice::Authorize, 2, "/callback?code="},
    };
    RunningSandbox running;
    // The sandbox itself stands in for the client's listener: the browser reports the URL it fetched.
    const std::string redirectUri = running.sandbox.Origin() + "/callback";
    for (const auto& c : cases) {
        running.sandbox.SetAutoApprove(c.autoApprove);
        const BrowserResult result = HeadlessBrowser(c.choice).Open(
            running.sandbox.Origin() + AuthorizeTarget(AuthorizeParams(redirectUri, NewPkce().challenge)));
        ASSERT_TRUE(result.ok) << c.name << ": " << result.error;
        EXPECT_EQ(result.hops, c.hops) << c.name;
        const std::string target = result.page.url.substr(running.sandbox.Origin().size());
        EXPECT_EQ(target.rfind(c.answer, 0), 0u) << c.name << ": " << target;
        EXPECT_TRUE(Has(target, "state=state-123")) << target;
        if (c.choice == HeadlessBrowser::Choice::Cancel) continue;
        // The code holds '*' and '!', which TikTok sends percent-encoded; the browser must not decode them.
        EXPECT_TRUE(Has(target, "%2A") && Has(target, "%21")) << target;
        EXPECT_EQ(target.find_first_of("*!"), std::string::npos) << target;
    }
    EXPECT_FALSE(HeadlessBrowser().Open("http://example.com/v2/auth/authorize/").ok);
}

TEST(AuthEndpointsTest, AuthorizeRefusesBrokenRequests) {
    struct Case {
        const char* name;
        const char* field;
        std::optional<std::string> value;  // nothing removes the field
        const char* error;                 // "": a code; nullptr: an HTML error page without a redirect
    };
    const Case cases[] = {
        {"valid", "state", "state-123", ""},
        {"unknown client", "client_key", "someoneelse", nullptr},
        {"missing client", "client_key", std::nullopt, nullptr},
        {"https redirect", "redirect_uri", "https://127.0.0.1:1/cb", nullptr},
        {"missing redirect", "redirect_uri", std::nullopt, nullptr},
        {"token response", "response_type", "token", "invalid_request"},
        {"missing state", "state", std::nullopt, "invalid_request"},
        {"unknown scope", "scope", "user.info.basic,video.delete", "invalid_scope"},
        {"space-separated scopes", "scope", "user.info.basic video.publish", "invalid_scope"},
        {"base64url challenge", "code_challenge", "ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0", "invalid_request"},
        {"upper-case hex challenge", "code_challenge", std::string(64, 'A'), "invalid_request"},
        {"plain method", "code_challenge_method", "plain", "invalid_request"},
        {"missing method", "code_challenge_method", std::nullopt, "invalid_request"},
    };
    RunningSandbox running;
    running.sandbox.SetAutoApprove(true);
    auto client = running.NewClient();
    for (const auto& c : cases) {
        FormFields params = AuthorizeParams("http://127.0.0.1:1/cb", NewPkce().challenge);
        SetField(params, c.field, c.value);
        auto res = client->Get(AuthorizeTarget(params));
        const auto location = ParseHttpUrl(res ? res->get_header_value("Location") : "");
        if (!c.error) {  // never a redirect to a URI that may not be the client's
            EXPECT_EQ(StatusOf(res), 400) << c.name;
            EXPECT_TRUE(!location && res && Has(res->get_header_value("Content-Type"), "text/html")) << c.name;
            continue;
        }
        EXPECT_EQ(StatusOf(res), 302) << c.name;
        const auto query = location ? ParseUrlEncoded(location->query) : std::nullopt;
        ASSERT_TRUE(query.has_value()) << c.name;
        EXPECT_EQ(SingleValue(*query, "error").value_or(""), c.error) << c.name;
        EXPECT_EQ(SingleValue(*query, "code").has_value(), *c.error == '\0') << c.name;
        EXPECT_TRUE(std::string(c.field) == "state" || SingleValue(*query, "state") == "state-123") << c.name;
    }
}

TEST(AuthEndpointsTest, CodeExchangeRefusesBrokenGrants) {
    enum class Step { None, AppendField, SendAsJson, UseCodeFirst, AgeCode };
    struct Case {
        const char* name;
        const char* field;
        std::optional<std::string> value;  // nothing removes the field
        const char* error;                 // "": tokens
        Step step = Step::None;
    };
    const std::string redirectUri = "http://127.0.0.1:1/cb";
    const Case cases[] = {
        {"valid", "grant_type", "authorization_code", ""},
        {"missing client key", "client_key", std::nullopt, "invalid_request"},
        {"unknown client key", "client_key", "someoneelse", "invalid_client"},
        {"wrong secret", "client_secret", "0000", "invalid_client"},
        {"unknown grant type", "grant_type", "password", "invalid_request"},
        {"repeated grant type", "grant_type", "authorization_code", "invalid_request", Step::AppendField},
        {"json body", "grant_type", "authorization_code", "invalid_request", Step::SendAsJson},
        {"unknown code", "code", "nosuchcode*3!1234.va", "invalid_grant"},
        {"code used before", "grant_type", "authorization_code", "invalid_grant", Step::UseCodeFirst},
        {"code older than 60 s", "grant_type", "authorization_code", "invalid_grant", Step::AgeCode},
        {"missing verifier", "code_verifier", std::nullopt, "invalid_request"},
        {"short verifier", "code_verifier", std::string(42, 'a'), "invalid_request"},
        {"verifier with forbidden character", "code_verifier", std::string(50, 'a') + "+", "invalid_request"},
        {"verifier of another challenge", "code_verifier", std::string(60, 'b'), "invalid_grant"},
        {"other redirect uri", "redirect_uri", "http://127.0.0.1:2/cb", "invalid_grant"},
        {"redirect uri with trailing slash", "redirect_uri", redirectUri + "/", "invalid_grant"},
        {"missing redirect uri", "redirect_uri", std::nullopt, "invalid_request"},
    };
    RunningSandbox running;
    auto client = running.NewClient();
    for (const auto& c : cases) {
        const Pkce pkce = NewPkce();
        FormFields form = CodeExchangeForm(ObtainCode(running, redirectUri, pkce), redirectUri, pkce);
        if (c.step == Step::AppendField) {
            form.push_back({c.field, *c.value});
        } else {
            SetField(form, c.field, c.value);
        }
        if (c.step == Step::UseCodeFirst) {
            ASSERT_EQ(TokenError(PostForm(*client, kTokenPath, form)), "") << c.name;
        }
        if (c.step == Step::AgeCode) running.sandbox.AdvanceClock(std::chrono::seconds(61));
        auto res = c.step == Step::SendAsJson ? client->Post(kTokenPath, EncodeUrlEncoded(form), "application/json")
                                              : PostForm(*client, kTokenPath, form);
        ASSERT_TRUE(res) << c.name;
        EXPECT_EQ(res->status, 200) << c.name;  // TikTok answers token errors with 200
        EXPECT_EQ(TokenError(res), c.error) << c.name << ": " << res->body;
        const Json body = ParseJson(res->body);
        const bool granted = *c.error == '\0';
        EXPECT_EQ(body.contains("access_token"), granted) << c.name;
        EXPECT_EQ(body.contains("error_description") && body.contains("log_id"), !granted) << c.name;
        EXPECT_TRUE(!granted || !Has(res->body, "error")) << res->body;  // clients test success by its absence
    }
}

TEST(AuthEndpointsTest, RefreshKeepsTheRefreshTokenUnlessRotatingAndRefusesRotatedOutOnesWhenAsked) {
    RunningSandbox running;
    const Tokens tokens = SignIn(running);
    auto client = running.NewClient();
    auto refresh = [&](const std::string& refreshToken) {
        const SandboxConfig defaults;
        return PostForm(*client, kTokenPath,
                        {{"client_key", defaults.clientKey},
                         {"client_secret", defaults.clientSecret},
                         {"grant_type", "refresh_token"},
                         {"refresh_token", refreshToken}});
    };
    auto kept = refresh(tokens.refreshToken);
    ASSERT_TRUE(kept);
    EXPECT_FALSE(Has(kept->body, "error")) << kept->body;
    EXPECT_EQ(ParseJson(kept->body)["refresh_token"], tokens.refreshToken);
    EXPECT_NE(ParseJson(kept->body)["access_token"], tokens.accessToken);

    // Rotation alone: the replaced token still works until it expires.
    running.sandbox.SetRotateRefreshTokens(true);
    const auto rotate = [&](const std::string& refreshToken) {
        auto rotated = refresh(refreshToken);
        const std::string next = rotated ? ParseJson(rotated->body).value("refresh_token", "") : "";
        EXPECT_FALSE(next.empty() || next == refreshToken) << (rotated ? rotated->body : "no answer");
        return next;
    };
    const std::string second = rotate(tokens.refreshToken);
    const std::string third = rotate(tokens.refreshToken);
    EXPECT_NE(second, third);

    // With refusal, as TikTok does: a token is spent by the refresh that replaced it.
    running.sandbox.SetRefuseRotatedRefreshTokens(true);
    const std::string fourth = rotate(second);
    EXPECT_EQ(TokenError(refresh(second)), "invalid_grant");
    EXPECT_EQ(TokenError(refresh(fourth)), "");

    running.sandbox.RevokeRefreshTokens();
    EXPECT_EQ(TokenError(refresh(third)), "invalid_grant");
}

}  // namespace
}  // namespace vekta::test
