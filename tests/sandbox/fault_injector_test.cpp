// Injected faults: answers replaced N times, delays, drops, resets, cut-off and rewritten answers,
// hangs cut by Stop, and uploads.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <future>

#include "tests/sandbox/SandboxTestSupport.h"

namespace vekta::test {

using namespace vekta::sandbox;
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const std::string kUserInfo = "/v2/user/info/?fields=open_id";

struct FaultFixture {
    FaultFixture() : tokens(SignIn(running)), client(running.NewClient()) {}
    httplib::Result UserInfo() { return client->Get(kUserInfo, Bearer(tokens.accessToken)); }
    // The fault and the status the request log gives each user-info call.
    std::vector<std::pair<std::string, int>> LoggedUserInfo() const {
        std::vector<std::pair<std::string, int>> logged;
        for (const auto& record : running.sandbox.Requests())
            if (record.endpoint == "user_info") logged.emplace_back(record.fault, record.status);
        return logged;
    }
    RunningSandbox running;
    Tokens tokens;
    std::unique_ptr<httplib::Client> client;
};

// Faults on one endpoint take its next calls in the order queued, then it answers normally.
TEST(FaultInjectorTest, QueuedFaultsReplaceTheNextCallsInOrder) {
    FaultFixture f;
    FaultInjector& faults = f.running.sandbox.Faults();
    faults.Add(Endpoint::UserInfo, Fault::Respond(503, R"({"oops":1})").Times(2));
    faults.Add(Endpoint::UserInfo, Fault::Respond(200, R"({"error":{"code":"internal_error"}})"));
    faults.Add(Endpoint::UserInfo, Fault::Delay(milliseconds(300)));
    faults.Add(Endpoint::UserInfo, Fault::Drop());
    const std::pair<int, std::string> expected[] = {{503, R"({"oops":1})"},
                                                    {503, R"({"oops":1})"},
                                                    {200, R"({"error":{"code":"internal_error"}})"},
                                                    {200, "ok"},
                                                    {-1, ""},
                                                    {200, "ok"}};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto start = steady_clock::now();
        auto res = f.UserInfo();
        const std::string body = res ? res->body : "";
        EXPECT_EQ(StatusOf(res), expected[i].first) << i;
        EXPECT_TRUE(expected[i].second == "ok" ? ParseJson(body)["error"]["code"] == "ok" : body == expected[i].second)
            << i << ": " << body;
        EXPECT_TRUE(i != 3 || steady_clock::now() - start >= milliseconds(300)) << "no delay";
    }
    EXPECT_EQ(f.LoggedUserInfo(),
              (std::vector<std::pair<std::string, int>>{
                  {"respond", 503}, {"respond", 503}, {"respond", 200}, {"delay", 200}, {"drop", 0}, {"", 200}}));
}

struct RawExchange {
    std::string received;  // every byte that came back
    int endError = 0;      // 0 when the stream ended in order, else the errno of the failed read
};

// One request written on a plain socket, and everything that comes back until the connection ends.
RawExchange SendRaw(std::uint16_t port, const std::string& request) {
    RawExchange result;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        result.endError = errno;
    } else {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got > 0) {
                result.received.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            result.endError = got == 0 ? 0 : errno;
            break;
        }
    }
    ::close(fd);
    return result;
}

// What the client sees on the wire: a reset with no byte before it; a cut-off answer whose head
// announces more than the orderly end lets through; the real answer under another status.
TEST(FaultInjectorTest, ResetTruncateAndRewriteShapeTheWireAsNamed) {
    FaultFixture f;
    FaultInjector& faults = f.running.sandbox.Faults();
    const std::string request = "GET " + kUserInfo + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                                f.tokens.accessToken + "\r\nConnection: close\r\n\r\n";
    faults.Add(Endpoint::UserInfo, Fault::Reset());
    const RawExchange reset = SendRaw(f.running.sandbox.Port(), request);
    EXPECT_EQ(reset.received, "");
    EXPECT_EQ(reset.endError, ECONNRESET);

    faults.Add(Endpoint::UserInfo, Fault::Truncate(200, R"({"data":{"user":{"open_id":"0123456789"}}})"));
    const RawExchange truncated = SendRaw(f.running.sandbox.Port(), request);
    EXPECT_EQ(truncated.endError, 0);
    EXPECT_EQ(truncated.received.rfind("HTTP/1.1 200 ", 0), 0u) << truncated.received;
    EXPECT_NE(truncated.received.find("Content-Length: 42\r\n"), std::string::npos) << truncated.received;
    EXPECT_EQ(truncated.received.substr(truncated.received.find("\r\n\r\n") + 4), R"({"data":{"user":{"ope)");

    faults.Add(Endpoint::UserInfo, Fault::Rewrite(201));
    auto rewritten = f.UserInfo();
    ASSERT_TRUE(rewritten);
    EXPECT_EQ(rewritten->status, 201);
    const Json body = ParseJson(rewritten->body);
    EXPECT_FALSE(body["data"]["user"].value("open_id", "").empty()) << rewritten->body;
    EXPECT_EQ(body["error"]["code"], "ok");

    EXPECT_EQ(f.LoggedUserInfo(),
              (std::vector<std::pair<std::string, int>>{{"reset", 0}, {"truncate", 200}, {"rewrite", 201}}));
}

TEST(FaultInjectorTest, StopEndsAHangAndIdleConnectionsPromptly) {
    RunningSandbox running;
    running.sandbox.Faults().Add(Endpoint::Authorize, Fault::Hang());
    auto hung = running.NewClient();
    auto answer = std::async(std::launch::async, [&] { return hung->Get("/v2/auth/authorize/"); });
    ASSERT_TRUE(running.sandbox.Faults().WaitUntilHanging(1, kTimeout));
    auto idle = running.NewClient();
    idle->set_keep_alive(true);
    ASSERT_TRUE(idle->Get("/_sandbox/health"));

    const auto start = steady_clock::now();
    running.sandbox.Stop();
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_EQ(answer.wait_for(kTimeout), std::future_status::ready);
    EXPECT_FALSE(answer.get());
}

TEST(FaultInjectorTest, UploadFaultReadsTheChunkAwaySoTheConnectionStaysUsable) {
    FaultFixture f;
    const std::string video = TestBytes(3000000);
    const OpenedUpload upload = OpenUpload(f.running, f.tokens.accessToken, video.size(), video.size(), 1);
    f.running.sandbox.Faults().Add(Endpoint::UploadChunk, Fault::Respond(500, R"({"error":{"code":"internal"}})"));
    f.client->set_keep_alive(true);
    EXPECT_EQ(StatusOf(PutChunk(*f.client, upload.target, video, 0, video.size() - 1, video.size())), 500);
    EXPECT_EQ(StatusOf(PutChunk(*f.client, upload.target, video, 0, video.size() - 1, video.size())), 201);
    EXPECT_TRUE(f.running.sandbox.Upload(upload.uploadId)->complete);
}

}  // namespace
}  // namespace vekta::test
