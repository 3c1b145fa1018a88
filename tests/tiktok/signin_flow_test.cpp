// The browser sign-in through the module's callbacks: the start address the browser is given, the
// authorization request, the loopback listener and its answers, the prompt, the time-out, and a
// code that arrives after the instance is gone; then the tokens: how the refresh's answers keep or
// end the sign-in, rotated refresh tokens and their way to the host, and what the traces must never
// show.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <thread>

#include "brimkit/IdleCountdownTimer.h"
#include "sandbox/UrlCodec.h"
#include "talcore/config/Localizer.h"
#include "talcore/debug/Trace.h"
#include "talcore/string/Unicode.h"
#include "talcore/threads/Executor.h"
#include "talcore/threads/MainThread.h"
#include "tests/tiktok/PluginHarness.h"

namespace {

using namespace std::chrono_literals;
using vekta::sandbox::Endpoint;
using vekta::sandbox::Fault;
using vekta::sandbox::HeadlessBrowser;
using vekta::test::CountRequests;
using vekta::test::PluginHarness;
using vekta::test::PollUntil;

// The query pairs of `url`, decoded; a repeated name keeps its first.
std::map<std::string, std::string> QueryOf(const std::string& url) {
    std::map<std::string, std::string> pairs;
    const auto fields = vekta::sandbox::ParseUrlEncoded(vekta::sandbox::QueryOf(url));
    for (const auto& field : fields.value_or(vekta::sandbox::FormFields{})) pairs.emplace(field.name, field.value);
    return pairs;
}

// The port of "http://127.0.0.1:PORT/...", or 0.
int PortOf(const std::string& url) {
    const std::string prefix = "http://127.0.0.1:";
    return url.rfind(prefix, 0) == 0 ? std::atoi(url.c_str() + prefix.size()) : 0;
}

// One GET of a loopback address, as the person's browser would make it.
vekta::sandbox::BrowserResult Visit(const std::string& url) {
    return HeadlessBrowser(HeadlessBrowser::Choice::Authorize, 5s).Open(url);
}

// The authorization address behind the start address the browser was given: its one redirect.
std::string AuthorizationBehind(const std::string& startAddress) {
    const auto first = HeadlessBrowser(HeadlessBrowser::Choice::Authorize, 5s).Get(startAddress);
    return first.page.status == 302 ? first.page.Header("Location") : std::string();
}

// Code exchanges are the token requests that carry a "code" field.
std::size_t CodeExchanges(vekta::sandbox::Sandbox& sandbox) {
    const auto requests = sandbox.Requests();
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [](const auto& r) {
        return r.endpoint == "token" && std::ranges::count(r.formFieldNames, "code") > 0;
    }));
}

// Listening sockets on 127.0.0.1 that keep `count` ports from `first` on away from the plug-in's
// listener while this lives. Ports another program holds count as taken too.
class PortBlocker {
public:
    PortBlocker(int first, int count) {
        for (int port = first; port < first + count; ++port) {
            sockets_.push_back(::socket(AF_INET, SOCK_STREAM, 0));
            // As the listener does, so that a port left in TIME_WAIT by an earlier test is held too.
            const int yes = 1;
            ::setsockopt(sockets_.back(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(sockets_.back(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
                ::listen(sockets_.back(), 1);
        }
    }
    ~PortBlocker() {
        for (const int fd : sockets_) ::close(fd);
    }

private:
    std::vector<int> sockets_;
};

constexpr int kFirstPort = 55980;
constexpr int kPortCount = 20;

// Occupies every worker of the host's CPU-bound executor (the platform's pool has 2 to 4) until
// released, so that work queued meanwhile waits.
class CpuWorkersHeld {
public:
    CpuWorkersHeld() {
        for (unsigned i = 0; i < kWorkers; ++i)
            Post([s = state_] {
                ++s->started;
                PollUntil([&] { return s->released.load(); }, 30s);
            });
        held_ = PollUntil([&] { return state_->started == kWorkers; }, 10s);
    }
    ~CpuWorkersHeld() { state_->released = true; }
    bool Held() const { return held_; }
    // True once everything queued before has finished: only then can one barrier task per worker
    // all be running together.
    bool ReleaseAndDrain() {
        state_->released = true;
        auto arrived = std::make_shared<std::atomic<unsigned>>(0);
        for (unsigned i = 0; i < kWorkers; ++i)
            Post([arrived] {
                ++*arrived;
                PollUntil([&] { return *arrived >= kWorkers; }, 10s);
            });
        return PollUntil([&] { return *arrived >= kWorkers; }, 20s);
    }

private:
    static inline const unsigned kWorkers = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
    static void Post(std::function<void()> work) {
        talcore::threads::CallAsync(talcore::threads::GetCPUBoundExecutor(), std::move(work));
    }
    struct State {
        std::atomic<unsigned> started{0};
        std::atomic<bool> released{false};
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    bool held_ = false;
};

class SignIn : public ::testing::Test {
protected:
    void SetUp() override { h_.CreateAddAndRefresh(); }
    // The listener's redirect path, on the port of the start address the browser was given.
    std::string RedirectUri() const {
        const std::string start = h_.LastOpenedAddress();
        return start.substr(0, start.find("/start/"));
    }
    PluginHarness h_;
};

// The browser's command line is readable by every local user: it carries a single-use address of
// the listener, never the state or the code challenge, which only the redirect from it reveals.
// Following that redirect signs in, and the listener is gone afterwards.
TEST_F(SignIn, TheBrowserGetsASingleUseStartAddressWithNoSecretAndTheSignInEndsWithTheListenerGone) {
    std::vector<vekta::sandbox::BrowserResult> visits;
    h_.SetBrowserAction([&](const std::string& start) {
        const HeadlessBrowser browser(HeadlessBrowser::Choice::Authorize, 5s);
        std::string otherToken = start;
        otherToken.back() = otherToken.back() == '0' ? '1' : '0';
        for (const std::string& address : {otherToken, start + "0", start, start})
            visits.push_back(browser.Get(address));
        visits.push_back(browser.Open(visits[2].page.Header("Location")));
        // Not signed in this way: end the prompt rather than wait for it.
        if (visits.back().page.status != 200) PollUntil([&] { return h_.PressPromptCancel(); }, 10s);
    });
    ASSERT_TRUE(h_.SignIn());

    const std::string start = h_.LastOpenedAddress();
    std::smatch parts;
    ASSERT_TRUE(
        std::regex_match(start, parts, std::regex(R"(http://127\.0\.0\.1:(\d+)/VektaAuthTikTok/start/[0-9a-f]{32})")))
        << start;
    ASSERT_EQ(visits.size(), 5u);
    // Other tokens change nothing; the first GET is answered once, and only with the redirect.
    const int statuses[] = {404, 404, 302, 404, 200};
    for (std::size_t i = 0; i < visits.size(); ++i) EXPECT_EQ(visits[i].page.status, statuses[i]) << i;
    const auto& redirect = visits[2].page;
    EXPECT_EQ(redirect.Header("Cache-Control"), "no-store");
    EXPECT_EQ(redirect.Header("Referrer-Policy"), "no-referrer");
    EXPECT_TRUE(redirect.body.empty());

    const std::string authorization = redirect.Header("Location");
    EXPECT_EQ(authorization.substr(0, authorization.find('?')), h_.Sandbox().Origin() + "/v2/auth/authorize/");
    auto query = QueryOf(authorization);
    ASSERT_FALSE(query["state"].empty());
    ASSERT_FALSE(query["code_challenge"].empty());
    EXPECT_EQ(start.find(query["state"]), std::string::npos);
    EXPECT_EQ(start.find(query["code_challenge"]), std::string::npos);
    EXPECT_EQ(query["redirect_uri"], "http://127.0.0.1:" + parts[1].str() + "/VektaAuthTikTok");
    EXPECT_EQ(query["scope"], "user.info.basic,user.info.profile,video.list,video.publish,video.upload");
    // The sandbox accepted the exchange, so the verifier matched this challenge.
    EXPECT_EQ(query["code_challenge_method"], "S256");
    const int port = std::stoi(parts[1].str());
    EXPECT_GE(port, kFirstPort);
    EXPECT_LT(port, kFirstPort + kPortCount);

    // The login-complete page leaks nothing onwards and is not kept.
    const auto& landing = visits[4];
    ASSERT_TRUE(landing.ok) << landing.error;
    EXPECT_NE(landing.page.body.find("<h1>Login Complete!</h1>"), std::string::npos);
    EXPECT_EQ(landing.page.Header("Referrer-Policy"), "no-referrer");
    EXPECT_EQ(landing.page.Header("Cache-Control"), "no-store");
    // The exchange closed the prompt; the refresh token waits in the settings for the next refresh.
    EXPECT_EQ(h_.PromptsShown(), 1);
    EXPECT_FALSE(h_.PressPromptCancel());
    EXPECT_FALSE(h_.ArrayText("VOXATikTokRefreshToken").empty());
    EXPECT_EQ(h_.Name("VOXATikTokLogin"), u"Sign Out");
    EXPECT_TRUE(h_.AccountEvents().back().signedIn);
    EXPECT_FALSE(Visit(landing.page.url).ok);
}

TEST_F(SignIn, WrongOrMissingStateOrCodeAndAReplayGet404AndStartNoSecondExchange) {
    // The exchange is held at the sandbox, so the replay meets a listener that is still up.
    h_.Sandbox().Faults().Add(Endpoint::Token, Fault::Hang());
    std::vector<std::pair<std::string, int>> answers;
    h_.SetBrowserAction([&](const std::string& start) {
        const std::string address = AuthorizationBehind(start);
        auto query = QueryOf(address);
        const std::string state = query["state"];
        std::string otherState = state;
        otherState.back() = otherState.back() == '0' ? '1' : '0';
        for (const std::string& redirect :
             std::vector<std::string>{"", "?code=c1", "?state=" + state, "?state=" + state + "0&code=c1",
                                      "?state=" + otherState + "&code=c1", "?state=" + state.substr(1) + "&code=c1"})
            answers.emplace_back(redirect, Visit(query["redirect_uri"] + redirect).page.status);
        // The state still takes the real code afterwards, once.
        const auto landing = HeadlessBrowser().Open(address);
        answers.emplace_back("first", landing.page.status);
        if (h_.Sandbox().Faults().WaitUntilHanging(1, 10s))
            answers.emplace_back("replay", Visit(landing.page.url).page.status);
        h_.Sandbox().Faults().ReleaseHangs();
    });
    EXPECT_TRUE(h_.SignIn());
    ASSERT_EQ(answers.size(), 8u);
    for (const auto& [redirect, status] : answers) EXPECT_EQ(status, redirect == "first" ? 200 : 404) << redirect;
    EXPECT_EQ(CodeExchanges(h_.Sandbox()), 1u);
}

TEST_F(SignIn, LoginTimeoutReleasesTheListenerAndCancelStillEndsTheLogin) {
    // Login timers armed meanwhile run a thousandth of their duration: five minutes become 300 ms.
    struct FastTimers {
        FastTimers() { Brim::IdleCountdownTimer::SetTimeScaleForTesting(0.001); }
        ~FastTimers() { Brim::IdleCountdownTimer::SetTimeScaleForTesting(1.0); }
    } fast;
    bool released = false, lateReached = true, cancelled = false;
    h_.SetBrowserAction([&](const std::string& start) {
        auto query = QueryOf(AuthorizationBehind(start));
        const std::string listener = query["redirect_uri"];
        released = PollUntil([&] { return !Visit(listener).ok; }, 20s);
        lateReached = Visit(listener + "?state=" + query["state"] + "&code=late").ok;
        // The prompt outlives the listener.
        cancelled = PollUntil([&] { return h_.PressPromptCancel(); }, 10s);
    });
    EXPECT_FALSE(h_.SignIn());
    EXPECT_TRUE(released);
    EXPECT_FALSE(lateReached);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(CountRequests(h_.Sandbox(), "token"), 0u);
}

// The next press tries again, on the first free port for both the authorization and the exchange
// (the sandbox refuses an exchange whose redirect_uri is not the authorization's).
TEST_F(SignIn, WithEveryPortTakenNothingIsOpenedOrShownAndTheNextPressTakesTheNextFreeOne) {
    {
        const PortBlocker taken(kFirstPort, kPortCount);
        EXPECT_FALSE(h_.SignIn());
        EXPECT_EQ(h_.LastOpenedAddress(), "");
        EXPECT_EQ(h_.PromptsShown(), 0);
        ASSERT_FALSE(h_.AccountEvents().empty());
        EXPECT_FALSE(h_.AccountEvents().back().signedIn);
    }
    const PortBlocker taken(kFirstPort, 3);
    EXPECT_TRUE(h_.SignIn());
    EXPECT_EQ(h_.PromptsShown(), 1);
    const int port = PortOf(RedirectUri());
    EXPECT_GE(port, kFirstPort + 3);
    EXPECT_LT(port, kFirstPort + kPortCount);
}

TEST_F(SignIn, StartedOffTheMainThreadItShowsNoPromptAndReturnsAtOnce) {
    h_.SetBrowserAction([](const std::string&) {});  // nobody would answer a prompt anyway
    auto press = std::async(std::launch::async, [&] { return h_.Changed("VOXATikTokLogin"); });
    // No prompt waits for a person: the press comes back without anybody pressing Cancel.
    ASSERT_EQ(press.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(press.get(), 0);
    EXPECT_EQ(h_.PromptsShown(), 0);
    EXPECT_FALSE(h_.HasCredentials());
    EXPECT_FALSE(h_.LastOpenedAddress().empty());
    EXPECT_FALSE(Visit(RedirectUri()).ok);  // the attempt ended with its listener
}

// Cancel lands while the code exchange is held at TikTok: the sign-in ends at once, and the
// exchange, answered afterwards, signs the editor in once with its token.
TEST_F(SignIn, CancelDuringTheCodeExchangeEndsSignedInOnceWhenTheExchangeEnds) {
    h_.Sandbox().Faults().Add(Endpoint::Token, Fault::Hang());
    bool cancelled = false;
    h_.SetBrowserAction([&](const std::string& address) {
        HeadlessBrowser().Open(address);
        cancelled = h_.Sandbox().Faults().WaitUntilHanging(1, 10s) && h_.PressPromptCancel();
    });
    EXPECT_FALSE(h_.SignIn());
    ASSERT_TRUE(cancelled);
    h_.Sandbox().Faults().ReleaseHangs();

    const auto signedInEvents = [&] {
        const auto events = h_.AccountEvents();
        return std::count_if(events.begin(), events.end(), [](const auto& e) { return e.signedIn; });
    };
    ASSERT_TRUE(vekta::test::WaitUntil([&] { return signedInEvents() > 0; }, 20s));
    EXPECT_TRUE(h_.HasCredentials());
    EXPECT_FALSE(h_.ArrayText("VOXATikTokRefreshToken").empty());
    EXPECT_EQ(h_.Name("VOXATikTokLogin"), u"Sign Out");
    EXPECT_EQ(CodeExchanges(h_.Sandbox()), 1u);
    EXPECT_EQ(h_.PromptsShown(), 1);
    EXPECT_EQ(signedInEvents(), 1);
    // The settings took the token: a refresh hands it back and keeps the sign-in.
    ASSERT_EQ(h_.Refresh(), 0);
    EXPECT_EQ(h_.ChoiceLabels("VOXATikTokStatusText"), std::vector<std::u16string>{u"Signed in as Sandbox Creator"});
}

TEST_F(SignIn, ThePromptSaysLogInWithOneCancelButtonInTheSecondPlace) {
    const struct {
        std::map<std::string, std::string> translations;
        std::u16string title, message, cancel;
    } cases[] = {
        {{}, u"Log in", u"Please use your web browser to log in to TikTok", u"Cancel"},
        {{{"$$$/Vekta/PostProcess/TikTok/LoginTitle", "Anmelden"},
          {"$$$/Vekta/PostProcess/TikTok/LoginMessage", "Bitte im Webbrowser anmelden"},
          {"$$$/Vekta/PostProcess/TikTok/LoginCancel", "Abbrechen"}},
         u"Anmelden",
         u"Bitte im Webbrowser anmelden",
         u"Abbrechen"},
    };
    h_.SetBrowserAction([&](const std::string&) { PollUntil([&] { return h_.PressPromptCancel(); }, 10s); });
    for (const auto& c : cases) {
        SCOPED_TRACE(talcore::string::UTF16to8(c.title));
        talcore::config::Localizer::Get().InstallTranslations(c.translations);
        EXPECT_FALSE(h_.SignIn());
        talcore::config::Localizer::Get().InstallTranslations({});
        const auto prompt = h_.LastPrompt();
        ASSERT_TRUE(prompt);
        EXPECT_EQ(prompt->title, c.title);
        EXPECT_EQ(prompt->message, c.message);
        EXPECT_EQ(prompt->captions, (std::array<std::u16string, 4>{u"", c.cancel, u"", u""}));
    }
}

TEST_F(SignIn, CodeReachingTheWorkerAfterTheInstanceIsDestroyedStartsNoExchange) {
    CpuWorkersHeld workers;
    ASSERT_TRUE(workers.Held());
    int landed = 0;
    h_.SetBrowserAction([&](const std::string& address) {
        landed = HeadlessBrowser().Open(address).page.status;
        PollUntil([&] { return h_.PressPromptCancel(); }, 10s);
    });
    EXPECT_FALSE(h_.SignIn());
    ASSERT_EQ(landed, 200);  // the code is queued behind the held workers
    EXPECT_EQ(h_.Table().destroyInstance(&h_.Record()), kCallbackDone);
    talcore::threads::PumpMainThreadTasks();
    ASSERT_TRUE(workers.ReleaseAndDrain());
    EXPECT_EQ(CountRequests(h_.Sandbox(), "token"), 0u);
    std::uint8_t signedIn = 7;
    EXPECT_EQ(h_.Table().queryHasCredentials(&h_.Record(), &signedIn), kCallbackFailed);
}

const std::vector<std::u16string> kSignedIn{u"Signed in as Sandbox Creator"};
const std::vector<std::u16string> kSignedOut{u"Not logged in"};

using Tokens = SignIn;

// "error" anywhere in a 200 answer ends the sign-in; any other status keeps the refresh token.
TEST_F(Tokens, RefreshAnswerSignsOutOnAnErrorIn200AndKeepsTheTokenOtherwise) {
    constexpr char kTokens[] = R"({"access_token":"act.injected","refresh_token":"rft.injected"})";
    const struct {
        int status;
        std::string body;
        bool signedIn;
    } cases[] = {
        {200, R"({"error":"invalid_grant","error_description":"Refresh token is invalid"})", false},
        {200, R"({"access_token":"a","refresh_token":"r","error_code":0})", false},
        {200, R"({"access_token":"a","refresh_token":"r","scope":"user.info.terrors"})", false},
        {204, "", true},
        {500, kTokens, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
        if (!h_.HasCredentials()) {
            ASSERT_TRUE(h_.SignIn());
        }
        const auto creatorQueries = CountRequests(h_.Sandbox(), "creator_info");
        h_.Sandbox().Faults().Add(Endpoint::Token, Fault::Respond(c.status, c.body));
        ASSERT_EQ(h_.Refresh(), 0);
        EXPECT_EQ(h_.HasCredentials(), c.signedIn);
        EXPECT_EQ(h_.ChoiceLabels("VOXATikTokStatusText"), c.signedIn ? kSignedIn : kSignedOut);
        // Without an access token there is no creator query.
        EXPECT_EQ(CountRequests(h_.Sandbox(), "creator_info"), creatorQueries);
        if (c.signedIn) {
            ASSERT_EQ(h_.Refresh(), 0);  // the kept refresh token still works
            EXPECT_EQ(CountRequests(h_.Sandbox(), "creator_info"), creatorQueries + 1);
        } else {
            EXPECT_FALSE(h_.AccountEvents().back().signedIn);
            EXPECT_EQ(h_.Name("VOXATikTokLogin"), u"Sign In");
            EXPECT_EQ(h_.ChoiceLabels("VOXATikTokPrivacy"),
                      (std::vector<std::u16string>{u"Select an option...", u"Private"}));
        }
    }
}

// TikTok retires a refresh token once it has rotated it out. Each new one is adopted and handed
// to the host as a sign-in's is, so that what the host keeps is never the retired one, and the
// retired one given back with the next refresh does not replace it.
TEST_F(Tokens, EachRotatedRefreshTokenIsHandedToTheHostAndTheRetiredOneNeverComesBack) {
    h_.Sandbox().SetRotateRefreshTokens(true);
    h_.Sandbox().SetRefuseRotatedRefreshTokens(true);
    // The sign-in's own creator query already rotates the token that the sign-in handed over.
    ASSERT_TRUE(h_.SignIn());
    std::u16string handedOver = h_.ArrayText("VOXATikTokRefreshToken");
    ASSERT_FALSE(handedOver.empty());
    for (int refresh = 0; refresh < 3; ++refresh) {
        SCOPED_TRACE(refresh);
        ASSERT_EQ(h_.Refresh(), 0);
        EXPECT_EQ(h_.ChoiceLabels("VOXATikTokStatusText"), kSignedIn);
        const std::u16string next = h_.ArrayText("VOXATikTokRefreshToken");
        EXPECT_FALSE(next.empty());
        EXPECT_NE(next, handedOver);
        handedOver = next;
    }
    for (const auto& request : h_.Sandbox().Requests()) EXPECT_EQ(request.errorCode, "") << request.endpoint;

    // A token that stays the same is not handed over again: the settings hold none after a refresh.
    h_.Sandbox().SetRotateRefreshTokens(false);
    ASSERT_EQ(h_.Refresh(), 0);
    EXPECT_TRUE(h_.ArrayText("VOXATikTokRefreshToken").empty());
    EXPECT_EQ(h_.ChoiceLabels("VOXATikTokStatusText"), kSignedIn);
}

TEST_F(Tokens, TracesCarryNoTokenCodeOrSecret) {
    // Every trace category at every level into a fresh file.
    const auto traceFile =
        std::filesystem::temp_directory_path() / ("vekta-signin-trace-" + std::to_string(::getpid()));
    std::filesystem::remove(traceFile);
    talcore::debug::SetTraceConfig("*:10", traceFile.string());
    std::string code;
    h_.SetBrowserAction([&](const std::string& address) {
        code = QueryOf(vekta::sandbox::HeadlessBrowser().Open(address).page.url)["code"];
    });
    ASSERT_TRUE(h_.SignIn());
    const std::string refreshToken = talcore::string::UTF16to8(h_.ArrayText("VOXATikTokRefreshToken"));
    ASSERT_FALSE(code.empty());
    ASSERT_FALSE(refreshToken.empty());
    ASSERT_EQ(h_.Refresh(), 0);
    // Broken answers are traced with their error; the text around a token must not come along.
    h_.Sandbox().Faults().Add(Endpoint::Token,
                              Fault::Respond(200, R"({"access_token":"act.LEAKED","refresh_token":"rft.LEAKED)"));
    ASSERT_EQ(h_.Refresh(), 0);

    talcore::debug::SetTraceConfig("");
    std::ifstream in(traceFile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(traceFile);
    EXPECT_NE(text.find("HandleTokenResponse Error: "), std::string::npos) << text;
    for (const std::string& secret :
         {code, refreshToken, std::string("3f6c0a9e5b17d4820c9ea3716bd05f4a"), std::string("LEAKED")})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in:\n" << text;
}

}  // namespace
