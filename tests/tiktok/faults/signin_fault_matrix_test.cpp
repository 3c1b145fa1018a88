// The two requests of a browser sign-in meeting every fault: TikTok's authorization page, which the
// person's browser asks for on the way from the listener's start address, and the plug-in's code
// exchange. Whatever happens, the sign-in ends signed out with the listener gone and the host told,
// and nothing is sent to TikTok after the fault; a one-time fault is followed by a sign-in that
// works. These rows sign in through the listener's fixed ports, so they run one at a time.
#include <thread>

#include "sandbox/HeadlessBrowser.h"
#include "tests/tiktok/faults/FaultMatrix.h"

namespace {

using namespace vekta::test;
using namespace vekta::test::faults;
using namespace std::chrono_literals;
using vekta::sandbox::HeadlessBrowser;

struct SignInRow {
    std::string name;
    Endpoint endpoint;  // the authorization page or the code exchange
    Fault fault;
    bool retried = false;   // a one-time fault: the person tries again and is signed in
    bool declines = false;  // the person presses Cancel on TikTok's page
};
// A row as ctest and GoogleTest name it, rather than as its bytes.
void PrintTo(const SignInRow& row, std::ostream* out) { *out << row.name; }

std::vector<SignInRow> Rows() {
    const std::string page = "<html><body><h1>Log in to TikTok</h1></body></html>";
    const std::vector<SignInRow> authorize = {
        // The authorization page is for the person's browser: the plug-in sees none of it, only
        // that no redirect comes. A page with a body the plug-in would parse does not exist here,
        // so malformed JSON and missing or mistyped fields are left out.
        {"Authorize_Status201", Endpoint::Authorize, Fault::Rewrite(201)},
        {"Authorize_Status302", Endpoint::Authorize, Fault::Respond(302)},
        {"Authorize_Status400", Endpoint::Authorize, Fault::Respond(400, page)},
        {"Authorize_Status401", Endpoint::Authorize, Fault::Respond(401, page)},
        {"Authorize_Status403", Endpoint::Authorize, Fault::Respond(403, page)},
        {"Authorize_Status404", Endpoint::Authorize, Fault::Respond(404, page)},
        {"Authorize_Status429", Endpoint::Authorize, Fault::Respond(429, page)},
        {"Authorize_Status500", Endpoint::Authorize, Fault::Respond(500, page)},
        {"Authorize_Status503", Endpoint::Authorize, Fault::Respond(503, page)},
        {"Authorize_EmptyBody", Endpoint::Authorize, Fault::Respond(200, "")},
        {"Authorize_Silence", Endpoint::Authorize, Fault::Hang()},
        {"Authorize_Closed", Endpoint::Authorize, Fault::Drop()},
        {"Authorize_Reset", Endpoint::Authorize, Fault::Reset()},
        {"Authorize_Truncated", Endpoint::Authorize, Fault::Truncate(200, page)},
        {"Authorize_OnceThenSuccess", Endpoint::Authorize, Fault::Respond(503, page), true},
    };
    const std::vector<SignInRow> exchange = {
        {"CodeExchange_Status201", Endpoint::Token, Fault::Rewrite(201)},
        {"CodeExchange_Status302", Endpoint::Token, Fault::Respond(302, kTokens)},
        {"CodeExchange_Status400", Endpoint::Token, Fault::Respond(400, kTokens)},
        {"CodeExchange_Status401", Endpoint::Token, Fault::Respond(401, kTokens)},
        {"CodeExchange_Status403", Endpoint::Token, Fault::Respond(403, kTokens)},
        {"CodeExchange_Status404", Endpoint::Token, Fault::Respond(404, kTokens)},
        {"CodeExchange_Status429", Endpoint::Token, Fault::Respond(429, kTokens)},
        {"CodeExchange_Status500", Endpoint::Token, Fault::Respond(500, kTokens)},
        {"CodeExchange_Status503", Endpoint::Token, Fault::Respond(503, kTokens)},
        {"CodeExchange_ErrorBodyIn200", Endpoint::Token, Fault::Respond(200, kTokenError)},
        {"CodeExchange_MalformedJson", Endpoint::Token,
         Fault::Respond(200, R"({"access_token":"act.x","refresh_token":)")},
        {"CodeExchange_FieldMissing", Endpoint::Token,
         Fault::Respond(200, R"({"access_token":"act.only","open_id":"x"})")},
        {"CodeExchange_FieldWrongType", Endpoint::Token,
         Fault::Respond(200, R"({"access_token":"act.x","refresh_token":["rft.x"]})")},
        {"CodeExchange_EmptyBody", Endpoint::Token, Fault::Respond(200, "")},
        {"CodeExchange_Silence", Endpoint::Token, Fault::Hang()},
        {"CodeExchange_Closed", Endpoint::Token, Fault::Drop()},
        {"CodeExchange_Reset", Endpoint::Token, Fault::Reset()},
        {"CodeExchange_Truncated", Endpoint::Token, Fault::Truncate(200, kTokens)},
        {"CodeExchange_OnceThenSuccess", Endpoint::Token, Fault::Respond(503, kTokens), true},
    };
    std::vector<SignInRow> rows = authorize;
    rows.insert(rows.end(), exchange.begin(), exchange.end());
    // TikTok's own way to say no on the authorization page: the person declines, and TikTok
    // redirects to the listener with an error instead of a code.
    // A delay of nothing: the page is answered as usual.
    rows.push_back({"Authorize_UserDeclines", Endpoint::Authorize, Fault::Delay(0ms), false, true});
    return rows;
}

class SignInFaults : public ::testing::TestWithParam<SignInRow> {
protected:
    void SetUp() override {
        h.CreateAddAndRefresh();
        uploader_ = Vekta::LookupInstance(&h.Record());
        ASSERT_TRUE(uploader_);
        uploader_->SetRequestTimeoutForTesting(kRequestTimeoutSeconds);
    }
    PluginHarness h{LinkedTable()};
    talcore::utility::RefCountedPtr<Vekta::TikTokUploader> uploader_;
};

TEST_P(SignInFaults, EndSignedOutWithTheListenerGone) {
    const SignInRow& row = GetParam();
    h.Sandbox().ClearRequests();
    h.Sandbox().Faults().Add(row.endpoint, row.fault);

    std::string redirectUri;
    bool cancelled = false, retriedIn = false;
    h.SetBrowserAction([&](const std::string& start) {
        const HeadlessBrowser browser(
            row.declines ? HeadlessBrowser::Choice::Cancel : HeadlessBrowser::Choice::Authorize, 3s);
        const auto first = browser.Open(start);
        if (first.visited.size() >= 2) {
            // Where the start address sent the browser: TikTok's page, whose query names the listener.
            const auto fields = vekta::sandbox::ParseUrlEncoded(vekta::sandbox::QueryOf(first.visited[1]));
            redirectUri =
                vekta::sandbox::SingleValue(fields.value_or(vekta::sandbox::FormFields{}), "redirect_uri").value_or("");
        }
        if (row.endpoint == Endpoint::Authorize && row.retried && first.visited.size() >= 2) {
            // The person reloads TikTok's page, which works now; the exchange then ends the prompt.
            retriedIn = browser.Open(first.visited[1]).page.status == 200;
            return;
        }
        // A failed exchange ends the prompt itself; otherwise the person gives up waiting.
        if (row.endpoint == Endpoint::Authorize) cancelled = PollUntil([&] { return h.PressPromptCancel(); }, 10s);
    });
    const auto start = std::chrono::steady_clock::now();
    const bool signedIn = h.SignIn();
    EXPECT_LT(std::chrono::steady_clock::now() - start, kJobBound);

    const auto received = Received(h.Sandbox());
    if (row.endpoint == Endpoint::Authorize && row.retried) {
        EXPECT_TRUE(retriedIn);
        EXPECT_TRUE(signedIn);
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), std::vector<std::u16string>{u"Signed in as Sandbox Creator"});
        ASSERT_GE(received.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(received.begin(), received.begin() + 3),
                  (std::vector<std::string>{"authorize:503", "authorize:200", "token:200"}));
        return;
    }
    EXPECT_FALSE(signedIn);
    EXPECT_EQ(cancelled, row.endpoint == Endpoint::Authorize);
    // A failed exchange may end the sign-in before its prompt has come up.
    if (row.endpoint == Endpoint::Authorize) {
        EXPECT_EQ(h.PromptsShown(), 1);
    } else {
        EXPECT_LE(h.PromptsShown(), 1);
    }
    EXPECT_FALSE(h.PressPromptCancel());
    EXPECT_FALSE(h.AccountEvents().back().signedIn);
    EXPECT_EQ(h.Name("VOXATikTokLogin"), u"Sign In");
    EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), std::vector<std::u16string>{u"Not logged in"});
    EXPECT_TRUE(h.ArrayText("VOXATikTokRefreshToken").empty());
    ASSERT_FALSE(redirectUri.empty());
    EXPECT_FALSE(HeadlessBrowser(HeadlessBrowser::Choice::Authorize, 2s).Get(redirectUri).ok)
        << "the listener is still up";

    std::vector<std::string> expected;
    if (row.endpoint == Endpoint::Token) expected.push_back("authorize:200");
    if (const std::string logged = Logged(row.endpoint, row.fault); !logged.empty()) expected.push_back(logged);
    EXPECT_EQ(received, expected);
    if (row.fault.action == Fault::Action::Hang) {
        EXPECT_EQ(h.Sandbox().Faults().Hanging(), 1u);
        h.Sandbox().Faults().ReleaseHangs();
    }

    if (row.endpoint == Endpoint::Token && row.retried) {
        h.SetBrowserAction(nullptr);
        EXPECT_TRUE(h.SignIn());
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), std::vector<std::u16string>{u"Signed in as Sandbox Creator"});
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, SignInFaults, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<SignInRow>& row) { return row.param.name; });

}  // namespace
