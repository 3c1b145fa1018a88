// Tokens through the module: the code exchange's and the refresh's answers, the refresh token's way
// through the settings, signing out, and what the traces must never show.
#include <gtest/gtest.h>

#include <cstring>

#include "PluginHarness.h"
#include "SignInSupport.h"
#include "talcore/string/Unicode.h"

namespace {

using tiktok_sandbox::Endpoint;
using tiktok_sandbox::Fault;
using vekta::test::CountRequests;
using vekta::test::PluginHarness;

const std::vector<std::u16string> kSignedIn{u"Signed in as Sandbox Creator"};
const std::vector<std::u16string> kSignedOut{u"Not logged in"};
constexpr char kWellFormedTokens[] = R"({"access_token":"act.injected","refresh_token":"rft.injected"})";

// Well-formed tokens under any status that may carry a body.
std::string BodyFor(int status) { return status == 204 ? std::string() : std::string(kWellFormedTokens); }

std::vector<std::uint8_t> StoredText(const std::u16string& text) {
    std::vector<std::uint8_t> bytes(2 * text.size() + 2, 0);
    std::memcpy(bytes.data(), text.data(), 2 * text.size());
    return bytes;
}

class Tokens : public ::testing::Test {
protected:
    void SetUp() override { h.CreateAddAndRefresh(); }
    PluginHarness h;
};

TEST_F(Tokens, ErrorAnywhereInA200TokenAnswerSignsOut) {
    for (const char* body : {R"({"error":"invalid_grant","error_description":"Refresh token is invalid"})",
                             R"({"access_token":"a","refresh_token":"r","error_code":0})",
                             R"({"access_token":"a","refresh_token":"r","scope":"user.info.terrors"})"}) {
        SCOPED_TRACE(body);
        ASSERT_TRUE(h.SignIn());
        const auto creatorQueries = CountRequests(h.Sandbox(), "creator_info");
        h.Sandbox().Faults().Add(Endpoint::Token, Fault::Respond(200, body));
        ASSERT_EQ(h.Refresh(), 0);
        EXPECT_FALSE(h.HasCredentials());
        EXPECT_FALSE(h.AccountEvents().back().signedIn);
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), kSignedOut);
        EXPECT_EQ(h.Name("VOXATikTokLogin"), u"Sign In") << "the button offers a new sign-in";
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), (std::vector<std::u16string>{u"Select an option...", u"Private"}));
        EXPECT_EQ(CountRequests(h.Sandbox(), "creator_info"), creatorQueries);
    }
}

TEST_F(Tokens, RefreshAnsweredWithAnotherStatusKeepsTheRefreshToken) {
    ASSERT_TRUE(h.SignIn());
    for (const int status : {201, 204, 401, 500}) {
        SCOPED_TRACE(status);
        const auto creatorQueries = CountRequests(h.Sandbox(), "creator_info");
        h.Sandbox().Faults().Add(Endpoint::Token, Fault::Respond(status, BodyFor(status)));
        ASSERT_EQ(h.Refresh(), 0);
        EXPECT_TRUE(h.HasCredentials());
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), kSignedIn);
        // Without an access token there is no creator query.
        EXPECT_EQ(CountRequests(h.Sandbox(), "creator_info"), creatorQueries);
        // The kept refresh token still works.
        ASSERT_EQ(h.Refresh(), 0);
        EXPECT_EQ(CountRequests(h.Sandbox(), "creator_info"), creatorQueries + 1);
    }
}

TEST_F(Tokens, CodeExchangeAnsweredWithAnotherStatusLeavesTheUserSignedOut) {
    int prompts = 0;
    for (const int status : {201, 204, 500}) {
        SCOPED_TRACE(status);
        h.Sandbox().Faults().Add(Endpoint::Token, Fault::Respond(status, BodyFor(status)));
        EXPECT_FALSE(h.SignIn());
        EXPECT_TRUE(h.ArrayText("VOXATikTokRefreshToken").empty());
        EXPECT_EQ(h.Name("VOXATikTokLogin"), u"Sign In");
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), kSignedOut);
        EXPECT_EQ(h.PromptsShown(), ++prompts);  // closed by the exchange all the same
    }
}

TEST_F(Tokens, RotatedRefreshTokensAreAdoptedAndTheHandOverDoesNotBringTheRetiredOneBack) {
    h.Sandbox().SetRotateRefreshTokens(true);
    // The sign-in's own creator query already retires the token that the settings hold.
    ASSERT_TRUE(h.SignIn());
    for (int refresh = 0; refresh < 3; ++refresh) {
        SCOPED_TRACE(refresh);
        ASSERT_EQ(h.Refresh(), 0);
        EXPECT_TRUE(h.HasCredentials());
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), kSignedIn);
    }
    for (const auto& request : h.Sandbox().Requests()) EXPECT_EQ(request.errorCode, "") << request.endpoint;
}

TEST_F(Tokens, RefreshAnswerWithoutARefreshTokenKeepsTheOldOne) {
    ASSERT_TRUE(h.SignIn());
    h.Sandbox().Faults().Add(Endpoint::Token, Fault::Respond(200, R"({"access_token":"act.injected"})"));
    ASSERT_EQ(h.Refresh(), 0);
    EXPECT_TRUE(h.HasCredentials());
    h.Sandbox().ClearRequests();
    ASSERT_EQ(h.Refresh(), 0);
    const auto requests = h.Sandbox().Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].endpoint, "token");
    EXPECT_EQ(requests[0].errorCode, "");
    EXPECT_EQ(requests[1].endpoint, "creator_info");
    EXPECT_EQ(requests[1].status, 200);
}

TEST_F(Tokens, RefreshTokenPassesThroughTheSettingsOnceAndSignOutEmptiesEverything) {
    ASSERT_TRUE(h.SignIn());
    const std::u16string handedOver = h.ArrayText("VOXATikTokRefreshToken");
    ASSERT_FALSE(handedOver.empty());
    ASSERT_EQ(h.Refresh(), 0);
    EXPECT_TRUE(h.ArrayText("VOXATikTokRefreshToken").empty());
    EXPECT_TRUE(h.HasCredentials());

    ASSERT_EQ(h.Changed("VOXATikTokLogin"), 0);  // signed in: the button signs out
    EXPECT_FALSE(h.HasCredentials());
    EXPECT_FALSE(h.AccountEvents().back().signedIn);
    EXPECT_EQ(h.Name("VOXATikTokLogin"), u"Sign In");
    EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), kSignedOut);
    EXPECT_EQ(h.PromptsShown(), 1);

    // A token left in the settings (as another instance's sign-in leaves it) is taken at the next
    // refresh and then held only by the instance.
    ASSERT_EQ(h.Settings().SetValue(h.InstanceID(), "VOXATikTokRefreshToken", StoredText(handedOver)), 0);
    ASSERT_EQ(h.Refresh(), 0);
    EXPECT_TRUE(h.HasCredentials());
    EXPECT_TRUE(h.ArrayText("VOXATikTokRefreshToken").empty());
    EXPECT_EQ(h.Name("VOXATikTokLogin"), u"Sign Out");
    EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), kSignedIn);
}

TEST_F(Tokens, TracesCarryNoTokenCodeOrSecret) {
    const vekta::test::TraceCapture trace;
    std::string code;
    h.SetBrowserAction([&](const std::string& address) {
        const auto landing = tiktok_sandbox::HeadlessBrowser().Open(address);
        code = vekta::test::QueryOf(landing.page.url)["code"];
    });
    ASSERT_TRUE(h.SignIn());
    const std::string refreshToken = talcore::string::UTF16to8(h.ArrayText("VOXATikTokRefreshToken"));
    ASSERT_FALSE(code.empty());
    ASSERT_FALSE(refreshToken.empty());
    ASSERT_EQ(h.Refresh(), 0);
    // Broken answers are traced with their error; the text around a token must not come along.
    h.Sandbox().Faults().Add(Endpoint::Token,
                             Fault::Respond(200, R"({"access_token":"act.LEAKED","refresh_token":"rft.LEAKED)"));
    ASSERT_EQ(h.Refresh(), 0);
    h.Sandbox().Faults().Add(Endpoint::Token, Fault::Respond(200, R"({"access_token":7,"refresh_token":"rft.LEAKED"})"));
    ASSERT_EQ(h.Refresh(), 0);

    const std::string text = trace.Text();
    EXPECT_NE(text.find("HandleTokenResponse Error: "), std::string::npos) << text;
    for (const std::string& secret : {code, refreshToken, std::string("3f6c0a9e5b17d4820c9ea3716bd05f4a"),
                                      std::string("LEAKED")}) {
        EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in:\n" << text;
    }
}

}  // namespace
