#include <gtest/gtest.h>

#include <future>
#include <map>

#include "tests/network/ServerTestSupport.h"

namespace {

using namespace std::chrono_literals;
using namespace talnet::http::server;
using namespace vekta::test;

class ServerTest : public ServerFixture {};

TEST_F(ServerTest, ServesARegisteredPathWithTheFormDecodedQuery) {
    std::map<std::string, std::string> seen;
    Serve([&](const Request& request, std::shared_ptr<MutableResponse> response, ServiceCompletion done) {
        for (const char* name : {"code", "state", "absent"}) {
            if (std::string value; request.GetQueryParameter(name, value)) seen[name] = value;
        }
        response->SetHeader("X-Bad", "a\r\nSet-Cookie: injected=1");
        response->SetHeader("X-Bad:Name", "1");
        response->SetHeader("Content-Length", "1");  // the framing is the server's
        response->SetPayload(std::make_shared<const std::string>("<html>done</html>"), "text/html; charset=utf-8");
        done(response);
    });
    const auto answer =
        Raw(server_.GetPort(), "GET /VektaAuthTikTok?code=a%2Fb+c&state=100%25+%zz&code=second HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 ") && answer.ends_with("\r\n\r\n<html>done</html>")) << answer;
    for (const char* part : {"Content-Type: text/html; charset=utf-8\r\n", "\r\nContent-Length: 17\r\n"})
        EXPECT_NE(answer.find(part), std::string::npos) << part << " in " << answer;
    for (const char* part : {"Set-Cookie", "X-Bad", "Content-Length: 1\r\n"})
        EXPECT_EQ(answer.find(part), std::string::npos) << part << " in " << answer;
    EXPECT_EQ(seen, (std::map<std::string, std::string>{{"code", "a/b c"}, {"state", "100% %zz"}}));
}

// Unknown paths, malformed or oversized requests, a service that throws or never completes: each
// gets its error status, the first ones before any service runs.
TEST_F(ServerTest, RefusesWhatItCannotServeWithTheRightStatus) {
    server_.SetServiceTimeout(300ms);
    server_.RegisterService("/never", std::make_shared<ScriptedService>([](auto&&...) {}));
    server_.RegisterService("/throws",
                            std::make_shared<ScriptedService>([](auto&&...) { throw std::runtime_error("boom"); }));
    const std::string get = "GET /VektaAuthTikTok?code=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const std::string third(3000, 'a');
    const std::pair<std::string, int> cases[] = {
        {"GET /other HTTP/1.1\r\n\r\n", 404},
        {"GET /VektaAuthTikTok/more HTTP/1.1\r\n\r\n", 404},
        {"NONSENSE\r\n\r\n", 400},
        {get + "X-Long: " + std::string(9000, 'a') + "\r\n\r\n", 431},                          // one line over 8 KiB
        {get + "X-1: " + third + "\r\nX-2: " + third + "\r\nX-3: " + third + "\r\n\r\n", 431},  // over 8 KiB in all
        {get + "Content-Length: 100000\r\n\r\n", 413},                                          // no body is read
        {get + "Content-Length: 1\r\n\r\nx", 413},
        {get + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 413},
    };
    for (const auto& [request, status] : cases)
        EXPECT_EQ(RawStatus(server_.GetPort(), request), status) << request.substr(0, 40);
    EXPECT_EQ(service_->calls.load(), 0);
    EXPECT_EQ(RawStatus(server_.GetPort(), get + "Content-Length: 0\r\n\r\n"), 200);
    EXPECT_EQ(RawStatus(server_.GetPort(), "GET /never HTTP/1.1\r\n\r\n"), 500);
    EXPECT_EQ(RawStatus(server_.GetPort(), "GET /throws HTTP/1.1\r\n\r\n"), 500);
}

// Stop answers a request still with its service 503 and returns at once, held back neither by the
// 30 s service limit nor by a connection that never sent a request. The thread that completes the
// request late finds nothing left to do.
TEST_F(ServerTest, StopReleasesAWaitingRequestAndJoinsPromptly) {
    std::promise<std::pair<std::shared_ptr<MutableResponse>, ServiceCompletion>> handed;
    Serve([&handed](const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion done) {
        handed.set_value({std::move(response), std::move(done)});
    });
    const Client idle("127.0.0.1", server_.GetPort());
    ASSERT_TRUE(idle.Connected());
    auto status = std::async(std::launch::async, [port = server_.GetPort()] { return RawStatus(port, kValidRequest); });
    auto request = handed.get_future();
    ASSERT_EQ(request.wait_for(10s), std::future_status::ready);
    const auto start = Clock::now();
    server_.Stop();
    EXPECT_LT(Clock::now() - start, 5s);
    auto [response, done] = request.get();
    response->SetStatus(200);
    done(response);
    EXPECT_EQ(status.get(), 503);
    EXPECT_FALSE(CanConnect("127.0.0.1", server_.GetPort()));
    server_.Stop();  // again: nothing to do
}

// A taken port asks for the next one; a stopped listener gives its port back at once.
TEST_F(ServerTest, ATakenPortIsRefusedAndFreeAgainRightAfterStop) {
    const std::uint16_t port = server_.GetPort();
    EXPECT_EQ(Server(port, false, -1).Start(), 409);
    server_.Stop();
    EXPECT_EQ(Server(port, false, -1).Start(), 200);
}

}  // namespace
