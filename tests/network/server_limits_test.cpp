// The loopback server against clients that flood, trickle or idle, and against a stop from any
// thread: none of them may hold memory, sockets or time beyond the server's limits.
#include <gtest/gtest.h>

#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/network/ProcessResources.h"
#include "tests/network/ServerTestSupport.h"

namespace {

using namespace talnet::http::server;
using namespace vekta::test;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto kPromptly = 3s;  // the sanitizers slow every step down
#else
constexpr auto kPromptly = 1s;
#endif
constexpr std::size_t kMaxConnections = 64;

// Connections that each send a request line, then one header line every `interval`, never ending
// the head; each notes when the server closed it (or sent anything, which also ends it for a
// trickler). They trickle on their own thread for 15 s at most.
class Tricklers {
public:
    Tricklers(std::uint16_t port, std::size_t count, Clock::duration interval) : closed_(count, false) {
        for (std::size_t i = 0; i < count; ++i) {
            Trickler& trickler = tricklers_.emplace_back(io_);
            error_code error;
            trickler.socket.connect(Endpoint("127.0.0.1", port), error);
            if (!error)
                asio::write(trickler.socket, asio::buffer(std::string_view("GET /VektaAuthTikTok HTTP/1.1\r\n")),
                            error);
            if (error) {
                closed_[i] = true;
                continue;
            }
            trickler.socket.async_read_some(asio::buffer(trickler.byte),
                                            [this, i](const error_code&, std::size_t) { MarkClosed(i); });
        }
        Tick(interval, Clock::now() + 15s);
        thread_ = std::thread([this] { io_.run(); });
    }
    ~Tricklers() {
        io_.stop();
        thread_.join();
    }
    bool WaitClosed(std::size_t index, Clock::duration limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return closed_[index]; });
    }

private:
    struct Trickler {
        explicit Trickler(asio::io_context& io) : socket(io) {}
        tcp::socket socket;
        std::array<char, 1> byte{};
    };

    void MarkClosed(std::size_t index) {
        {
            std::lock_guard lock(mutex_);
            closed_[index] = true;
        }
        changed_.notify_all();
    }
    // Sends each open trickler's next line; on the trickling thread once it runs.
    void Tick(Clock::duration interval, Clock::time_point end) {
        for (std::size_t i = 0; i < tricklers_.size(); ++i) {
            {
                std::lock_guard lock(mutex_);
                if (closed_[i]) continue;
            }
            error_code error;
            asio::write(tricklers_[i].socket, asio::buffer(std::string_view("X-Trickle: 1\r\n")), error);
            if (error) MarkClosed(i);
        }
        if (Clock::now() + interval > end) return;
        tick_.expires_after(interval);
        tick_.async_wait([this, interval, end](const error_code& error) {
            if (!error) Tick(interval, end);
        });
    }

    asio::io_context io_;  // first, so that the sockets and the timer go before it
    std::deque<Trickler> tricklers_;
    asio::steady_timer tick_{io_};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<bool> closed_;
    std::thread thread_;
};

struct FloodResult {
    std::string answer;
    std::size_t sentBytes = 0;
};

// Sends `line` over and over after a request line until `limit` bytes are sent or the server
// closes, reading what it answers meanwhile; 20 s at most.
FloodResult FloodHead(std::uint16_t port, const std::string& line, std::size_t limit) {
    FloodResult result;
    asio::io_context io;
    tcp::socket socket(io);
    error_code error;
    socket.connect(Endpoint("127.0.0.1", port), error);
    if (error) return result;
    std::string lines;
    while (lines.size() < 64 * 1024) lines += line;
    std::string chunk = "GET /VektaAuthTikTok HTTP/1.1\r\n" + lines;  // the request line only once
    std::size_t offset = 0;
    std::function<void()> sendSome = [&] {
        socket.async_write_some(asio::buffer(chunk.data() + offset, chunk.size() - offset),
                                [&](const error_code& sendError, std::size_t sent) {
                                    if (sendError) return;
                                    result.sentBytes += sent;
                                    offset += sent;
                                    if (offset == chunk.size()) {
                                        chunk = lines;
                                        offset = 0;
                                    }
                                    if (result.sentBytes < limit) sendSome();
                                });
    };
    std::array<char, 4096> buffer{};
    std::function<void()> readSome = [&] {
        socket.async_read_some(asio::buffer(buffer), [&](const error_code& readError, std::size_t length) {
            result.answer.append(buffer.data(), length);
            if (!readError) {
                readSome();
                return;
            }
            error_code ignored;
            socket.close(ignored);  // the server is gone: so is the flood
        });
    };
    sendSome();
    readSome();
    io.run_for(20s);
    // Out of time, or done: whatever still waits is cancelled and must end, as it refers to this frame.
    socket.close(error);
    io.restart();
    io.run();
    return result;
}

class ServerLimitsTest : public ServerFixture {};

TEST_F(ServerLimitsTest, AHeaderFloodIsRefusedWithoutGrowingMemory) {
    ASSERT_EQ(RawStatus(server_.GetPort(), kValidRequest), 200);  // the server's first allocations are made
    // Where the peak cannot be reset to now, only growth beyond the process's peak so far shows.
    const bool peakReset = ResetPeakResident();
    const ResidentMemory before = Resident();
    const long baselineKiB = peakReset ? before.currentKiB : std::max(before.currentKiB, before.peakKiB);
    const FloodResult flood = FloodHead(server_.GetPort(), "X-Flood: " + std::string(90, 'a') + "\r\n", 64u << 20);
    const ResidentMemory during = Resident();
    std::cout << "flood: " << flood.sentBytes / 1024 << " KiB sent; resident " << before.currentKiB << " KiB before"
              << (peakReset ? "" : ", peak " + std::to_string(before.peakKiB) + " KiB so far") << "; peak "
              << during.peakKiB << " KiB during\n";
    EXPECT_EQ(StatusOf(flood.answer), 431) << flood.answer.substr(0, 40);
    ASSERT_GT(baselineKiB, 0) << "the system told no resident memory";
    EXPECT_LT(during.peakKiB - baselineKiB, 4 * 1024);
}

TEST_F(ServerLimitsTest, TricklingClientsDoNotHoldBackAValidRequest) {
    Tricklers tricklers(server_.GetPort(), 16, 200ms);
    const auto start = Clock::now();
    EXPECT_EQ(RawStatus(server_.GetPort(), kValidRequest), 200);
    const auto latency = Clock::now() - start;
    std::cout << "trickle: valid request answered in " << std::chrono::duration<double, std::milli>(latency).count()
              << " ms\n";
    EXPECT_LT(latency, kPromptly);
}

TEST_F(ServerLimitsTest, IdleConnectionsMakeRoomForAValidRequest) {
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 200; ++i) idle.push_back(std::make_unique<Client>("127.0.0.1", server_.GetPort()));
    ASSERT_TRUE(std::ranges::all_of(idle, [](const auto& client) { return client->Connected(); }));
    EXPECT_EQ(RawStatus(server_.GetPort(), kValidRequest), 200);
    // Accepted in order, so every idle one has been accepted by now: besides its listening socket,
    // the server holds at most its limit.
    const std::size_t held = SocketsBoundTo(server_.GetPort()).size();
    std::cout << "idle: the server holds " << held << " sockets with 200 idle clients\n";
    EXPECT_GE(held, 1u);
    EXPECT_LE(held, 1 + kMaxConnections);
    EXPECT_TRUE(idle.front()->WaitClosedByPeer(5s));  // the oldest made room
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
TEST_F(ServerLimitsTest, AServiceMayStopTheServerWhileItAnswers) {
    const auto stopped = std::make_shared<std::promise<void>>();  // outlives a test cut short
    Serve([this, stopped](const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion done) {
        server_.Stop();
        done(response);
        stopped->set_value();
    });
    EXPECT_EQ(RawStatus(server_.GetPort(), kValidRequest), 503);
    EXPECT_EQ(stopped->get_future().wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(CanConnect("127.0.0.1", server_.GetPort()));
}

TEST_F(ServerLimitsTest, ItsSocketsAreKeptFromChildProcesses) {
    std::mutex mutex;
    std::vector<BoundSocket> sockets;  // the listening and the accepted one, seen while answering
    Serve([&](const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion done) {
        {
            std::lock_guard lock(mutex);
            sockets = SocketsBoundTo(server_.GetPort());
        }
        done(response);
    });
    ASSERT_EQ(RawStatus(server_.GetPort(), kValidRequest), 200);
    std::lock_guard lock(mutex);
    EXPECT_EQ(sockets.size(), 2u);
    EXPECT_TRUE(std::ranges::none_of(sockets, &BoundSocket::inheritable));
}

}  // namespace
