// Sign-in: the authorize page, consent, the loopback redirect and the token endpoint.
#include <gtest/gtest.h>

#include "SandboxTestSupport.h"
#include "sandbox/HeadlessBrowser.h"
#include "sandbox/Url.h"

namespace tiktok_sandbox::test {
namespace {

const char* const kTokenPath = "/v2/oauth/token/";

std::string Value(const FormFields& fields, const std::string& name) {
  return SingleValue(fields, name).value_or("<missing>");
}

TEST(AuthEndpointsTest, BrowserSignInThroughConsentPageReachesLoopbackWithCode) {
  RunningSandbox running;
  RedirectCatcher catcher;
  const Pkce pkce = NewPkce();
  const std::string url =
      running.sandbox.Origin() + AuthorizeTarget(AuthorizeParams(catcher.Uri(), pkce.challenge));

  const BrowserResult result = HeadlessBrowser().Open(url);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.hops, 3);  // consent page, form post, loopback redirect target
  EXPECT_EQ(result.page.status, 200);
  EXPECT_NE(result.page.body.find("close this window"), std::string::npos);
  const auto query = catcher.LastQuery();
  ASSERT_TRUE(query.has_value());
  EXPECT_EQ(Value(*query, "state"), "state-123");
  EXPECT_EQ(Value(*query, "scopes"), kAllScopes);
  const std::string code = Value(*query, "code");
  for (char c : {'*', '!', '.'}) EXPECT_NE(code.find(c), std::string::npos) << code;

  auto client = running.NewClient();
  auto res = PostForm(*client, kTokenPath, CodeExchangeForm(code, catcher.Uri(), pkce));
  ASSERT_TRUE(res);
  const Json body = ParseJson(res->body);
  EXPECT_EQ(res->status, 200);
  for (const char* field : {"access_token", "expires_in", "open_id", "refresh_expires_in", "refresh_token",
                            "scope", "token_type"}) {
    EXPECT_TRUE(body.contains(field)) << field;
  }
  EXPECT_EQ(body["token_type"], "Bearer");
  EXPECT_EQ(body["expires_in"], 86400);
  EXPECT_EQ(body["scope"], kAllScopes);
  EXPECT_EQ(res->body.find("error"), std::string::npos);
}

TEST(AuthEndpointsTest, CancelOnConsentPageRedirectsWithAccessDenied) {
  RunningSandbox running;
  RedirectCatcher catcher;
  const std::string url =
      running.sandbox.Origin() + AuthorizeTarget(AuthorizeParams(catcher.Uri(), NewPkce().challenge));

  const BrowserResult result = HeadlessBrowser(HeadlessBrowser::Choice::Cancel).Open(url);

  ASSERT_TRUE(result.ok) << result.error;
  const auto query = catcher.LastQuery();
  ASSERT_TRUE(query.has_value());
  EXPECT_EQ(Value(*query, "error"), "access_denied");
  EXPECT_EQ(Value(*query, "state"), "state-123");
  EXPECT_EQ(Value(*query, "code"), "<missing>");
}

TEST(AuthEndpointsTest, BrowserRefusesUrlsOffLoopback) {
  const BrowserResult result = HeadlessBrowser().Open("http://example.com/v2/auth/authorize/");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.hops, 0);
}

TEST(AuthEndpointsTest, ConsentFormAnswersOnlyOnce) {
  RunningSandbox running;
  auto client = running.NewClient();
  auto page = client->Get(AuthorizeTarget(AuthorizeParams("http://127.0.0.1:1/cb", NewPkce().challenge)));
  ASSERT_TRUE(page);
  const auto start = page->body.find("name=\"consent_id\" value=\"") + 25;
  const std::string consentId = page->body.substr(start, page->body.find('"', start) - start);
  const FormFields form{{"consent_id", consentId}, {"decision", "authorize"}};

  auto first = PostForm(*client, "/v2/auth/authorize/consent/", form);
  auto second = PostForm(*client, "/v2/auth/authorize/consent/", form);

  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->status, 302);
  EXPECT_EQ(second->status, 400);
  EXPECT_FALSE(second->has_header("Location"));
}

TEST(AuthEndpointsTest, AutoApproveRedirectsAtOnceWithPercentEncodedCode) {
  RunningSandbox running;
  running.sandbox.SetAutoApprove(true);
  RedirectCatcher catcher;
  const BrowserResult result = HeadlessBrowser().Open(
      running.sandbox.Origin() + AuthorizeTarget(AuthorizeParams(catcher.Uri(), NewPkce().challenge)));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.hops, 2);  // no consent page
  // '*' and '!' in the code arrive percent-encoded, as TikTok sends them.
  const std::string target = catcher.LastTarget();
  EXPECT_EQ(target.rfind("/callback?code=", 0), 0u) << target;
  EXPECT_NE(target.find("%2A"), std::string::npos) << target;
  EXPECT_NE(target.find("%21"), std::string::npos) << target;
  EXPECT_EQ(target.find_first_of("*!"), std::string::npos) << target;
}

struct AuthorizeCase {
  const char* name;
  const char* field;
  std::optional<std::string> value;  // nothing removes the field
  const char* error;                 // nullptr: an HTML error page without a redirect
};

TEST(AuthEndpointsTest, AuthorizeRefusesBrokenRequests) {
  RunningSandbox running;
  running.sandbox.SetAutoApprove(true);
  auto client = running.NewClient();
  const AuthorizeCase cases[] = {
      {"unknown client", "client_key", "someoneelse", nullptr},
      {"missing client", "client_key", std::nullopt, nullptr},
      {"https redirect", "redirect_uri", "https://127.0.0.1:1/cb", nullptr},
      {"remote redirect", "redirect_uri", "http://example.com:1/cb", nullptr},
      {"redirect without port", "redirect_uri", "http://127.0.0.1/cb", nullptr},
      {"missing redirect", "redirect_uri", std::nullopt, nullptr},
      {"token response", "response_type", "token", "invalid_request"},
      {"missing state", "state", std::nullopt, "invalid_request"},
      {"unknown scope", "scope", "user.info.basic,video.delete", "invalid_scope"},
      {"empty scope entry", "scope", "user.info.basic,", "invalid_scope"},
      {"space-separated scopes", "scope", "user.info.basic video.publish", "invalid_scope"},
      {"base64url challenge", "code_challenge", "ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0", "invalid_request"},
      {"upper-case hex challenge", "code_challenge", std::string(64, 'A'), "invalid_request"},
      {"plain method", "code_challenge_method", "plain", "invalid_request"},
      {"missing method", "code_challenge_method", std::nullopt, "invalid_request"},
  };
  for (const auto& c : cases) {
    FormFields params = AuthorizeParams("http://127.0.0.1:1/cb", NewPkce().challenge);
    SetField(params, c.field, c.value);
    auto res = client->Get(AuthorizeTarget(params));
    ASSERT_TRUE(res) << c.name;
    if (!c.error) {
      EXPECT_EQ(res->status, 400) << c.name;
      EXPECT_FALSE(res->has_header("Location")) << c.name;
      EXPECT_NE(res->get_header_value("Content-Type").find("text/html"), std::string::npos) << c.name;
      continue;
    }
    ASSERT_EQ(res->status, 302) << c.name;
    const auto location = ParseHttpUrl(res->get_header_value("Location"));
    ASSERT_TRUE(location.has_value()) << c.name;
    const auto query = ParseUrlEncoded(location->query);
    EXPECT_EQ(Value(*query, "error"), c.error) << c.name;
    EXPECT_NE(Value(*query, "error_description"), "<missing>") << c.name;
    EXPECT_EQ(Value(*query, "code"), "<missing>") << c.name;
    if (std::string(c.field) != "state") {
      EXPECT_EQ(Value(*query, "state"), "state-123") << c.name;
    }
  }
}

struct TokenCase {
  const char* name;
  const char* field;
  std::optional<std::string> value;
  const char* error;
};

TEST(AuthEndpointsTest, TokenExchangeRefusesBrokenRequests) {
  RunningSandbox running;
  const std::string redirectUri = "http://127.0.0.1:1/cb";
  const TokenCase cases[] = {
      {"missing client key", "client_key", std::nullopt, "invalid_request"},
      {"unknown client key", "client_key", "someoneelse", "invalid_client"},
      {"wrong secret", "client_secret", "0000", "invalid_client"},
      {"missing grant type", "grant_type", std::nullopt, "invalid_request"},
      {"unknown grant type", "grant_type", "password", "invalid_request"},
      {"missing code", "code", std::nullopt, "invalid_request"},
      {"unknown code", "code", "nosuchcode*3!1234.va", "invalid_grant"},
      {"missing verifier", "code_verifier", std::nullopt, "invalid_request"},
      {"short verifier", "code_verifier", std::string(42, 'a'), "invalid_request"},
      {"verifier with forbidden character", "code_verifier", std::string(50, 'a') + "+", "invalid_request"},
      {"verifier of another challenge", "code_verifier", std::string(60, 'b'), "invalid_grant"},
      {"other redirect uri", "redirect_uri", "http://127.0.0.1:2/cb", "invalid_grant"},
      {"redirect uri with trailing slash", "redirect_uri", redirectUri + "/", "invalid_grant"},
      {"missing redirect uri", "redirect_uri", std::nullopt, "invalid_request"},
  };
  auto client = running.NewClient();
  for (const auto& c : cases) {
    const Pkce pkce = NewPkce();
    FormFields form = CodeExchangeForm(ObtainCode(running, redirectUri, pkce), redirectUri, pkce);
    SetField(form, c.field, c.value);
    auto res = PostForm(*client, kTokenPath, form);
    ASSERT_TRUE(res) << c.name;
    EXPECT_EQ(res->status, 200) << c.name;  // TikTok answers token errors with 200
    const Json body = ParseJson(res->body);
    EXPECT_EQ(body.value("error", ""), c.error) << c.name << ": " << res->body;
    EXPECT_TRUE(body.contains("error_description") && body.contains("log_id")) << c.name;
    EXPECT_FALSE(body.contains("access_token")) << c.name;
  }
}

TEST(AuthEndpointsTest, TokenEndpointRefusesOtherContentTypesAndRepeatedFields) {
  RunningSandbox running;
  const std::string redirectUri = "http://127.0.0.1:1/cb";
  auto client = running.NewClient();

  Pkce pkce = NewPkce();
  FormFields form = CodeExchangeForm(ObtainCode(running, redirectUri, pkce), redirectUri, pkce);
  auto asJson = client->Post(kTokenPath, EncodeUrlEncoded(form), "application/json");
  ASSERT_TRUE(asJson);
  EXPECT_EQ(ParseJson(asJson->body).value("error", ""), "invalid_request");

  pkce = NewPkce();
  form = CodeExchangeForm(ObtainCode(running, redirectUri, pkce), redirectUri, pkce);
  form.push_back({"grant_type", "authorization_code"});
  auto repeated = PostForm(*client, kTokenPath, form);
  ASSERT_TRUE(repeated);
  EXPECT_EQ(ParseJson(repeated->body).value("error", ""), "invalid_request");
}

TEST(AuthEndpointsTest, CodeIsSingleUseAndShortLived) {
  RunningSandbox running;
  const std::string redirectUri = "http://127.0.0.1:1/cb";
  auto client = running.NewClient();

  const Pkce pkce = NewPkce();
  const FormFields form = CodeExchangeForm(ObtainCode(running, redirectUri, pkce), redirectUri, pkce);
  auto first = PostForm(*client, kTokenPath, form);
  auto second = PostForm(*client, kTokenPath, form);
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(ParseJson(first->body).contains("access_token"));
  EXPECT_EQ(ParseJson(second->body).value("error", ""), "invalid_grant");

  const Pkce late = NewPkce();
  const FormFields lateForm = CodeExchangeForm(ObtainCode(running, redirectUri, late), redirectUri, late);
  running.sandbox.AdvanceClock(std::chrono::seconds(61));
  auto expired = PostForm(*client, kTokenPath, lateForm);
  ASSERT_TRUE(expired);
  EXPECT_EQ(ParseJson(expired->body).value("error", ""), "invalid_grant");
}

FormFields RefreshForm(const std::string& refreshToken) {
  const SandboxConfig defaults;
  return {{"client_key", defaults.clientKey},
          {"client_secret", defaults.clientSecret},
          {"grant_type", "refresh_token"},
          {"refresh_token", refreshToken}};
}

TEST(AuthEndpointsTest, RefreshKeepsTheRefreshTokenUnlessRotating) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  auto client = running.NewClient();

  auto kept = PostForm(*client, kTokenPath, RefreshForm(tokens.refreshToken));
  ASSERT_TRUE(kept);
  const Json keptBody = ParseJson(kept->body);
  EXPECT_EQ(keptBody["refresh_token"], tokens.refreshToken);
  EXPECT_NE(keptBody["access_token"], tokens.accessToken);
  EXPECT_EQ(keptBody["scope"], kAllScopes);

  running.sandbox.SetRotateRefreshTokens(true);
  auto rotated = PostForm(*client, kTokenPath, RefreshForm(tokens.refreshToken));
  ASSERT_TRUE(rotated);
  const std::string newRefresh = ParseJson(rotated->body).value("refresh_token", "");
  EXPECT_FALSE(newRefresh.empty());
  EXPECT_NE(newRefresh, tokens.refreshToken);
  auto retired = PostForm(*client, kTokenPath, RefreshForm(tokens.refreshToken));
  ASSERT_TRUE(retired);
  EXPECT_EQ(ParseJson(retired->body).value("error", ""), "invalid_grant");

  running.sandbox.RevokeRefreshTokens();
  auto revoked = PostForm(*client, kTokenPath, RefreshForm(newRefresh));
  ASSERT_TRUE(revoked);
  EXPECT_EQ(ParseJson(revoked->body).value("error", ""), "invalid_grant");
}

TEST(AuthEndpointsTest, TokenSuccessBodiesNeverContainTheWordError) {
  RunningSandbox running;
  running.sandbox.SetRotateRefreshTokens(true);
  Tokens tokens = SignIn(running);
  auto client = running.NewClient();
  for (int i = 0; i < 200; ++i) {
    auto res = PostForm(*client, kTokenPath, RefreshForm(tokens.refreshToken));
    ASSERT_TRUE(res);
    ASSERT_EQ(res->body.find("error"), std::string::npos) << res->body;
    tokens.refreshToken = ParseJson(res->body)["refresh_token"];
  }
}

}  // namespace
}  // namespace tiktok_sandbox::test
