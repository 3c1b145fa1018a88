#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>

#include "talcore/debug/Trace.h"
#include "talcore/threads/Gate.h"
#include "talnet/Headers.h"
#include "talnet/http/OriginMap.h"
#include "tests/network/LocalServers.h"

namespace {

using namespace std::chrono_literals;
using namespace talnet::http;
using vekta::test::RawServer;
using vekta::test::RecordingServer;
using vekta::test::StreamingServer;
using Clock = std::chrono::steady_clock;

talcore::utility::ImmutableString Str(const std::string& text) { return talcore::utility::ImmutableString(text); }
Body MakeBody(const std::string& bytes) { return std::make_shared<talcore::allocator::RecycledMemory>(bytes); }

// The network's trace at full detail, in a file of its own while this lives.
class TraceCapture {
public:
    TraceCapture() { talcore::debug::SetTraceConfig("Network:7", file_.string()); }
    ~TraceCapture() {
        talcore::debug::SetTraceConfig("");
        std::filesystem::remove(file_);
    }
    // Ends the trace and reads what it wrote.
    std::string Text() const {
        talcore::debug::SetTraceConfig("");
        std::ifstream in(file_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    const std::filesystem::path file_ = std::filesystem::temp_directory_path() /
                                        ("processor-trace-" + RequestID::CreateUnique().AsUTF8String() + ".txt");
};

class RequestProcessorTest : public ::testing::Test {
protected:
    bool Get(const RequestID& id, const std::string& url, const RequestOptions& options = {}) {
        return processor_->Get(id, completions_.Callback(), Str(url), {}, options);
    }

    // Declared in this order so that the processor goes first and closes its connections.
    RecordingServer server_;
    vekta::test::Completions completions_;
    std::shared_ptr<RequestProcessor> processor_ = CreateRequestProcessor();
};

// Every answer, and every failure to get one (a reset, silence, a failed TLS handshake), completes
// with its status; no HTTP answer at all is kStatusNoResponse. A slow answer is not cut short by
// the inactivity limit that ends a silent one.
TEST_F(RequestProcessorTest, EachAnswerOrFailureCompletesWithItsStatus) {
    RawServer reset(true), silent(false);
    RequestOptions options;
    options.lowSpeedTimeoutSeconds = 1;
    const std::tuple<std::string, std::uint32_t, std::string> cases[] = {
        {server_.Url("/status/200"), 200, "status 200"},
        {server_.Url("/status/204"), 204, ""},
        {server_.Url("/status/300"), 300, "status 300"},
        {server_.Url("/status/500"), 500, "status 500"},
        {server_.Url("/slow/300"), 200, "slow"},
        {reset.Url("/reset"), kStatusNoResponse, ""},
        {silent.Url("/silent"), kStatusNoResponse, ""},
        // TLS with a server that speaks plain HTTP: the handshake fails, nothing is answered.
        {"https" + server_.Origin().substr(4) + "/status/200", kStatusNoResponse, ""},
    };
    std::vector<RequestID> ids;
    for (const auto& [url, status, body] : cases) {
        ids.push_back(RequestID::CreateUnique());
        ASSERT_TRUE(Get(ids.back(), url, options));
    }
    ASSERT_TRUE(completions_.WaitFor(std::size(cases)));
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const auto& [url, status, body] = cases[i];
        EXPECT_EQ(completions_.For(ids[i]).at(0)->status, status) << url;
        EXPECT_TRUE(completions_.For(ids[i]).at(0)->body == body) << url;
    }
}

// The caller's headers replace the library's own: the body's true size, no invented form type for a
// POST, no "Expect: 100-continue" round trip. None can smuggle in another header; nothing but
// http(s) is fetched. Requests one after the other share a connection.
TEST_F(RequestProcessorTest, CallerHeadersReplaceTheLibrarysOnTheWireOverOneConnection) {
    std::string bytes(1u << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 7);
    const HeaderMap headers = {{Str(talnet::kHEADER_CONTENT_TYPE), Str("video/mp4")},
                               {Str("content-length"), Str("999")},  // wrong: the body's size wins
                               {Str(talnet::kHEADER_CONTENT_RANGE), Str("bytes 0-1048575/12000000")}};
    const HeaderMap injected = {{Str("X-A"), Str("v\r\nX-Injected: 1")}};
    EXPECT_FALSE(
        processor_->Get(RequestID::CreateUnique(), completions_.Callback(), Str(server_.Url("/echo")), injected, {}));
    EXPECT_FALSE(Get(RequestID::CreateUnique(), "file:///etc/passwd"));
    ASSERT_TRUE(processor_->Put(RequestID::CreateUnique(), completions_.Callback(), Str(server_.Url("/echo")),
                                MakeBody(bytes), headers, {}));
    ASSERT_TRUE(completions_.WaitFor(1));
    ASSERT_TRUE(processor_->Post(RequestID::CreateUnique(), completions_.Callback(), Str(server_.Url("/echo")), Body(),
                                 {}, {}));
    ASSERT_TRUE(completions_.WaitFor(2));
    const auto seen = server_.Seen();
    const auto& put = seen.at(0);
    EXPECT_EQ(put.method, "PUT");
    EXPECT_TRUE(put.body == bytes);
    EXPECT_EQ(put.HeaderCount("content-type"), 1u);
    EXPECT_EQ(put.Header("content-type"), "video/mp4");
    EXPECT_EQ(put.Header("content-range"), "bytes 0-1048575/12000000");
    EXPECT_EQ(put.HeaderCount("content-length"), 1u);
    EXPECT_EQ(put.Header("content-length"), std::to_string(bytes.size()));
    const auto& post = seen.at(1);
    EXPECT_EQ(post.Header("content-length"), "0");
    EXPECT_FALSE(post.HasHeader("content-type"));
    for (const auto& request : seen)
        EXPECT_FALSE(request.HasHeader("expect") || request.HasHeader("transfer-encoding"));
    EXPECT_EQ(put.remotePort, post.remotePort);
}

// A request whose connection, reused from the one before, closes before it is answered ends
// unanswered; it is not sent again on its own, since the server may have acted on it.
TEST_F(RequestProcessorTest, ARequestLeftUnansweredOnAReusedConnectionIsNotSentAgain) {
    const RequestID first = RequestID::CreateUnique(), dropped = RequestID::CreateUnique();
    ASSERT_TRUE(Get(first, server_.Url("/status/200")));
    ASSERT_TRUE(completions_.WaitFor(1));
    ASSERT_TRUE(
        processor_->Post(dropped, completions_.Callback(), Str(server_.Url("/drop")), MakeBody("once"), {}, {}));
    ASSERT_TRUE(completions_.WaitFor(2));
    EXPECT_EQ(completions_.For(dropped).at(0)->status, kStatusNoResponse);
    const auto seen = server_.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].remotePort, seen[1].remotePort);
}

// Cancelled before any answer, or still in flight when the processor goes: one completion each.
// An id is refused while in flight and free again once completed.
TEST_F(RequestProcessorTest, CancelAndReleaseCompleteEachRequestOnceWithNoResponse) {
    RawServer silent(false);
    const RequestID cancelled = RequestID::CreateUnique(), held = RequestID::CreateUnique();
    ASSERT_TRUE(Get(cancelled, silent.Url("/never")));
    ASSERT_TRUE(Get(held, silent.Url("/never")));
    EXPECT_FALSE(Get(held, server_.Url("/status/200")));
    for (const auto limit = Clock::now() + 10s; silent.Accepted() < 2 && Clock::now() < limit;)
        std::this_thread::sleep_for(5ms);
    processor_->Cancel(cancelled);
    processor_->Cancel(cancelled);
    ASSERT_TRUE(completions_.WaitFor(1));
    processor_->Cancel(cancelled);                  // finished: ignored
    processor_->Cancel(RequestID::CreateUnique());  // unknown: ignored
    EXPECT_TRUE(Get(cancelled, server_.Url("/status/200")));
    ASSERT_TRUE(completions_.WaitFor(2));
    processor_.reset();  // completes what is still in flight
    ASSERT_EQ(completions_.For(cancelled).size(), 2u);
    EXPECT_EQ(completions_.For(cancelled).at(0)->status, kStatusNoResponse);
    EXPECT_EQ(completions_.For(cancelled).at(1)->status, 200u);
    ASSERT_EQ(completions_.For(held).size(), 1u);
    EXPECT_EQ(completions_.For(held).at(0)->status, kStatusNoResponse);
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
    for (const auto& id : ids) {
        const auto got = completions_.For(id);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_TRUE(got[0]->status == 200u || got[0]->status == kStatusNoResponse);
    }
}

// An answer past the request's limit, whether its size was announced or not, ends the request as
// unanswered, keeps nothing of it, stops reading it, and the trace says why. Smaller answers, and
// requests without a limit, are not touched.
TEST_F(RequestProcessorTest, AnAnswerPastTheRequestsLimitEndsItAsUnansweredAndIsNotKept) {
    constexpr std::uint64_t kHuge = 400ull << 20;
    constexpr std::uint64_t kLimit = 1u << 20;
    StreamingServer announced(kHuge, false), chunked(kHuge, true);
    const TraceCapture trace;
    RequestOptions limited;
    limited.maxResponseBytes = kLimit;
    const RequestID announcedID = RequestID::CreateUnique(), chunkedID = RequestID::CreateUnique(),
                    smallID = RequestID::CreateUnique();
    ASSERT_TRUE(Get(announcedID, announced.Url("/huge"), limited));
    ASSERT_TRUE(Get(chunkedID, chunked.Url("/huge"), limited));
    ASSERT_TRUE(Get(smallID, server_.Url("/status/200"), limited));
    ASSERT_TRUE(completions_.WaitFor(3));
    const std::string traced = trace.Text();

    for (const auto& [id, server] : {std::pair{announcedID, &announced}, std::pair{chunkedID, &chunked}}) {
        const auto response = completions_.For(id).at(0);
        EXPECT_EQ(response->status, kStatusNoResponse);
        EXPECT_TRUE(response->body.empty());
        EXPECT_TRUE(response->headers.empty());
        // What the socket buffers hold at most; the rest was never asked for.
        EXPECT_LT(server->Written(), kHuge / 4);
    }
    EXPECT_EQ(completions_.For(smallID).at(0)->status, 200u);
    EXPECT_NE(traced.find("answer larger than the limit of 1048576 bytes"), std::string::npos) << traced;
}

TEST_F(RequestProcessorTest, CompletionsSubmitTheNextRequestInAChainOf50) {
    std::atomic<int> done{0};
    talcore::threads::Gate finished;
    std::function<void()> next = [&] {
        const bool accepted = processor_->Put(RequestID::CreateUnique(),
                                              [&](const RequestID&, std::shared_ptr<Response> response) {
                                                  if (response->status == 200 && ++done < 50) return next();
                                                  finished.Open();
                                              },
                                              Str(server_.Url("/echo")), MakeBody("chunk"), {}, {});
        if (!accepted) finished.Open();
    };
    next();
    ASSERT_TRUE(finished.PassThroughUntil(Clock::now() + 30s));
    EXPECT_EQ(done.load(), 50);
}

// A completion that blocks must not hold back another request's completion.
TEST_F(RequestProcessorTest, ASlowCompletionDoesNotHoldBackOtherRequests) {
    talcore::threads::Gate secondDone;
    std::atomic<bool> secondCameFirst{false};
    ASSERT_TRUE(processor_->Get(RequestID::CreateUnique(),
                                [&](const RequestID&, std::shared_ptr<Response>) {
                                    secondCameFirst = secondDone.PassThroughUntil(Clock::now() + 10s);
                                },
                                Str(server_.Url("/status/200")), {}, {}));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(processor_->Get(RequestID::CreateUnique(),
                                [&](const RequestID&, std::shared_ptr<Response>) { secondDone.Open(); },
                                Str(server_.Url("/status/201")), {}, {}));
    processor_.reset();  // waits for both completions
    EXPECT_TRUE(secondCameFirst.load());
}

// A mapped origin reaches the local server with the path and query as given; the trace names the
// request but carries neither its query nor its headers' values.
TEST_F(RequestProcessorTest, MappedOriginsReachTheLocalServerAndTheTraceKeepsSecretsOut) {
    SetOriginMapping("https://open.example.test", server_.Origin());
    const TraceCapture capture;
    const RequestID id = RequestID::CreateUnique();
    const HeaderMap headers = {{Str(talnet::kHEADER_AUTHORIZATION), Str("Bearer act.header-secret")}};
    ASSERT_TRUE(processor_->Get(id, completions_.Callback(),
                                Str("https://open.example.test/status/200?fields=profile_deep_link&token=query-secret"),
                                headers, {}));
    ASSERT_TRUE(completions_.WaitFor(1));
    const std::string trace = capture.Text();
    ClearOriginMappings();
    EXPECT_EQ(completions_.For(id).at(0)->status, 200u);
    EXPECT_EQ(server_.Seen().at(0).target, "/status/200?fields=profile_deep_link&token=query-secret");
    EXPECT_EQ(server_.Seen().at(0).Header("authorization"), "Bearer act.header-secret");
    EXPECT_NE(trace.find("/status/200 -> 200"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("secret"), std::string::npos) << trace;
}

TEST_F(RequestProcessorTest, TheLastReferenceMayGoInsideItsOwnCompletion) {
    talcore::threads::Gate released;
    auto holder = std::make_shared<std::shared_ptr<RequestProcessor>>(std::move(processor_));
    ASSERT_TRUE((*holder)->Get(RequestID::CreateUnique(),
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
            std::thread([] {  // a hang fails the test instead of stalling it
                std::this_thread::sleep_for(20s);
                std::_Exit(3);
            })
                .detach();
            RawServer silent(false);
            RecordingServer server;
            auto processor = GetGlobalRequestProcessor();
            talcore::threads::Gate running;
            processor->Get(RequestID::CreateUnique(), [](const RequestID&, std::shared_ptr<Response>) {},
                           Str(silent.Url("/")), {}, {});
            processor->Get(RequestID::CreateUnique(),
                           [&running](const RequestID&, std::shared_ptr<Response>) {
                               running.Open();
                               std::this_thread::sleep_for(100ms);  // still running when exit begins
                           },
                           Str(server.Url("/status/200")), {}, {});
            running.PassThroughUntil(Clock::now() + 10s);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
