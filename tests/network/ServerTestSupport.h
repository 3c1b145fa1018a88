// Raw clients of the loopback server for its tests, on Asio so that they run on every system: bytes
// on a real socket on 127.0.0.1, answers read with a bound, and a service whose answer a test writes
// as a function.
#pragma once

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "talnet/http/server/Server.h"

namespace vekta::test {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using talnet::http::server::MutableResponse;
using talnet::http::server::Request;
using talnet::http::server::ServiceCompletion;

// A service whose answer the test writes as a function.
class ScriptedService final : public talnet::http::server::Service {
public:
    using Script = std::function<void(const Request&, std::shared_ptr<MutableResponse>, ServiceCompletion)>;
    explicit ScriptedService(Script script) : script_(std::move(script)) {}
    void Handle(const Request& request, std::shared_ptr<MutableResponse> response,
                ServiceCompletion completion) override {
        ++calls;
        script_(request, std::move(response), std::move(completion));
    }
    std::string GetPath() const override { return "/VektaAuthTikTok"; }
    std::atomic<int> calls{0};

private:
    Script script_;
};

// Answers 200 at once, without a payload.
inline std::shared_ptr<ScriptedService> AnsweringService() {
    return std::make_shared<ScriptedService>(
        [](const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion done) { done(response); });
}

inline tcp::endpoint Endpoint(const char* address, std::uint16_t port) {
    return {asio::ip::make_address_v4(address), port};
}

// One connection with an io_context of its own, so that a bounded read runs nothing but it.
class Client {
public:
    Client(const char* address, std::uint16_t port) {
        error_code error;
        socket_.connect(Endpoint(address, port), error);
        connected_ = !error;
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return connected_; }
    // All of `bytes`, or as much as the server takes before it closes.
    void Send(std::string_view bytes) {
        error_code ignored;
        asio::write(socket_, asio::buffer(bytes.data(), bytes.size()), ignored);
    }
    // True when the server closed the connection (end of stream or a reset) within `limit`; what it
    // sent before is appended to `answer`.
    bool WaitClosedByPeer(Clock::duration limit, std::string* answer = nullptr) {
        std::array<char, 4096> buffer{};
        bool closed = false;
        bool giveUp = false;
        std::function<void()> readSome = [&] {
            socket_.async_read_some(asio::buffer(buffer), [&](const error_code& error, std::size_t length) {
                if (answer) answer->append(buffer.data(), length);
                if (error) {
                    closed = error != asio::error::operation_aborted;
                } else if (!giveUp) {
                    readSome();
                }
            });
        };
        readSome();
        io_.restart();
        io_.run_for(limit);
        if (!io_.stopped()) {
            // Out of time: the read still waits. It ends once cancelled, and must, as it refers to this frame.
            giveUp = true;
            error_code ignored;
            socket_.cancel(ignored);
            io_.restart();
            io_.run();
        }
        return closed;
    }

private:
    asio::io_context io_;
    tcp::socket socket_{io_};
    bool connected_ = false;
};

inline bool CanConnect(const char* address, std::uint16_t port) { return Client(address, port).Connected(); }

// Sends raw bytes; the answer the server gives before it closes.
inline std::string Raw(std::uint16_t port, std::string_view request) {
    Client client("127.0.0.1", port);
    if (!client.Connected()) return "";
    client.Send(request);
    std::string answer;
    client.WaitClosedByPeer(10s, &answer);
    return answer;
}

inline int StatusOf(const std::string& answer) {
    return answer.starts_with("HTTP/1.1 ") && answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : -1;
}

inline int RawStatus(std::uint16_t port, std::string_view request) { return StatusOf(Raw(port, request)); }

inline const std::string kValidRequest = "GET /VektaAuthTikTok?code=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// A started server on a port the system picks, answering 200 at its one path until a test scripts
// that path otherwise.
class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(server_.Start(), 200);
        server_.RegisterService("/VektaAuthTikTok", service_);
    }
    std::shared_ptr<ScriptedService> Serve(ScriptedService::Script script) {
        service_ = std::make_shared<ScriptedService>(std::move(script));
        server_.RegisterService("/VektaAuthTikTok", service_);
        return service_;
    }
    talnet::http::server::Server server_{0, false, -1};
    std::shared_ptr<ScriptedService> service_ = AnsweringService();
};

}  // namespace vekta::test
