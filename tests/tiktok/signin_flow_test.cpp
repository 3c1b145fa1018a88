// The browser sign-in through the module's callbacks: the authorization request, the loopback
// listener and its answers, the prompt, the time-out, and the hand-overs between the main thread,
// the listener's thread and the worker that exchanges the code.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "PluginHarness.h"
#include "SignInSupport.h"
#include "talcore/threads/Executor.h"
#include "talcore/threads/MainThread.h"

namespace {

using namespace std::chrono_literals;
using tiktok_sandbox::HeadlessBrowser;
using vekta::test::BrowserBehaviour;
using vekta::test::PluginHarness;
using vekta::test::PollUntil;
using vekta::test::PortOf;
using vekta::test::PromptBehaviour;
using vekta::test::QueryOf;
using vekta::test::Visit;

constexpr int kFirstPort = 55980;
constexpr int kPortCount = 20;

std::string RedirectUri(const PluginHarness& h) { return QueryOf(h.LastOpenedAddress())["redirect_uri"]; }

// Code exchanges are the token requests that carry a "code" field.
std::size_t CodeExchanges(PluginHarness& h) {
    const auto requests = h.Sandbox().Requests();
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [](const auto& r) {
        const auto& fields = r.formFieldNames;
        return r.endpoint == "token" && std::find(fields.begin(), fields.end(), "code") != fields.end();
    }));
}

// Occupies every worker of the host's CPU-bound executor (the platform's pool has 2 to 4) until
// released, so that work queued meanwhile waits.
class CpuWorkersHeld {
public:
    CpuWorkersHeld() {
        for (unsigned i = 0; i < kWorkers; ++i) {
            Post([s = state_] {
                ++s->started;
                PollUntil([&] { return s->released.load(); }, 30s);
            });
        }
        held_ = PollUntil([&] { return state_->started == kWorkers; }, 10s);
    }
    ~CpuWorkersHeld() { state_->released = true; }
    bool Held() const { return held_; }
    // Releases them; true once everything queued before has finished, which is when one barrier
    // task per worker can all be running together.
    bool ReleaseAndDrain() {
        state_->released = true;
        auto arrived = std::make_shared<std::atomic<unsigned>>(0);
        for (unsigned i = 0; i < kWorkers; ++i) {
            Post([arrived] {
                ++*arrived;
                PollUntil([&] { return *arrived >= kWorkers; }, 10s);
            });
        }
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
    void SetUp() override { h.CreateAddAndRefresh(); }
    PluginHarness h;
};

TEST_F(SignIn, BrowserSignInSendsTheAuthorizationRequestAndEndsSignedIn) {
    tiktok_sandbox::BrowserResult landing;
    h.SetBrowserAction([&](const std::string& address) { landing = HeadlessBrowser().Open(address); });
    ASSERT_TRUE(h.SignIn());

    const std::string address = h.LastOpenedAddress();
    EXPECT_EQ(address.substr(0, address.find('?')), h.Sandbox().Origin() + "/v2/auth/authorize/");
    auto query = QueryOf(address);
    EXPECT_EQ(query.size(), 7u);
    EXPECT_EQ(query["client_key"], "mqv27xk0pd4rh8sz");
    EXPECT_EQ(query["scope"], "user.info.basic,user.info.profile,video.list,video.publish,video.upload");
    EXPECT_EQ(query["response_type"], "code");
    const int port = PortOf(query["redirect_uri"]);
    EXPECT_EQ(query["redirect_uri"], "http://127.0.0.1:" + std::to_string(port) + "/VektaAuthTikTok");
    EXPECT_GE(port, kFirstPort);
    EXPECT_LT(port, kFirstPort + kPortCount);
    EXPECT_EQ(query["state"].size(), 36u);
    EXPECT_EQ(query["code_challenge"].size(), 64u);
    EXPECT_EQ(query["code_challenge"].find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(query["code_challenge_method"], "S256");

    // The browser ends on the login-complete page, which leaks nothing onwards and is not kept.
    ASSERT_TRUE(landing.ok) << landing.error;
    EXPECT_EQ(PortOf(landing.page.url), port);
    EXPECT_EQ(landing.page.status, 200);
    EXPECT_NE(landing.page.body.find("<h1>Login Complete!</h1>"), std::string::npos);
    EXPECT_EQ(landing.page.Header("Referrer-Policy"), "no-referrer");
    EXPECT_EQ(landing.page.Header("Cache-Control"), "no-store");

    // The sandbox has accepted the exchange, so its verifier matched the challenge and its
    // redirect_uri the authorization's.
    const auto requests = h.Sandbox().Requests();
    const auto exchange = std::find_if(requests.begin(), requests.end(), [](const auto& r) { return r.endpoint == "token"; });
    ASSERT_NE(exchange, requests.end());
    EXPECT_EQ(exchange->formFieldNames, (std::vector<std::string>{"client_key", "client_secret", "code", "grant_type",
                                                                  "redirect_uri", "code_verifier"}));

    // The exchange closed the prompt; the refresh token waits in the settings for the next refresh.
    EXPECT_EQ(h.PromptsShown(), 1);
    EXPECT_FALSE(h.PressPromptCancel());
    EXPECT_FALSE(h.ArrayText("VOXATikTokRefreshToken").empty());
    EXPECT_EQ(h.Name("VOXATikTokLogin"), u"Sign Out");
    ASSERT_FALSE(h.AccountEvents().empty());
    EXPECT_TRUE(h.AccountEvents().back().signedIn);
    // The listener is gone with the sign-in.
    EXPECT_FALSE(Visit(landing.page.url).ok);
}

TEST_F(SignIn, TakenPortsMoveTheListenerToTheNextFreeOneForAuthorizationAndExchange) {
    const vekta::test::PortBlocker taken(kFirstPort, 3);
    // The sandbox refuses an exchange whose redirect_uri is not the authorization's.
    ASSERT_TRUE(h.SignIn());
    const int port = PortOf(RedirectUri(h));
    EXPECT_GE(port, kFirstPort + 3);
    EXPECT_LT(port, kFirstPort + kPortCount);
}

TEST_F(SignIn, NoFreePortOpensNoBrowserShowsNoPromptAndTheNextPressTriesAgain) {
    {
        const vekta::test::PortBlocker taken(kFirstPort, kPortCount);
        EXPECT_FALSE(h.SignIn());
        EXPECT_EQ(h.OpenedAddressCount(), 0);
        EXPECT_EQ(h.PromptsShown(), 0);
        EXPECT_EQ(vekta::test::CountRequests(h.Sandbox(), "token"), 0u);
        ASSERT_FALSE(h.AccountEvents().empty());
        EXPECT_FALSE(h.AccountEvents().back().signedIn);
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), std::vector<std::u16string>{u"Not logged in"});
    }
    EXPECT_TRUE(h.SignIn());
}

TEST_F(SignIn, RedirectsWithoutTheRightStateOrACodeGet404AndStartNothing) {
    std::vector<std::pair<std::string, int>> answers;
    h.SetBrowserAction([&](const std::string& address) {
        auto query = QueryOf(address);
        const std::string state = query["state"];
        std::string otherState = state;
        otherState.back() = otherState.back() == '0' ? '1' : '0';
        for (const std::string& redirect : std::vector<std::string>{"", "?code=c1", "?state=" + state, "?state=" + state + "0&code=c1",
                                                                    "?state=" + otherState + "&code=c1",
                                                                    "?state=" + state.substr(1) + "&code=c1"}) {
            answers.emplace_back(redirect, Visit(query["redirect_uri"] + redirect).page.status);
        }
        HeadlessBrowser().Open(address);  // the state still takes the real code afterwards
    });
    EXPECT_TRUE(h.SignIn());
    ASSERT_EQ(answers.size(), 6u);
    for (const auto& [redirect, status] : answers) EXPECT_EQ(status, 404) << redirect;
    EXPECT_EQ(CodeExchanges(h), 1u);
}

TEST_F(SignIn, ReplayedRedirectGets404AndStartsNoSecondExchange) {
    // The exchange is held at the sandbox, so the replay meets a listener that is still up.
    h.Sandbox().Faults().Add(tiktok_sandbox::Endpoint::Token, tiktok_sandbox::Fault::Hang());
    int first = 0, replay = 0;
    h.SetBrowserAction([&](const std::string& address) {
        const auto landing = HeadlessBrowser().Open(address);
        first = landing.page.status;
        if (h.Sandbox().Faults().WaitUntilHanging(1, 10s)) replay = Visit(landing.page.url).page.status;
        h.Sandbox().Faults().ReleaseHangs();
    });
    EXPECT_TRUE(h.SignIn());
    EXPECT_EQ(first, 200);
    EXPECT_EQ(replay, 404);
    EXPECT_EQ(CodeExchanges(h), 1u);
}

TEST_F(SignIn, CancelBeforeTheRedirectEndsSignedOutWithTheListenerGone) {
    EXPECT_FALSE(h.SignIn(BrowserBehaviour::Ignore, PromptBehaviour::CancelAtOnce));
    EXPECT_EQ(h.PromptsShown(), 1);
    EXPECT_EQ(h.LastPromptTitle(), u"Log in");
    EXPECT_EQ(h.LastPromptMessage(), u"Please use your web browser to log in to TikTok");
    EXPECT_EQ(h.LastPromptButton(), u"Cancel");
    EXPECT_FALSE(Visit(RedirectUri(h)).ok);
    EXPECT_EQ(vekta::test::CountRequests(h.Sandbox(), "token"), 0u);
    EXPECT_EQ(h.Name("VOXATikTokLogin"), u"Sign In");
    EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), std::vector<std::u16string>{u"Not logged in"});
}

TEST_F(SignIn, LoginTimeoutReleasesTheListenerAndCancelStillEndsTheLogin) {
    const vekta::test::LoginTimeScale fast(0.001);  // five minutes become 300 ms
    bool released = false, lateReached = true, cancelled = false;
    h.SetBrowserAction([&](const std::string& address) {
        auto query = QueryOf(address);
        const std::string listener = query["redirect_uri"];
        released = PollUntil([&] { return !Visit(listener).ok; }, 20s);
        lateReached = Visit(listener + "?state=" + query["state"] + "&code=late").ok;
        // The prompt outlives the listener.
        cancelled = PollUntil([&] { return h.PressPromptCancel(); }, 10s);
    });
    EXPECT_FALSE(h.SignIn());
    EXPECT_TRUE(released);
    EXPECT_FALSE(lateReached);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(vekta::test::CountRequests(h.Sandbox(), "token"), 0u);
}

TEST_F(SignIn, SignInOffTheMainThreadShowsNoPromptAndDoesNotWait) {
    h.SetBrowserAction([](const std::string&) {});
    std::promise<std::int32_t> result;
    auto answered = result.get_future();
    std::thread host([&] { result.set_value(h.Changed("VOXATikTokLogin")); });
    const bool returned = answered.wait_for(20s) == std::future_status::ready;
    if (!returned) h.PressPromptCancel();
    host.join();
    ASSERT_TRUE(returned);
    EXPECT_EQ(answered.get(), 0);
    EXPECT_EQ(h.PromptsShown(), 0);
    EXPECT_FALSE(h.HasCredentials());
}

TEST_F(SignIn, CancelRacingTheExchangeStillSignsInOnceTheExchangeEnds) {
    h.SetBrowserAction([&](const std::string& address) {
        HeadlessBrowser().Open(address);
        // Cancel while the worker exchanges the code and closes the same prompt.
        PollUntil([&] { return h.PressPromptCancel(); }, 10s);
    });
    h.SignIn();
    // The exchange reports the account after it has handed the refresh token to the settings.
    ASSERT_TRUE(vekta::test::WaitUntil(
        [&] {
            const auto events = h.AccountEvents();
            return std::any_of(events.begin(), events.end(), [](const auto& e) { return e.signedIn; });
        },
        20s));
    ASSERT_EQ(h.Refresh(), 0);
    EXPECT_TRUE(h.HasCredentials());
    EXPECT_TRUE(h.ArrayText("VOXATikTokRefreshToken").empty());
    EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), std::vector<std::u16string>{u"Signed in as Sandbox Creator"});
    EXPECT_EQ(CodeExchanges(h), 1u);
}

TEST_F(SignIn, CodeReachingTheWorkerAfterTheInstanceIsDestroyedStartsNoExchange) {
    CpuWorkersHeld workers;
    ASSERT_TRUE(workers.Held());
    int landed = 0;
    h.SetBrowserAction([&](const std::string& address) {
        landed = HeadlessBrowser().Open(address).page.status;
        PollUntil([&] { return h.PressPromptCancel(); }, 10s);
    });
    EXPECT_FALSE(h.SignIn());
    ASSERT_EQ(landed, 200);  // the code is queued behind the held workers
    EXPECT_EQ(h.Table().destroyInstance(&h.Record()), 0);
    talcore::threads::PumpMainThreadTasks();
    ASSERT_TRUE(workers.ReleaseAndDrain());
    EXPECT_EQ(vekta::test::CountRequests(h.Sandbox(), "token"), 0u);
    std::uint8_t signedIn = 7;
    EXPECT_EQ(h.Table().queryHasCredentials(&h.Record(), &signedIn), 1);
}

}  // namespace
