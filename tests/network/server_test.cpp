#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <httplib.h>

#include "talnet/http/server/Server.h"

namespace {

using namespace std::chrono_literals;
using namespace talnet::http::server;
using Clock = std::chrono::steady_clock;

// A service whose answer a test writes as a function; it records what it was asked.
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

std::shared_ptr<ScriptedService> AnswerAtOnce(int status, std::string payload) {
    return std::make_shared<ScriptedService>(
        [status, payload = std::make_shared<const std::string>(std::move(payload))](
            const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion completion) {
            response->SetStatus(status);
            response->SetPayload(payload, "text/html; charset=utf-8");
            completion(response);
        });
}

// Sends raw bytes and returns everything the server answers before it closes (bounded waits).
std::string RawExchange(std::uint16_t port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return "connect failed";
    }
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    const auto limit = Clock::now() + 10s;
    while (Clock::now() < limit) {
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, 200) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer;
}

int StatusOf(const std::string& answer) {
    return answer.size() > 12 && answer.starts_with("HTTP/1.1 ") ? std::stoi(answer.substr(9, 3)) : -1;
}

bool CanConnect(const char* address, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &target.sin_addr);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0;
    ::close(fd);
    return connected;
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(server_.Start(), 200); }
    httplib::Client Client() {
        httplib::Client client("127.0.0.1", server_.GetPort());
        client.set_read_timeout(10, 0);
        client.set_connection_timeout(5, 0);
        client.set_url_encode(false);  // the bytes of the target as the test wrote them
        return client;
    }
    Server server_{0, false, -1};
};

TEST_F(ServerTest, ServesARegisteredPathWithTheDecodedQuery) {
    std::map<std::string, std::string> seen;
    std::string method;
    auto service = std::make_shared<ScriptedService>(
        [&](const Request& request, std::shared_ptr<MutableResponse> response, ServiceCompletion completion) {
            method = request.GetMethod();
            for (const char* name : {"code", "state", "empty", "odd", "absent"}) {
                std::string value = "untouched";
                if (request.GetQueryParameter(name, value)) seen[name] = value;
            }
            response->SetStatus(200);
            response->SetHeader("Cache-Control", "no-store");
            response->SetHeader("X-Bad", "a\r\nSet-Cookie: injected=1");
            response->SetPayload(std::make_shared<const std::string>("<html>done</html>"), "text/html; charset=utf-8");
            completion(response);
        });
    server_.RegisterService(service->GetPath(), service);
    auto result = Client().Get("/VektaAuthTikTok?code=a%2Fb+c&state=%E2%9C%93&empty=&odd=100%25+%zz%4&code=second");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->body, "<html>done</html>");
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(result->get_header_value("Cache-Control"), "no-store");
    EXPECT_FALSE(result->has_header("X-Bad"));
    EXPECT_FALSE(result->has_header("Set-Cookie"));
    EXPECT_EQ(method, "GET");
    EXPECT_EQ(seen, (std::map<std::string, std::string>{
                        {"code", "a/b c"}, {"state", "\xE2\x9C\x93"}, {"empty", ""}, {"odd", "100% %zz%4"}}));
}

TEST_F(ServerTest, UnregisteredPathsGet404) {
    auto service = AnswerAtOnce(200, "ok");
    server_.RegisterService("/VektaAuthTikTok", service);
    auto client = Client();
    for (const char* path : {"/", "/other", "/VektaAuthTikTok/more", "/vektaauthtiktok"}) {
        auto result = client.Get(path);
        ASSERT_TRUE(result) << path;
        EXPECT_EQ(result->status, 404) << path;
    }
    EXPECT_EQ(service->calls.load(), 0);
}

TEST_F(ServerTest, RefusesMalformedAndOversizedRequestsBeforeAnyService) {
    auto service = AnswerAtOnce(200, "ok");
    server_.RegisterService("/VektaAuthTikTok", service);
    const std::string get = "GET /VektaAuthTikTok?code=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const std::string third(3000, 'a');
    const struct {
        const char* what;
        std::string request;
        int status;
    } cases[] = {
        {"garbage request line", "NONSENSE\r\n\r\n", 400},
        {"unknown method", "BREW /VektaAuthTikTok HTTP/1.1\r\nHost: x\r\n\r\n", 400},
        {"one header line over 8 KiB", get + "X-Long: " + std::string(9000, 'a') + "\r\n\r\n", 400},
        {"headers over 8 KiB in all", get + "X-1: " + third + "\r\nX-2: " + third + "\r\nX-3: " + third + "\r\n\r\n", 431},
        {"large declared body", get + "Content-Length: 100000\r\n\r\n", 413},
        {"chunked body", get + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 413},
    };
    for (const auto& c : cases) EXPECT_EQ(StatusOf(RawExchange(server_.GetPort(), c.request)), c.status) << c.what;
    EXPECT_EQ(service->calls.load(), 0);
    // A well-formed request on the same server still gets through.
    EXPECT_EQ(StatusOf(RawExchange(server_.GetPort(), get + "\r\n")), 200);
}

TEST_F(ServerTest, APortBelongsToOneListenerAtATime) {
    const std::uint16_t port = server_.GetPort();
    ASSERT_NE(port, 0);
    EXPECT_TRUE(CanConnect("127.0.0.1", port));
    EXPECT_FALSE(CanConnect("127.0.0.2", port));  // bound to 127.0.0.1, not to every address

    Server second(port, false, -1);
    EXPECT_NE(second.Start(), 200);

    // A plain socket cannot take it either, with or without SO_REUSEADDR.
    for (int reuse : {0, 1}) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_NE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << reuse;
        ::close(fd);
    }

    // Once stopped, the port is free again at once.
    server_.Stop();
    Server third(port, false, -1);
    EXPECT_EQ(third.Start(), 200);
    EXPECT_EQ(third.GetPort(), port);
}

TEST(Server, DoesNotStartOnAPortAnotherProgramListensOnEverywhere) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    Server server(ntohs(address.sin_port), false, -1);
    EXPECT_NE(server.Start(), 200);
    ::close(fd);
    Server secure(0, true, -1);
    EXPECT_NE(secure.Start(), 200);
}

TEST_F(ServerTest, WaitsForACompletionCalledFromAnotherThread) {
    std::thread worker;
    auto service = std::make_shared<ScriptedService>(
        [&](const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion completion) {
            worker = std::thread([response, completion] {
                std::this_thread::sleep_for(100ms);
                response->SetStatus(202);
                response->SetPayload(std::make_shared<const std::string>("later"), "text/plain");
                completion(response);
            });
        });
    server_.RegisterService("/VektaAuthTikTok", service);
    auto result = Client().Get("/VektaAuthTikTok");
    worker.join();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 202);
    EXPECT_EQ(result->body, "later");
}

TEST_F(ServerTest, AServiceThatNeverCompletesOrThrowsGets500) {
    server_.SetServiceTimeout(200ms);
    ServiceCompletion kept;
    std::shared_ptr<MutableResponse> keptResponse;
    auto silent = std::make_shared<ScriptedService>(
        [&](const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion completion) {
            kept = std::move(completion);
            keptResponse = std::move(response);
        });
    auto throwing = std::make_shared<ScriptedService>(
        [](const Request&, std::shared_ptr<MutableResponse>, ServiceCompletion) { throw std::runtime_error("boom"); });
    server_.RegisterService("/silent", silent);
    server_.RegisterService("/throwing", throwing);
    auto client = Client();
    const auto start = Clock::now();
    auto result = client.Get("/silent");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 500);
    EXPECT_LT(Clock::now() - start, 5s);
    // Completing after the answer went out changes nothing.
    keptResponse->SetStatus(200);
    kept(keptResponse);
    result = client.Get("/throwing");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 500);
    EXPECT_FALSE(result->has_header("EXCEPTION_WHAT"));
}

TEST_F(ServerTest, StopReleasesAWaitingRequestAndJoinsItsThreads) {
    std::atomic<bool> entered{false};
    auto service = std::make_shared<ScriptedService>(
        [&](const Request&, std::shared_ptr<MutableResponse>, ServiceCompletion) { entered = true; });
    server_.RegisterService("/VektaAuthTikTok", service);
    std::string answer;
    std::thread client([&, port = server_.GetPort()] { answer = RawExchange(port, "GET /VektaAuthTikTok HTTP/1.1\r\nHost: x\r\n\r\n"); });
    const auto limit = Clock::now() + 10s;
    while (!entered && Clock::now() < limit) std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(entered);
    const auto start = Clock::now();
    server_.Stop();
    EXPECT_LT(Clock::now() - start, 5s);  // not the 30 s service limit
    client.join();
    EXPECT_EQ(StatusOf(answer), 503);
    EXPECT_FALSE(CanConnect("127.0.0.1", server_.GetPort()));
    server_.Stop();  // again: nothing to do
}

TEST_F(ServerTest, StopIsPromptWithAnIdleConnectionOpen) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server_.GetPort());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::this_thread::sleep_for(50ms);  // accepted, waiting for a request that never comes
    const auto start = Clock::now();
    server_.Stop();
    EXPECT_LT(Clock::now() - start, 5s);
    ::close(fd);
}

}  // namespace
