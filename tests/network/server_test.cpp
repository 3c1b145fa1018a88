#include <gtest/gtest.h>

#include <map>

#include "local_servers.h"
#include "talnet/http/server/Server.h"

namespace {

using namespace std::chrono_literals;
using namespace talnet::http::server;
using Clock = std::chrono::steady_clock;

// A service whose answer the test writes as a function.
class ScriptedService final : public Service {
public:
    using Script = std::function<void(const Request&, std::shared_ptr<MutableResponse>, ServiceCompletion)>;
    explicit ScriptedService(Script script) : script_(std::move(script)) {}
    void Handle(const Request& request, std::shared_ptr<MutableResponse> response, ServiceCompletion completion) override {
        ++calls;
        script_(request, std::move(response), std::move(completion));
    }
    std::string GetPath() const override { return "/VektaAuthTikTok"; }
    std::atomic<int> calls{0};

private:
    Script script_;
};

std::shared_ptr<ScriptedService> Answering(int status, const std::string& payload) {
    return std::make_shared<ScriptedService>([=](const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion done) {
        response->SetStatus(status);
        response->SetPayload(std::make_shared<const std::string>(payload), "text/html; charset=utf-8");
        done(response);
    });
}

int Connect(const char* address, std::uint16_t port) {
    sockaddr_in target = nettest::Loopback(port);
    ::inet_pton(AF_INET, address, &target.sin_addr);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) return fd;
    ::close(fd);
    return -1;
}

bool CanConnect(const char* address, std::uint16_t port) {
    const int fd = Connect(address, port);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

// Sends raw bytes; the status of the answer the server gives before it closes, or -1.
int RawStatus(std::uint16_t port, const std::string& request) {
    const int fd = Connect("127.0.0.1", port);
    if (fd < 0) return -1;
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    for (const auto limit = Clock::now() + 10s; Clock::now() < limit;) {
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, 200) <= 0) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer.starts_with("HTTP/1.1 ") && answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : -1;
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(server_.Start(), 200); }
    httplib::Client Client() {
        httplib::Client client("127.0.0.1", server_.GetPort());
        client.set_read_timeout(10, 0);
        client.set_url_encode(false);  // the target exactly as the test wrote it
        return client;
    }
    Server server_{0, false, -1};
};

TEST_F(ServerTest, ServesARegisteredPathWithTheFormDecodedQuery) {
    std::map<std::string, std::string> seen;
    auto service = std::make_shared<ScriptedService>([&](const Request& request, std::shared_ptr<MutableResponse> response,
                                                         ServiceCompletion done) {
        for (const char* name : {"code", "state", "empty", "odd", "absent"}) {
            if (std::string value; request.GetQueryParameter(name, value)) seen[name] = value;
        }
        response->SetHeader("Cache-Control", "no-store");
        response->SetHeader("X-Bad", "a\r\nSet-Cookie: injected=1");
        response->SetPayload(std::make_shared<const std::string>("<html>done</html>"), "text/html; charset=utf-8");
        done(response);
    });
    server_.RegisterService(service->GetPath(), service);
    auto result = Client().Get("/VektaAuthTikTok?code=a%2Fb+c&state=%E2%9C%93&empty=&odd=100%25+%zz%4&code=second");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->body, "<html>done</html>");
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(result->get_header_value("Cache-Control"), "no-store");
    EXPECT_FALSE(result->has_header("X-Bad") || result->has_header("Set-Cookie"));
    EXPECT_EQ(seen, (std::map<std::string, std::string>{
                        {"code", "a/b c"}, {"state", "\xE2\x9C\x93"}, {"empty", ""}, {"odd", "100% %zz%4"}}));
}

TEST_F(ServerTest, RefusesUnknownPathsAndMalformedOrOversizedRequestsBeforeAnyService) {
    auto service = Answering(200, "ok");
    server_.RegisterService("/VektaAuthTikTok", service);
    const std::string get = "GET /VektaAuthTikTok?code=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const std::string third(3000, 'a');
    const std::pair<std::string, int> cases[] = {
        {"GET /other HTTP/1.1\r\n\r\n", 404},
        {"GET /VektaAuthTikTok/more HTTP/1.1\r\n\r\n", 404},
        {"GET /vektaauthtiktok HTTP/1.1\r\n\r\n", 404},
        {"NONSENSE\r\n\r\n", 400},
        {"BREW /VektaAuthTikTok HTTP/1.1\r\n\r\n", 400},
        {get + "X-Long: " + std::string(9000, 'a') + "\r\n\r\n", 400},                              // one line over 8 KiB
        {get + "X-1: " + third + "\r\nX-2: " + third + "\r\nX-3: " + third + "\r\n\r\n", 431},  // over 8 KiB in all
        {get + "Content-Length: 100000\r\n\r\n", 413},
        {get + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 413},
    };
    for (const auto& [request, status] : cases) EXPECT_EQ(RawStatus(server_.GetPort(), request), status) << request.substr(0, 40);
    EXPECT_EQ(service->calls.load(), 0);
    EXPECT_EQ(RawStatus(server_.GetPort(), get + "\r\n"), 200);
}

TEST_F(ServerTest, APortBelongsToOneListenerAtATime) {
    const std::uint16_t port = server_.GetPort();
    EXPECT_TRUE(CanConnect("127.0.0.1", port));
    EXPECT_FALSE(CanConnect("127.0.0.2", port));  // bound to 127.0.0.1 only
    Server second(port, false, -1);
    EXPECT_NE(second.Start(), 200);
    for (int reuse : {0, 1}) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        const sockaddr_in address = nettest::Loopback(port);
        EXPECT_NE(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << reuse;
        ::close(fd);
    }
    server_.Stop();
    Server third(port, false, -1);  // free again at once
    EXPECT_EQ(third.Start(), 200);

    // Nor does it start next to another program's wildcard listener, or as a TLS server.
    third.Stop();
    const int wildcard = ::socket(AF_INET, SOCK_STREAM, 0);
    int reuse = 1;
    ::setsockopt(wildcard, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in any = nettest::Loopback(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(wildcard, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(::listen(wildcard, 4), 0);
    EXPECT_NE(Server(port, false, -1).Start(), 200);
    ::close(wildcard);
    EXPECT_NE(Server(0, true, -1).Start(), 200);
}

TEST_F(ServerTest, WaitsForACompletionFromAnotherThreadWithinItsLimit) {
    server_.SetServiceTimeout(300ms);
    std::thread worker;
    ServiceCompletion kept;
    std::shared_ptr<MutableResponse> keptResponse;
    server_.RegisterService("/later", std::make_shared<ScriptedService>([&](const Request&, std::shared_ptr<MutableResponse> response,
                                                                           ServiceCompletion done) {
        worker = std::thread([response, done] {
            std::this_thread::sleep_for(100ms);
            response->SetStatus(202);
            done(response);
        });
    }));
    server_.RegisterService("/never", std::make_shared<ScriptedService>([&](const Request&, std::shared_ptr<MutableResponse> response,
                                                                           ServiceCompletion done) {
        kept = std::move(done);
        keptResponse = std::move(response);
    }));
    server_.RegisterService("/throws", std::make_shared<ScriptedService>([](const Request&, std::shared_ptr<MutableResponse>,
                                                                            ServiceCompletion) { throw std::runtime_error("boom"); }));
    auto client = Client();
    auto later = client.Get("/later");
    worker.join();
    auto never = client.Get("/never");
    auto throws = client.Get("/throws");
    ASSERT_TRUE(later && never && throws);
    EXPECT_EQ(later->status, 202);
    EXPECT_EQ(never->status, 500);
    EXPECT_EQ(throws->status, 500);
    EXPECT_FALSE(throws->has_header("EXCEPTION_WHAT"));
    kept(keptResponse);  // completing after the answer went out changes nothing
}

TEST_F(ServerTest, StopReleasesAWaitingRequestAndJoinsPromptly) {
    std::atomic<bool> entered{false};
    server_.RegisterService("/VektaAuthTikTok", std::make_shared<ScriptedService>([&](const Request&, std::shared_ptr<MutableResponse>,
                                                                                     ServiceCompletion) { entered = true; }));
    const int idle = Connect("127.0.0.1", server_.GetPort());  // a connection that never sends a request
    int status = 0;
    std::thread client([&, port = server_.GetPort()] { status = RawStatus(port, "GET /VektaAuthTikTok HTTP/1.1\r\n\r\n"); });
    for (const auto limit = Clock::now() + 10s; !entered && Clock::now() < limit;) std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(entered);
    const auto start = Clock::now();
    server_.Stop();
    EXPECT_LT(Clock::now() - start, 5s);  // neither the 30 s service limit nor the idle connection
    client.join();
    ::close(idle);
    EXPECT_EQ(status, 503);
    EXPECT_FALSE(CanConnect("127.0.0.1", server_.GetPort()));
    server_.Stop();  // again: nothing to do
}

}  // namespace
