// Servers on 127.0.0.1 for the network tests: an httplib server that records what it received and
// misbehaves on demand, and a raw TCP listener for what no HTTP server does (silence, a reset).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "talnet/http/RequestProcessor.h"

namespace nettest {

using namespace std::chrono_literals;

// Routes: /status/<n> answers n; /slow/<ms> answers after a delay; /echo answers the body it got.
// Each request is recorded before it is answered.
class RecordingServer {
public:
    RecordingServer() {
        server_.set_keep_alive_max_count(1000);  // else httplib closes after 5 and reuse cannot show
        server_.set_tcp_nodelay(true);
        server_.new_task_queue = [] { return new httplib::ThreadPool(8); };
        const auto route = [this](auto answer) {
            return [this, answer](const httplib::Request& request, httplib::Response& response) {
                {
                    std::lock_guard lock(mutex_);
                    seen_.push_back(request);
                }
                answer(request, response);
            };
        };
        server_.Get(R"(/status/(\d+))", route([](const httplib::Request& request, httplib::Response& response) {
            response.status = std::stoi(request.matches[1]);
            if (response.status != 204) response.set_content("status " + std::string(request.matches[1]), "text/plain");
        }));
        server_.Get(R"(/slow/(\d+))", route([](const httplib::Request& request, httplib::Response& response) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(request.matches[1])));
            response.set_content("slow", "text/plain");
        }));
        const auto echo = route([](const httplib::Request& request, httplib::Response& response) {
            response.set_content(request.body, "application/octet-stream");
        });
        server_.Post("/echo", echo);
        server_.Put("/echo", echo);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        const auto limit = std::chrono::steady_clock::now() + 10s;
        while (!server_.is_running() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
        // httplib builds some shared state while it answers its first request; answered here, before
        // any test traffic, else TSan sees a race inside the library between concurrent first answers.
        httplib::Client("127.0.0.1", port_).Get("/status/204");
        std::lock_guard lock(mutex_);
        seen_.clear();
    }
    ~RecordingServer() {
        server_.stop();
        thread_.join();
    }

    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string Url(const std::string& path) const { return Origin() + path; }
    std::vector<httplib::Request> Seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<httplib::Request> seen_;
};

inline sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A listening socket on 127.0.0.1 at a port the system picks; `port` gets that port.
inline int ListenOnLoopback(std::uint16_t& port) {
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener, 16);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

// A TCP listener that never answers (silent) or resets each connection once the request came in.
class RawServer {
public:
    explicit RawServer(bool reset) : reset_(reset) {
        listener_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~RawServer() {
        stop_ = true;
        thread_.join();
        for (int fd : open_) ::close(fd);
        ::close(listener_);
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    int Accepted() const { return accepted_.load(); }

private:
    void Run() {
        while (!stop_) {
            pollfd fds{listener_, POLLIN, 0};
            if (::poll(&fds, 1, 20) <= 0) continue;
            const int client = ::accept(listener_, nullptr, nullptr);
            ++accepted_;
            if (client < 0 || !reset_) {
                open_.push_back(client);
                continue;
            }
            pollfd in{client, POLLIN, 0};
            ::poll(&in, 1, 2000);
            linger hard{1, 0};  // RST instead of FIN
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(client);
        }
    }

    bool reset_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::vector<int> open_;
};

// Answers every request with status 200 and a body of `bodyBytes` zeros, announced by its
// Content-Length or sent in chunks without one, written until the client goes away; counts what it
// could write. Nothing of the body is held in memory.
class StreamingServer {
public:
    StreamingServer(std::uint64_t bodyBytes, bool chunked) : bodyBytes_(bodyBytes), chunked_(chunked) {
        listener_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~StreamingServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    // Body bytes written before the client went away (or all of them).
    std::uint64_t Written() const { return written_.load(); }

private:
    void Run() {
        while (!stop_) {
            pollfd fds{listener_, POLLIN, 0};
            if (::poll(&fds, 1, 20) <= 0) continue;
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) continue;
            Answer(client);
            ::close(client);
        }
    }
    bool Send(int client, const char* data, std::size_t size) {
        while (size > 0 && !stop_) {
            pollfd out{client, POLLOUT, 0};
            if (::poll(&out, 1, 20) <= 0) continue;
            const ssize_t sent = ::send(client, data, size, MSG_NOSIGNAL);
            if (sent <= 0) return false;
            data += sent;
            size -= static_cast<std::size_t>(sent);
        }
        return size == 0;
    }
    void Answer(int client) {
        // The request's head, up to its blank line (the test's requests have no body).
        std::string head;
        char byte = 0;
        while (head.find("\r\n\r\n") == std::string::npos && ::recv(client, &byte, 1, 0) == 1) head.push_back(byte);
        const std::string status = chunked_ ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                            : "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bodyBytes_) +
                                                  "\r\n\r\n";
        if (!Send(client, status.data(), status.size())) return;
        const std::vector<char> block(64 * 1024, '\0');
        static const std::string blockHead = "10000\r\n";  // 64 KiB in hex
        for (std::uint64_t left = bodyBytes_; left >= block.size(); left -= block.size()) {
            if (chunked_ && !Send(client, blockHead.data(), blockHead.size())) return;
            if (!Send(client, block.data(), block.size())) return;
            written_ += block.size();
            if (chunked_ && !Send(client, "\r\n", 2)) return;
        }
        if (chunked_) Send(client, "0\r\n\r\n", 5);
    }

    std::uint64_t bodyBytes_;
    bool chunked_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
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

}  // namespace nettest
