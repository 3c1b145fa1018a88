// Servers on 127.0.0.1 for the request processor's tests, on Asio and Beast so that they run on
// every system: an HTTP server that records what it received, and raw TCP servers for what no HTTP
// server does (silence, a reset, an answer that never ends).
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "talnet/http/RequestProcessor.h"

namespace vekta::test {

using namespace std::chrono_literals;
namespace asio = boost::asio;
namespace http = boost::beast::http;
using asio::ip::tcp;

// An acceptor on 127.0.0.1 at a port the system picks, served by a few threads until destroyed.
class LoopbackServer {
public:
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string Url(const std::string& path) const { return Origin() + path; }

protected:
    LoopbackServer() : acceptor_(io_, tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0)) {
        port_ = acceptor_.local_endpoint().port();
    }
    // Derived servers call Start at the end of their constructor and Stop first in their destructor,
    // so that no handler runs on a half-built or half-destroyed server.
    void Start(std::size_t threads) {
        Accept();
        for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { io_.run(); });
    }
    void Stop() {
        io_.stop();
        for (auto& thread : threads_) thread.join();
        threads_.clear();
    }
    virtual void Serve(std::shared_ptr<tcp::socket> socket) = 0;
    virtual ~LoopbackServer() = default;

    asio::io_context io_;

private:
    void Accept() {
        acceptor_.async_accept([this](boost::system::error_code error, tcp::socket socket) {
            if (error) return;
            socket.set_option(tcp::no_delay(true));
            Serve(std::make_shared<tcp::socket>(std::move(socket)));
            Accept();
        });
    }

    tcp::acceptor acceptor_;
    std::uint16_t port_ = 0;
    std::vector<std::thread> threads_;
};

// One request as the server received it; header names are kept in lower case.
struct ReceivedRequest {
    std::string method;
    std::string target;
    std::multimap<std::string, std::string> headers;
    std::string body;
    std::uint16_t remotePort = 0;

    std::size_t HeaderCount(const std::string& lowerName) const { return headers.count(lowerName); }
    bool HasHeader(const std::string& lowerName) const { return HeaderCount(lowerName) > 0; }
    std::string Header(const std::string& lowerName) const {
        const auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

// Routes: /status/<n> answers n (a redirection to /status/200 for 3xx); /slow/<ms> answers after a
// delay; /echo answers the body it got; /drop closes the connection without an answer.
// Each request is recorded before it is answered; connections are kept alive.
class RecordingServer final : public LoopbackServer {
public:
    RecordingServer() { Start(4); }
    ~RecordingServer() override { Stop(); }

    std::vector<ReceivedRequest> Seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    struct Connection {
        explicit Connection(std::shared_ptr<tcp::socket> s) : socket(std::move(s)), timer(socket->get_executor()) {}
        std::shared_ptr<tcp::socket> socket;
        boost::beast::flat_buffer buffer;
        std::unique_ptr<http::request_parser<http::string_body>> parser;
        http::response<http::string_body> response;
        asio::steady_timer timer;
    };

    void Serve(std::shared_ptr<tcp::socket> socket) override { Read(std::make_shared<Connection>(std::move(socket))); }

    void Read(const std::shared_ptr<Connection>& connection) {
        connection->parser = std::make_unique<http::request_parser<http::string_body>>();
        connection->parser->body_limit(256u << 20);
        http::async_read(*connection->socket, connection->buffer, *connection->parser,
                         [this, connection](boost::system::error_code error, std::size_t) {
                             if (!error) Answer(connection);
                         });
    }

    void Answer(const std::shared_ptr<Connection>& connection) {
        const auto& request = connection->parser->get();
        ReceivedRequest received;
        received.method = std::string(request.method_string());
        received.target = std::string(request.target());
        for (const auto& field : request) {
            std::string name(field.name_string());
            for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            received.headers.emplace(std::move(name), std::string(field.value()));
        }
        received.body = request.body();
        boost::system::error_code ignored;
        received.remotePort = connection->socket->remote_endpoint(ignored).port();
        {
            std::lock_guard lock(mutex_);
            seen_.push_back(received);
        }
        auto& response = connection->response;
        response = {};
        response.version(11);
        response.keep_alive(request.keep_alive());
        std::chrono::milliseconds delay{0};
        const std::string& target = received.target;
        if (target.starts_with("/status/")) {
            const int status = std::stoi(target.substr(8));
            response.result(static_cast<unsigned>(status));
            if (status != 204) {
                response.set(http::field::content_type, "text/plain");
                response.body() = "status " + std::to_string(status);
            }
            // Somewhere to go, for a client that would follow it.
            if (status >= 300 && status < 400) response.set(http::field::location, "/status/200");
        } else if (target.starts_with("/slow/")) {
            delay = std::chrono::milliseconds(std::stoi(target.substr(6)));
            response.result(200);
            response.set(http::field::content_type, "text/plain");
            response.body() = "slow";
        } else if (target == "/drop") {
            connection->socket->close(ignored);  // taken in, never answered
            return;
        } else if (target == "/echo") {
            response.result(200);
            response.set(http::field::content_type, "application/octet-stream");
            response.body() = received.body;
        } else {
            response.result(404);
        }
        if (response.result() != http::status::no_content) response.prepare_payload();
        connection->timer.expires_after(delay);
        connection->timer.async_wait([this, connection](boost::system::error_code) {
            http::async_write(*connection->socket, connection->response,
                              [this, connection](boost::system::error_code error, std::size_t) {
                                  if (!error && connection->response.keep_alive()) Read(connection);
                              });
        });
    }

    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> seen_;
};

// A TCP server that never answers (silent) or resets each connection once the request came in.
class RawServer final : public LoopbackServer {
public:
    explicit RawServer(bool reset) : reset_(reset) { Start(1); }
    ~RawServer() override { Stop(); }
    int Accepted() const { return accepted_.load(); }

private:
    void Serve(std::shared_ptr<tcp::socket> socket) override {
        ++accepted_;
        if (!reset_) {
            open_.push_back(std::move(socket));  // one thread: no lock needed
            return;
        }
        auto buffer = std::make_shared<std::array<char, 4096>>();
        socket->async_read_some(asio::buffer(*buffer), [socket, buffer](boost::system::error_code, std::size_t) {
            boost::system::error_code ignored;
            socket->set_option(asio::socket_base::linger(true, 0), ignored);  // RST instead of FIN
            socket->close(ignored);
        });
    }

    bool reset_;
    std::atomic<int> accepted_{0};
    std::vector<std::shared_ptr<tcp::socket>> open_;
};

// Answers every request with status 200 and a body of `bodyBytes` zeros, announced by its
// Content-Length or sent in chunks without one, written until the client goes away; counts what it
// could write. Nothing of the body is held in memory beyond one block.
class StreamingServer final : public LoopbackServer {
public:
    StreamingServer(std::uint64_t bodyBytes, bool chunked) : bodyBytes_(bodyBytes), chunked_(chunked) {
        block_ = std::string(kBlockBytes, '\0');
        if (chunked_) block_ = "10000\r\n" + block_ + "\r\n";  // 64 KiB in hex
        Start(1);
    }
    ~StreamingServer() override { Stop(); }
    // Body bytes written before the client went away (or all of them).
    std::uint64_t Written() const { return written_.load(); }

private:
    static constexpr std::size_t kBlockBytes = 64 * 1024;

    void Serve(std::shared_ptr<tcp::socket> socket) override {
        auto head = std::make_shared<asio::streambuf>();
        asio::async_read_until(
            *socket, *head, "\r\n\r\n", [this, socket, head](boost::system::error_code error, std::size_t) {
                if (error) return;
                auto status = std::make_shared<std::string>(
                    chunked_ ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                             : "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bodyBytes_) + "\r\n\r\n");
                asio::async_write(*socket, asio::buffer(*status),
                                  [this, socket, status](boost::system::error_code e, std::size_t) {
                                      if (!e) WriteBlock(socket, bodyBytes_);
                                  });
            });
    }

    void WriteBlock(const std::shared_ptr<tcp::socket>& socket, std::uint64_t left) {
        if (left < kBlockBytes) {
            if (chunked_) asio::async_write(*socket, asio::buffer("0\r\n\r\n", 5), [socket](auto&&...) {});
            return;
        }
        asio::async_write(*socket, asio::buffer(block_),
                          [this, socket, left](boost::system::error_code error, std::size_t) {
                              if (error) return;
                              written_ += kBlockBytes;
                              WriteBlock(socket, left - kBlockBytes);
                          });
    }

    std::uint64_t bodyBytes_;
    bool chunked_;
    std::string block_;
    std::atomic<std::uint64_t> written_{0};
};

// Collects completions and lets a test wait for them with a bound.
class Completions {
public:
    using Response = std::shared_ptr<talnet::http::Response>;
    talnet::http::RequestCompletion Callback() {
        return [this](const talnet::http::RequestID& id, Response response) {
            {
                std::lock_guard lock(mutex_);
                got_.emplace_back(id, std::move(response));
            }
            changed_.notify_all();
        };
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return got_.size() >= count; });
    }
    // Every completion of one request.
    std::vector<Response> For(const talnet::http::RequestID& id) const {
        std::lock_guard lock(mutex_);
        std::vector<Response> found;
        for (const auto& [of, response] : got_)
            if (of == id) found.push_back(response);
        return found;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<talnet::http::RequestID, Response>> got_;
};

}  // namespace vekta::test
