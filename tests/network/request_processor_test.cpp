#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <random>
#include <set>

#include "local_servers.h"
#include "talcore/threads/Gate.h"
#include "talnet/Headers.h"
#include "talnet/http/OriginMap.h"

namespace {

using namespace std::chrono_literals;
using namespace talnet::http;
using nettest::RawServer;
using nettest::RecordingServer;
using Clock = std::chrono::steady_clock;

talcore::utility::ImmutableString Str(const std::string& text) { return talcore::utility::ImmutableString(text); }
Body MakeBody(const std::string& bytes) { return std::make_shared<talcore::allocator::RecycledMemory>(bytes); }

class RequestProcessorTest : public ::testing::Test {
protected:
    bool Get(const RequestID& id, const std::string& url, const RequestOptions& options = {}) {
        return processor_->Get(id, completions_.Callback(), Str(url), {}, options);
    }

    // Declared in this order so that the processor goes first and closes its connections.
    RecordingServer server_;
    nettest::Completions completions_;
    std::shared_ptr<RequestProcessor> processor_ = CreateRequestProcessor();
};

TEST_F(RequestProcessorTest, AnswersArriveWithTheirStatusBodyAndLowerCaseHeaders) {
    const std::pair<std::string, std::string> cases[] = {
        {"/status/200", "status 200"}, {"/status/204", ""},     {"/status/300", "status 300"},
        {"/status/500", "status 500"}, {"/slow/300", "slow"},   {"/large/25165824", RecordingServer::Pattern(24u << 20)}};
    std::vector<RequestID> ids;
    for (const auto& [path, body] : cases) {
        ids.push_back(RequestID::CreateUnique());
        ASSERT_TRUE(Get(ids.back(), server_.Url(path)));
    }
    ASSERT_TRUE(completions_.WaitFor(std::size(cases)));
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const auto response = completions_.For(ids[i]);
        const auto& [path, body] = cases[i];
        EXPECT_EQ(response->status, path.starts_with("/status/") ? std::stoul(path.substr(8)) : 200u) << path;
        EXPECT_TRUE(response->body == body) << path;
        EXPECT_EQ(response->headers.count("content-type"), body.empty() ? 0u : 1u) << path;
    }
}

TEST_F(RequestProcessorTest, PutSendsTheBodyByteExactWithTheCallersHeadersOnly) {
    std::string bytes(5u << 20, '\0');
    std::mt19937 random(7);
    for (auto& b : bytes) b = static_cast<char>(random());
    const HeaderMap headers = {{Str(talnet::kHEADER_CONTENT_TYPE), Str("video/mp4")},
                               {Str(talnet::kHEADER_CONTENT_LENGTH), Str(std::to_string(bytes.size()))},
                               {Str(talnet::kHEADER_CONTENT_RANGE), Str("bytes 0-5242879/12000000")}};
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(processor_->Put(id, completions_.Callback(), Str(server_.Url("/echo")), MakeBody(bytes), headers, {}));
    ASSERT_TRUE(completions_.WaitFor(1));
    EXPECT_EQ(completions_.For(id)->status, 200u);
    const auto put = server_.Seen().at(0);
    EXPECT_EQ(put.method, "PUT");
    EXPECT_TRUE(put.body == bytes);
    for (const auto& [name, value] : headers) {
        EXPECT_EQ(put.get_header_value_count(name.UTF8()), 1u) << name.UTF8();
        EXPECT_EQ(put.get_header_value(name.UTF8()), value.UTF8());
    }
    EXPECT_FALSE(put.has_header("Expect"));
    EXPECT_FALSE(put.has_header("Transfer-Encoding"));
}

TEST_F(RequestProcessorTest, PostStatesTheBodysSizeAndNoTypeTheCallerDidNotGive) {
    const std::string form = "grant_type=authorization_code&code=a%2Fb";
    const HeaderMap formType = {{Str("content-type"), Str(talnet::kHEADER_CONTENT_TYPE_APPLICATION_WWW_FORM_URLENCODED)},
                                {Str("Content-Length"), Str("999")}};  // wrong: the body's size wins
    for (const auto& [body, headers] : {std::pair{MakeBody(form), formType}, std::pair{Body(), HeaderMap()}}) {
        ASSERT_TRUE(processor_->Post(RequestID::CreateUnique(), completions_.Callback(), Str(server_.Url("/echo")), body, headers, {}));
    }
    ASSERT_TRUE(completions_.WaitFor(2));
    for (const auto& post : server_.Seen()) {
        const bool withBody = !post.body.empty();
        EXPECT_EQ(post.body, withBody ? form : "");
        EXPECT_EQ(post.get_header_value_count("Content-Length"), 1u);
        EXPECT_EQ(post.get_header_value("Content-Length"), withBody ? std::to_string(form.size()) : "0");
        EXPECT_EQ(post.get_header_value_count("Content-Type"), withBody ? 1u : 0u);
        EXPECT_EQ(post.get_header_value("Content-Type"), withBody ? "application/x-www-form-urlencoded" : "");
        EXPECT_FALSE(post.has_header("Expect"));
    }
}

TEST_F(RequestProcessorTest, SequentialRequestsToOneOriginShareAConnection) {
    for (std::size_t i = 1; i <= 6; ++i) {
        ASSERT_TRUE(processor_->Put(RequestID::CreateUnique(), completions_.Callback(), Str(server_.Url("/echo")), MakeBody("chunk"), {}, {}));
        ASSERT_TRUE(completions_.WaitFor(i));
    }
    std::set<int> ports;
    for (const auto& seen : server_.Seen()) ports.insert(seen.remote_port);
    EXPECT_EQ(ports.size(), 1u);
}

TEST_F(RequestProcessorTest, TransfersWithoutAnHttpAnswerCompleteWithNoResponse) {
    RawServer reset(RawServer::Mode::Reset), closed(RawServer::Mode::Close), silent(RawServer::Mode::Silent);
    RequestOptions lowSpeed;
    lowSpeed.lowSpeedTimeoutSeconds = 1;
    const std::pair<std::string, RequestOptions> cases[] = {
        {"http://127.0.0.1:" + std::to_string(nettest::ClosedPort()) + "/refused", {}},
        {reset.Url("/reset"), {}},
        {closed.Url("/closed"), {}},
        {silent.Url("/silent"), lowSpeed},
        {"https" + server_.Origin().substr(4) + "/status/200", {}},  // TLS to a plain server
    };
    std::vector<RequestID> ids;
    for (const auto& [url, options] : cases) {
        ids.push_back(RequestID::CreateUnique());
        ASSERT_TRUE(processor_->Put(ids.back(), completions_.Callback(), Str(url), MakeBody("data"), {}, options));
    }
    ASSERT_TRUE(completions_.WaitFor(std::size(cases)));
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(completions_.For(ids[i])->status, kStatusNoResponse) << cases[i].first;
}

TEST_F(RequestProcessorTest, CancelBeforeAnyAnswerCompletesOnceWithNoResponse) {
    RawServer silent(RawServer::Mode::Silent);
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(Get(id, silent.Url("/never")));
    for (const auto limit = Clock::now() + 10s; silent.Accepted() == 0 && Clock::now() < limit;) std::this_thread::sleep_for(5ms);
    processor_->Cancel(id);
    processor_->Cancel(id);
    ASSERT_TRUE(completions_.WaitFor(1));
    processor_->Cancel(id);                         // finished: ignored
    processor_->Cancel(RequestID::CreateUnique());  // unknown: ignored
    processor_.reset();                             // runs whatever completion is still due
    EXPECT_EQ(completions_.TimesFor(id), 1u);
    EXPECT_EQ(completions_.For(id)->status, kStatusNoResponse);
}

TEST_F(RequestProcessorTest, CancelRacingNaturalCompletionCompletesEachRequestExactlyOnce) {
    constexpr int kRequests = 200;
    std::vector<RequestID> ids(kRequests);
    for (auto& id : ids) id = RequestID::CreateUnique();
    std::atomic<int> submitted{0};
    std::thread canceller([&] {
        std::mt19937 random(11);
        for (int i = 0; i < kRequests; ++i) {
            while (submitted.load() <= i) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 400));
            processor_->Cancel(ids[i]);
        }
    });
    for (int i = 0; i < kRequests; ++i) {
        ASSERT_TRUE(Get(ids[i], server_.Url("/status/200")));
        submitted = i + 1;
    }
    canceller.join();
    processor_.reset();
    ASSERT_EQ(completions_.Count(), static_cast<std::size_t>(kRequests));
    for (const auto& id : ids) {
        ASSERT_EQ(completions_.TimesFor(id), 1u);
        EXPECT_TRUE(completions_.For(id)->status == 200u || completions_.For(id)->status == kStatusNoResponse);
    }
}

TEST_F(RequestProcessorTest, CompletionsSubmitTheNextRequestInAChainOf50) {
    std::atomic<int> done{0};
    talcore::threads::Gate finished;
    std::function<void()> next = [&] {
        const bool accepted = processor_->Put(
            RequestID::CreateUnique(),
            [&](const RequestID&, std::shared_ptr<Response> response) {
                if (response->status == 200 && ++done < 50) return next();
                finished.Open();
            },
            Str(server_.Url("/echo")), MakeBody(std::to_string(done.load())), {}, {});
        if (!accepted) finished.Open();
    };
    next();
    ASSERT_TRUE(finished.PassThroughUntil(Clock::now() + 30s));
    EXPECT_EQ(done.load(), 50);
}

TEST_F(RequestProcessorTest, ASlowCompletionDoesNotHoldBackOtherRequests) {
    talcore::threads::Gate secondDone;
    std::atomic<bool> secondCameFirst{false};
    const auto firstThread = std::this_thread::get_id();
    ASSERT_TRUE(processor_->Get(
        RequestID::CreateUnique(),
        [&](const RequestID&, std::shared_ptr<Response>) {
            secondCameFirst = secondDone.PassThroughUntil(Clock::now() + 10s) && std::this_thread::get_id() != firstThread;
        },
        Str(server_.Url("/status/200")), {}, {}));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(processor_->Get(RequestID::CreateUnique(), [&](const RequestID&, std::shared_ptr<Response>) { secondDone.Open(); },
                                Str(server_.Url("/status/201")), {}, {}));
    processor_.reset();  // waits for both completions
    EXPECT_TRUE(secondCameFirst.load());
}

TEST_F(RequestProcessorTest, RefusesMalformedRequestsAndIdsInFlight) {
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(Get(id, server_.Url("/hold")));
    EXPECT_FALSE(Get(id, server_.Url("/status/200")));
    for (const char* bad : {"", "no-scheme/path", "ftp://127.0.0.1/x", "http://", "file:///etc/passwd"}) {
        EXPECT_FALSE(Get(RequestID::CreateUnique(), bad)) << bad;
    }
    for (const HeaderMap& bad : {HeaderMap{{Str("X-A"), Str("v\r\nX-Injected: 1")}}, HeaderMap{{Str("Bad Name"), Str("v")}},
                                 HeaderMap{{Str("X-Same"), Str("1")}, {Str("x-same"), Str("2")}}}) {
        EXPECT_FALSE(processor_->Get(RequestID::CreateUnique(), completions_.Callback(), Str(server_.Url("/echo")), bad, {}));
    }
    ASSERT_TRUE(server_.WaitUntilHolding(1));
    server_.Release();
    ASSERT_TRUE(completions_.WaitFor(1));
    EXPECT_TRUE(Get(id, server_.Url("/status/200")));  // finished: the id is free again
    processor_.reset();
    EXPECT_EQ(completions_.Count(), 2u);
}

TEST_F(RequestProcessorTest, MappedOriginsReachTheLocalServer) {
    SetOriginMapping("https://open.example.test", server_.Origin());
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(Get(id, "https://open.example.test/echo?fields=profile_deep_link"));
    ASSERT_TRUE(completions_.WaitFor(1));
    ClearOriginMappings();
    EXPECT_EQ(completions_.For(id)->status, 200u);
    EXPECT_EQ(server_.Seen().at(0).target, "/echo?fields=profile_deep_link");
}

TEST_F(RequestProcessorTest, ReleasingAProcessorCompletesWhatIsInFlight) {
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(Get(id, server_.Url("/hold")));
    ASSERT_TRUE(server_.WaitUntilHolding(1));
    processor_.reset();
    EXPECT_EQ(completions_.TimesFor(id), 1u);
    EXPECT_EQ(completions_.For(id)->status, kStatusNoResponse);
}

TEST_F(RequestProcessorTest, TheLastReferenceMayGoInsideItsOwnCompletion) {
    talcore::threads::Gate released;
    auto holder = std::make_shared<std::shared_ptr<RequestProcessor>>(std::move(processor_));
    ASSERT_TRUE((*holder)->Get(
        RequestID::CreateUnique(),
        [holder, &released](const RequestID&, std::shared_ptr<Response>) {
            holder->reset();
            released.Open();
        },
        Str(server_.Url("/status/200")), {}, {}));
    ASSERT_TRUE(released.PassThroughUntil(Clock::now() + 10s));
}

TEST(GlobalRequestProcessor, ProcessExitWithRequestsInFlightNeitherHangsNorCrashes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::alarm(20);  // a hang fails the test instead of stalling it
            RawServer silent(RawServer::Mode::Silent);
            RecordingServer server;
            auto processor = GetGlobalRequestProcessor();
            talcore::threads::Gate running;
            processor->Get(RequestID::CreateUnique(), [](const RequestID&, std::shared_ptr<Response>) {}, Str(silent.Url("/")), {}, {});
            processor->Get(
                RequestID::CreateUnique(),
                [&running](const RequestID&, std::shared_ptr<Response>) {
                    running.Open();
                    std::this_thread::sleep_for(100ms);  // still running when exit begins
                },
                Str(server.Url("/status/200")), {}, {});
            running.PassThroughUntil(Clock::now() + 10s);
            std::exit(processor == GetGlobalRequestProcessor() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
