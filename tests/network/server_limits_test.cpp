// The loopback server against clients that flood, trickle or idle, and against a stop from any
// thread: none of them may hold memory, descriptors or time beyond the server's limits.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <iostream>

#include "server_test_support.h"

namespace {

using namespace talnet::http::server;
using namespace servertest;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto kPromptly = 3s;  // the sanitizers slow every step down
#else
constexpr auto kPromptly = 1s;
#endif
constexpr std::size_t kMaxConnections = 64;
const std::string kValidRequest = "GET /VektaAuthTikTok?code=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// Connections that each send a request line, then one header line every `interval`, never ending
// the head; each notes when the server closed it. Stops by itself after 15 s.
class Tricklers {
public:
    Tricklers(std::uint16_t port, std::size_t count, Clock::duration interval) : closed_(count, false) {
        for (std::size_t i = 0; i < count; ++i) {
            fds_.push_back(Connect("127.0.0.1", port));
            (void)!::send(fds_.back(), "GET /VektaAuthTikTok HTTP/1.1\r\n", 31, MSG_NOSIGNAL);
        }
        thread_ = std::thread([this, interval] { Run(interval); });
    }
    ~Tricklers() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
        for (const int fd : fds_) ::close(fd);
    }
    bool WaitClosed(std::size_t index, Clock::duration limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return closed_[index]; });
    }

private:
    void Run(Clock::duration interval) {
        std::unique_lock lock(mutex_);
        for (const auto end = Clock::now() + 15s; !stop_ && Clock::now() < end;) {
            for (std::size_t i = 0; i < fds_.size(); ++i) {
                if (closed_[i]) continue;
                char byte = 0;
                const ssize_t peeked = ::recv(fds_[i], &byte, 1, MSG_DONTWAIT | MSG_PEEK);
                const bool gone = peeked == 0 || (peeked < 0 && errno != EAGAIN) ||
                                  ::send(fds_[i], "X-Trickle: 1\r\n", 14, MSG_NOSIGNAL) < 0;
                closed_[i] = gone || peeked > 0;  // anything the server sends ends it for a trickler
            }
            changed_.notify_all();
            changed_.wait_for(lock, interval, [&] { return stop_; });
        }
    }

    std::vector<int> fds_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<bool> closed_;
    bool stop_ = false;
    std::thread thread_;
};

struct FloodResult {
    std::string answer;
    std::size_t sentBytes = 0;
};

// Sends `lines` after a request line until `limit` bytes are sent or the server closes, reading
// what it answers meanwhile.
FloodResult FloodHead(std::uint16_t port, const std::string& line, std::size_t limit) {
    FloodResult result;
    const int fd = Connect("127.0.0.1", port);
    if (fd < 0) return result;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::string chunk = "GET /VektaAuthTikTok HTTP/1.1\r\n";
    while (chunk.size() < 64 * 1024) chunk += line;
    std::size_t offset = 0;
    bool sending = true;
    char buffer[4096];
    for (const auto end = Clock::now() + 20s; Clock::now() < end;) {
        pollfd poll{fd, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
        if (::poll(&poll, 1, 100) <= 0) continue;
        if (poll.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                result.answer.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EAGAIN) {
                break;
            }
        }
        if (sending && (poll.revents & POLLOUT)) {
            const ssize_t n = ::send(fd, chunk.data() + offset, chunk.size() - offset, MSG_NOSIGNAL);
            if (n > 0) {
                result.sentBytes += static_cast<std::size_t>(n);
                offset = (offset + static_cast<std::size_t>(n)) % chunk.size();
                if (offset == 0) chunk.erase(0, chunk.find("\r\n") + 2);  // the request line only once
            }
            sending = (n > 0 || errno == EAGAIN) && result.sentBytes < limit;
        }
    }
    ::close(fd);
    return result;
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

class ServerLimitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(server_.Start(), 200);
        server_.RegisterService("/VektaAuthTikTok", service_);
    }
    Server server_{0, false, -1};
    std::shared_ptr<ScriptedService> service_ = AnsweringService();
};

TEST_F(ServerLimitsTest, AHeaderFloodIsRefusedWithoutGrowingMemory) {
    ASSERT_EQ(RawStatus(server_.GetPort(), kValidRequest), 200);  // the server's first allocations are made
    // Writing 5 resets the peak (VmHWM) to what is resident now, so the flood's own peak shows.
    const bool peakReset = static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5" << std::flush);
    const long before = StatusKiB("VmRSS:");
    const FloodResult flood = FloodHead(server_.GetPort(), "X-Flood: " + std::string(90, 'a') + "\r\n", 64u << 20);
    const long after = StatusKiB(peakReset ? "VmHWM:" : "VmRSS:");
    std::cout << "flood: " << flood.sentBytes / 1024 << " KiB sent; resident " << before << " KiB before, "
              << (peakReset ? "peak " : "") << after << " KiB during\n";
    EXPECT_EQ(StatusOf(flood.answer), 431) << flood.answer.substr(0, 40);
    EXPECT_LT(after - before, 4 * 1024);
}

TEST_F(ServerLimitsTest, TricklingClientsDoNotHoldBackAValidRequest) {
    Tricklers tricklers(server_.GetPort(), 16, 200ms);
    const auto start = Clock::now();
    EXPECT_EQ(RawStatus(server_.GetPort(), kValidRequest), 200);
    const auto latency = Clock::now() - start;
    std::cout << "trickle: valid request answered in " << std::chrono::duration<double, std::milli>(latency).count() << " ms\n";
    EXPECT_LT(latency, kPromptly);
}

TEST_F(ServerLimitsTest, IdleConnectionsMakeRoomForAValidRequest) {
    const std::size_t descriptorsBefore = OpenDescriptors();
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i) idle.push_back(Connect("127.0.0.1", server_.GetPort()));
    ASSERT_TRUE(std::ranges::all_of(idle, [](int fd) { return fd >= 0; }));
    EXPECT_EQ(RawStatus(server_.GetPort(), kValidRequest), 200);
    // Accepted in order, so every idle one has been accepted by now: the server holds at most its limit.
    EXPECT_LE(OpenDescriptors() - descriptorsBefore - idle.size(), kMaxConnections);
    EXPECT_TRUE(WaitClosedByPeer(idle.front(), 5s));  // the oldest made room
    for (const int fd : idle) ::close(fd);
}

TEST_F(ServerLimitsTest, AHeadNotCompleteFiveSecondsAfterAcceptIsClosed) {
    const auto start = Clock::now();
    Tricklers trickler(server_.GetPort(), 1, 300ms);
    ASSERT_TRUE(trickler.WaitClosed(0, 10s));
    EXPECT_GE(Clock::now() - start, 5s);
}

TEST_F(ServerLimitsTest, OneRequestPerConnectionAnsweredWithConnectionClose) {
    const std::string answer = Raw(server_.GetPort(), kValidRequest + kValidRequest);
    EXPECT_EQ(StatusOf(answer), 200);
    EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos) << answer;
    EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos) << answer;
    EXPECT_EQ(service_->calls.load(), 1);
}

TEST_F(ServerLimitsTest, StopReturnsPromptlyWhileAClientTrickles) {
    Tricklers trickler(server_.GetPort(), 1, 200ms);
    ASSERT_EQ(RawStatus(server_.GetPort(), kValidRequest), 200);  // accepted after the trickler
    const auto start = Clock::now();
    server_.Stop();
    const auto duration = Clock::now() - start;
    std::cout << "stop: returned in " << std::chrono::duration<double, std::milli>(duration).count() << " ms\n";
    EXPECT_LT(duration, kPromptly);
    EXPECT_TRUE(trickler.WaitClosed(0, 5s));
}

// A service may end the login, and so stop the server, while it answers on the server's thread.
TEST(ServerStopTest, AServiceMayStopTheServerWhileItAnswers) {
    Server server(0, false, -1);
    ASSERT_EQ(server.Start(), 200);
    const auto stopped = std::make_shared<std::promise<void>>();
    server.RegisterService("/VektaAuthTikTok", std::make_shared<ScriptedService>([&server, stopped](const Request&,
                                                                                                    std::shared_ptr<MutableResponse> response,
                                                                                                    ServiceCompletion done) {
        server.Stop();
        done(response);
        stopped->set_value();
    }));
    EXPECT_EQ(RawStatus(server.GetPort(), kValidRequest), 503);
    EXPECT_EQ(stopped->get_future().wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(CanConnect("127.0.0.1", server.GetPort()));
}

// The thread that would complete a request stops the server, then completes it late: the waiting
// client is answered 503 by the stop, and the late completion finds nothing to do.
TEST(ServerStopTest, TheCompletingThreadMayStopTheServerFirst) {
    Server server(0, false, -1);
    ASSERT_EQ(server.Start(), 200);
    std::promise<std::pair<std::shared_ptr<MutableResponse>, ServiceCompletion>> handed;
    server.RegisterService("/VektaAuthTikTok", std::make_shared<ScriptedService>([&handed](const Request&,
                                                                                           std::shared_ptr<MutableResponse> response,
                                                                                           ServiceCompletion done) {
        handed.set_value({std::move(response), std::move(done)});
    }));
    auto status = std::async(std::launch::async, [port = server.GetPort()] { return RawStatus(port, kValidRequest); });
    auto request = handed.get_future();
    ASSERT_EQ(request.wait_for(10s), std::future_status::ready);
    auto [response, done] = request.get();
    server.Stop();
    response->SetStatus(200);
    done(response);
    EXPECT_EQ(status.get(), 503);
}

TEST_F(ServerLimitsTest, ItsSocketsAreKeptFromChildProcesses) {
    std::mutex mutex;
    std::vector<bool> closeOnExec;  // of the listening and the accepted socket, seen while answering
    server_.RegisterService("/VektaAuthTikTok", std::make_shared<ScriptedService>([&](const Request&, std::shared_ptr<MutableResponse> response,
                                                                                      ServiceCompletion done) {
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            const int fd = std::stoi(entry.path().filename().string());
            sockaddr_in local{};
            socklen_t length = sizeof local;
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_family == AF_INET &&
                ntohs(local.sin_port) == server_.GetPort()) {
                std::lock_guard lock(mutex);
                closeOnExec.push_back((::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0);
            }
        }
        done(response);
    }));
    ASSERT_EQ(RawStatus(server_.GetPort(), kValidRequest), 200);
    std::lock_guard lock(mutex);
    EXPECT_EQ(closeOnExec, (std::vector<bool>{true, true}));
}

}  // namespace
