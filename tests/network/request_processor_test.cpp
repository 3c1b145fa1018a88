#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "local_servers.h"
#include "talcore/threads/Gate.h"
#include "talnet/Headers.h"
#include "talnet/http/OriginMap.h"
#include "talnet/http/RequestProcessor.h"

namespace {

using namespace std::chrono_literals;
using namespace talnet::http;
using nettest::Completions;
using nettest::RawServer;
using nettest::RecordingServer;
using talcore::utility::ImmutableString;

ImmutableString Str(const std::string& text) { return ImmutableString(text); }

Body MakeBody(const std::string& bytes) { return std::make_shared<talcore::allocator::RecycledMemory>(bytes); }

class RequestProcessorTest : public ::testing::Test {
protected:
    // Declared in this order so the processor goes first and closes its connections.
    RecordingServer server_;
    Completions completions_;
    std::shared_ptr<RequestProcessor> processor_ = CreateRequestProcessor();
};

TEST_F(RequestProcessorTest, GetDeliversStatusBodyAndLowerCaseHeadersOnAnotherThread) {
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(processor_->Get(id, completions_.Callback(), Str(server_.Url("/echo")), {}, {}));
    ASSERT_TRUE(completions_.WaitFor(1));
    const auto response = completions_.For(id);
    EXPECT_EQ(response->status, 200u);
    EXPECT_EQ(response->headers.count("x-echo-length"), 1u);
    EXPECT_EQ(response->headers.find("content-type")->second, "application/octet-stream");
    EXPECT_EQ(completions_.Threads().count(std::this_thread::get_id()), 0u);
}

TEST_F(RequestProcessorTest, StatusesOtherThan200AreReportedAsTheyCame) {
    const std::uint32_t statuses[] = {204, 299, 300, 404, 500, 503};
    std::vector<RequestID> ids;
    for (const auto status : statuses) {
        ids.push_back(RequestID::CreateUnique());
        ASSERT_TRUE(processor_->Get(ids.back(), completions_.Callback(),
                                    Str(server_.Url("/status/" + std::to_string(status))), {}, {}));
    }
    ASSERT_TRUE(completions_.WaitFor(std::size(statuses)));
    for (std::size_t i = 0; i < std::size(statuses); ++i) {
        const auto response = completions_.For(ids[i]);
        EXPECT_EQ(response->status, statuses[i]);
        EXPECT_EQ(response->body, statuses[i] == 204 ? "" : "status " + std::to_string(statuses[i]));
    }
}

TEST_F(RequestProcessorTest, LargeAndSlowAnswersArriveWhole) {
    const RequestID large = RequestID::CreateUnique();
    const RequestID slow = RequestID::CreateUnique();
    constexpr std::size_t kLargeBytes = 24u << 20;
    ASSERT_TRUE(processor_->Get(large, completions_.Callback(), Str(server_.Url("/large/" + std::to_string(kLargeBytes))), {}, {}));
    ASSERT_TRUE(processor_->Get(slow, completions_.Callback(), Str(server_.Url("/slow/400")), {}, {}));
    ASSERT_TRUE(completions_.WaitFor(2));
    EXPECT_EQ(completions_.For(large)->status, 200u);
    EXPECT_TRUE(completions_.For(large)->body == RecordingServer::Pattern(kLargeBytes));
    EXPECT_EQ(completions_.For(slow)->body, "slow");
}

TEST_F(RequestProcessorTest, PutSendsTheBodyByteExactWithOnlyTheCallersHeaders) {
    std::string bytes(5u << 20, '\0');
    std::mt19937 random(7);
    for (auto& b : bytes) b = static_cast<char>(random());
    const HeaderMap headers = {
        {Str(talnet::kHEADER_CONTENT_TYPE), Str("video/mp4")},
        {Str(talnet::kHEADER_CONTENT_LENGTH), Str(std::to_string(bytes.size()))},
        {Str(talnet::kHEADER_CONTENT_RANGE), Str("bytes 0-5242879/12000000")},
        {Str(talnet::kHEADER_AUTHORIZATION), Str("Bearer secret")},
    };
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(processor_->Put(id, completions_.Callback(), Str(server_.Url("/echo")), MakeBody(bytes), headers, {}));
    ASSERT_TRUE(completions_.WaitFor(1));
    EXPECT_EQ(completions_.For(id)->status, 200u);

    const auto seen = server_.Seen();
    ASSERT_EQ(seen.size(), 1u);
    const auto& put = seen[0];
    EXPECT_EQ(put.method, "PUT");
    EXPECT_TRUE(put.body == bytes);
    EXPECT_EQ(put.Count("Content-Type"), 1u);
    EXPECT_EQ(put.Value("Content-Type"), "video/mp4");
    EXPECT_EQ(put.Count("Content-Length"), 1u);
    EXPECT_EQ(put.Value("Content-Length"), std::to_string(bytes.size()));
    EXPECT_EQ(put.Count("Content-Range"), 1u);
    EXPECT_EQ(put.Value("Content-Range"), "bytes 0-5242879/12000000");
    EXPECT_EQ(put.Count("Authorization"), 1u);
    EXPECT_EQ(put.Count("Expect"), 0u);
    EXPECT_EQ(put.Count("Transfer-Encoding"), 0u);
}

TEST_F(RequestProcessorTest, PostStatesTheBodySizeAndTheCallersTypeOnly) {
    const std::string form = "grant_type=authorization_code&code=a%2Fb";
    const RequestID withBody = RequestID::CreateUnique();
    const RequestID empty = RequestID::CreateUnique();
    const RequestID wrongLength = RequestID::CreateUnique();
    const HeaderMap formType = {{Str(talnet::kHEADER_CONTENT_TYPE), Str(talnet::kHEADER_CONTENT_TYPE_APPLICATION_WWW_FORM_URLENCODED)}};
    const HeaderMap jsonType = {{Str("content-type"), Str(talnet::kHEADER_CONTENT_TYPE_APPLICATION_JSON_UTF_8)},
                                {Str("Content-Length"), Str("999")}};
    ASSERT_TRUE(processor_->Post(withBody, completions_.Callback(), Str(server_.Url("/echo")), MakeBody(form), formType, {}));
    ASSERT_TRUE(completions_.WaitFor(1));
    ASSERT_TRUE(processor_->Post(empty, completions_.Callback(), Str(server_.Url("/echo")), nullptr, {}, {}));
    ASSERT_TRUE(completions_.WaitFor(2));
    ASSERT_TRUE(processor_->Post(wrongLength, completions_.Callback(), Str(server_.Url("/echo")), MakeBody("{}"), jsonType, {}));
    ASSERT_TRUE(completions_.WaitFor(3));
    EXPECT_EQ(completions_.For(withBody)->body, form);

    const auto seen = server_.Seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].body, form);
    EXPECT_EQ(seen[0].Count("Content-Type"), 1u);
    EXPECT_EQ(seen[0].Value("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(seen[0].Value("Content-Length"), std::to_string(form.size()));
    EXPECT_EQ(seen[0].Count("Expect"), 0u);
    // An empty POST names no type the caller did not give.
    EXPECT_EQ(seen[1].Value("Content-Length"), "0");
    EXPECT_EQ(seen[1].Count("Content-Type"), 0u);
    // A Content-Length that disagrees with the body never reaches the wire.
    EXPECT_EQ(seen[2].Count("Content-Length"), 1u);
    EXPECT_EQ(seen[2].Value("Content-Length"), "2");
    EXPECT_EQ(seen[2].Value("Content-Type"), "application/json; charset=UTF-8");
}

TEST_F(RequestProcessorTest, SequentialRequestsToOneOriginShareAConnection) {
    for (int i = 0; i < 6; ++i) {
        const RequestID id = RequestID::CreateUnique();
        ASSERT_TRUE(processor_->Put(id, completions_.Callback(), Str(server_.Url("/echo")), MakeBody("chunk"), {}, {}));
        ASSERT_TRUE(completions_.WaitFor(i + 1));
        ASSERT_EQ(completions_.For(id)->status, 200u);
    }
    std::set<int> ports;
    for (const auto& seen : server_.Seen()) ports.insert(seen.remotePort);
    EXPECT_EQ(ports.size(), 1u);
}

TEST_F(RequestProcessorTest, TransfersWithoutAnHttpAnswerCompleteWithNoResponse) {
    RawServer reset(RawServer::Mode::Reset);
    RawServer close(RawServer::Mode::Close);
    RawServer silent(RawServer::Mode::Silent);
    RequestOptions quickLowSpeed;
    quickLowSpeed.lowSpeedTimeoutSeconds = 1;
    const struct {
        std::string url;
        RequestOptions options;
    } cases[] = {
        {"http://127.0.0.1:" + std::to_string(nettest::ClosedPort()) + "/refused", {}},
        {reset.Url("/reset"), {}},
        {close.Url("/closed"), {}},
        {silent.Url("/silent"), quickLowSpeed},
    };
    std::vector<RequestID> ids;
    for (const auto& c : cases) {
        ids.push_back(RequestID::CreateUnique());
        ASSERT_TRUE(processor_->Put(ids.back(), completions_.Callback(), Str(c.url), MakeBody("data"), {}, c.options));
    }
    ASSERT_TRUE(completions_.WaitFor(std::size(cases)));
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(completions_.For(ids[i])->status, kStatusNoResponse) << cases[i].url;
    }
}

TEST_F(RequestProcessorTest, HttpsToAPlainServerFailsWithNoResponse) {
    const RequestID id = RequestID::CreateUnique();
    const std::string url = "https://127.0.0.1:" + server_.Origin().substr(std::string("http://127.0.0.1:").size()) + "/echo";
    ASSERT_TRUE(processor_->Get(id, completions_.Callback(), Str(url), {}, {}));
    ASSERT_TRUE(completions_.WaitFor(1));
    EXPECT_EQ(completions_.For(id)->status, kStatusNoResponse);
}

TEST_F(RequestProcessorTest, CancelBeforeAnyAnswerCompletesOnceWithNoResponse) {
    RawServer silent(RawServer::Mode::Silent);
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(processor_->Get(id, completions_.Callback(), Str(silent.Url("/never")), {}, {}));
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (silent.Accepted() == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(5ms);
    processor_->Cancel(id);
    processor_->Cancel(id);
    ASSERT_TRUE(completions_.WaitFor(1));
    EXPECT_EQ(completions_.For(id)->status, kStatusNoResponse);
    processor_->Cancel(id);                         // finished: ignored
    processor_->Cancel(RequestID::CreateUnique());  // unknown: ignored
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(completions_.TimesFor(id), 1u);
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
            if (random() % 4 != 0) std::this_thread::sleep_for(std::chrono::microseconds(random() % 400));
            processor_->Cancel(ids[i]);
        }
    });
    for (int i = 0; i < kRequests; ++i) {
        ASSERT_TRUE(processor_->Get(ids[i], completions_.Callback(), Str(server_.Url("/status/200")), {}, {}));
        submitted.store(i + 1);
    }
    canceller.join();
    ASSERT_TRUE(completions_.WaitFor(kRequests));
    std::this_thread::sleep_for(200ms);  // room for a duplicate to show up
    EXPECT_EQ(completions_.Count(), static_cast<std::size_t>(kRequests));
    for (const auto& id : ids) {
        ASSERT_EQ(completions_.TimesFor(id), 1u);
        const auto status = completions_.For(id)->status;
        EXPECT_TRUE(status == 200u || status == kStatusNoResponse) << status;
    }
}

TEST_F(RequestProcessorTest, CompletionsCanSubmitTheNextRequestInAChainOf50) {
    constexpr int kChain = 50;
    std::atomic<int> done{0};
    talcore::threads::Gate finished;
    auto step = std::make_shared<std::function<void()>>();
    *step = [&, weakStep = std::weak_ptr<std::function<void()>>(step)] {
        const RequestID id = RequestID::CreateUnique();
        const bool accepted = processor_->Put(
            id,
            [&, weakStep](const RequestID&, std::shared_ptr<Response> response) {
                if (response->status != 200) return finished.Open();
                if (++done == kChain) return finished.Open();
                if (auto again = weakStep.lock()) (*again)();
            },
            Str(server_.Url("/echo")), MakeBody(std::to_string(done.load())), {}, {});
        if (!accepted) finished.Open();
    };
    (*step)();
    ASSERT_TRUE(finished.PassThroughUntil(std::chrono::steady_clock::now() + 30s));
    EXPECT_EQ(done.load(), kChain);
}

TEST_F(RequestProcessorTest, ASlowCompletionDoesNotHoldBackOtherRequests) {
    talcore::threads::Gate secondDone;
    std::atomic<bool> sawSecondFirst{false};
    ASSERT_TRUE(processor_->Get(
        RequestID::CreateUnique(),
        [&](const RequestID&, std::shared_ptr<Response>) {
            sawSecondFirst = secondDone.PassThroughUntil(std::chrono::steady_clock::now() + 10s);
        },
        Str(server_.Url("/status/200")), {}, {}));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(processor_->Get(
        RequestID::CreateUnique(), [&](const RequestID&, std::shared_ptr<Response>) { secondDone.Open(); },
        Str(server_.Url("/status/201")), {}, {}));
    processor_.reset();  // waits for both completions
    EXPECT_TRUE(sawSecondFirst.load());
}

TEST_F(RequestProcessorTest, RefusesMalformedRequestsAndIdsInFlight) {
    const auto url = Str(server_.Url("/hold"));
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(processor_->Get(id, completions_.Callback(), url, {}, {}));
    EXPECT_FALSE(processor_->Get(id, completions_.Callback(), url, {}, {}));
    for (const char* bad : {"", "no-scheme/path", "ftp://127.0.0.1/x", "http://", "file:///etc/passwd"}) {
        EXPECT_FALSE(processor_->Get(RequestID::CreateUnique(), completions_.Callback(), Str(bad), {}, {})) << bad;
    }
    const HeaderMap injected = {{Str("X-A"), Str("v\r\nX-Injected: 1")}};
    EXPECT_FALSE(processor_->Get(RequestID::CreateUnique(), completions_.Callback(), url, injected, {}));
    const HeaderMap badName = {{Str("Bad Name"), Str("v")}};
    EXPECT_FALSE(processor_->Get(RequestID::CreateUnique(), completions_.Callback(), url, badName, {}));
    const HeaderMap twice = {{Str("X-Same"), Str("1")}, {Str("x-same"), Str("2")}};
    EXPECT_FALSE(processor_->Get(RequestID::CreateUnique(), completions_.Callback(), url, twice, {}));
    ASSERT_TRUE(server_.WaitUntilHolding(1, 10s));
    server_.Release();
    ASSERT_TRUE(completions_.WaitFor(1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(completions_.Count(), 1u);
    // Finished, the id may be used again.
    EXPECT_TRUE(processor_->Get(id, completions_.Callback(), Str(server_.Url("/status/200")), {}, {}));
    ASSERT_TRUE(completions_.WaitFor(2));
}

TEST_F(RequestProcessorTest, MappedOriginsReachTheLocalServer) {
    SetOriginMapping("https://open.example.test", server_.Origin());
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(processor_->Get(id, completions_.Callback(), Str("https://open.example.test/echo?fields=profile_deep_link"), {}, {}));
    ASSERT_TRUE(completions_.WaitFor(1));
    ClearOriginMappings();
    EXPECT_EQ(completions_.For(id)->status, 200u);
    const auto seen = server_.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, "/echo");
    EXPECT_EQ(seen[0].query, "fields=profile_deep_link");
}

TEST_F(RequestProcessorTest, ReleasingAProcessorCompletesWhatIsInFlight) {
    const RequestID id = RequestID::CreateUnique();
    ASSERT_TRUE(processor_->Get(id, completions_.Callback(), Str(server_.Url("/hold")), {}, {}));
    ASSERT_TRUE(server_.WaitUntilHolding(1, 10s));
    processor_.reset();
    EXPECT_EQ(completions_.TimesFor(id), 1u);
    EXPECT_EQ(completions_.For(id)->status, kStatusNoResponse);
}

TEST_F(RequestProcessorTest, ReleasingTheLastReferenceFromItsOwnCompletionIsSafe) {
    talcore::threads::Gate released;
    auto holder = std::make_shared<std::shared_ptr<RequestProcessor>>(std::move(processor_));
    ASSERT_TRUE((*holder)->Get(
        RequestID::CreateUnique(),
        [holder, &released](const RequestID&, std::shared_ptr<Response>) {
            holder->reset();  // the last reference goes on a completion thread
            released.Open();
        },
        Str(server_.Url("/status/200")), {}, {}));
    ASSERT_TRUE(released.PassThroughUntil(std::chrono::steady_clock::now() + 10s));
}

TEST(GlobalRequestProcessor, ProcessExitWithRequestsInFlightNeitherHangsNorCrashes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::alarm(20);  // a hang fails the test instead of stalling it
            RawServer silent(RawServer::Mode::Silent);
            RecordingServer server;
            auto processor = GetGlobalRequestProcessor();
            EXPECT_EQ(processor, GetGlobalRequestProcessor());
            talcore::threads::Gate running;
            processor->Get(RequestID::CreateUnique(), [](const RequestID&, std::shared_ptr<Response>) {},
                           Str(silent.Url("/never")), {}, {});
            processor->Get(
                RequestID::CreateUnique(),
                [&running](const RequestID&, std::shared_ptr<Response>) {
                    running.Open();
                    std::this_thread::sleep_for(100ms);  // still running when exit begins
                },
                Str(server.Url("/status/200")), {}, {});
            running.PassThroughUntil(std::chrono::steady_clock::now() + 10s);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
