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
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "talnet/http/RequestProcessor.h"

namespace nettest {

using namespace std::chrono_literals;

// What the recording server saw of one request.
struct SeenRequest {
    std::string method;
    std::string path;
    std::string query;  // "name=value" pairs as httplib decoded them, '&'-joined
    std::string body;
    int remotePort = -1;
    std::multimap<std::string, std::string> headers;  // names as sent

    std::size_t Count(const std::string& name) const {
        std::size_t n = 0;
        for (const auto& [key, value] : headers) n += EqualsIgnoreCase(key, name) ? 1 : 0;
        return n;
    }
    std::string Value(const std::string& name) const {
        for (const auto& [key, value] : headers) {
            if (EqualsIgnoreCase(key, name)) return value;
        }
        return {};
    }
    static bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
        }
        return true;
    }
};

// An httplib server on 127.0.0.1 with a port of its own. Routes:
//   /status/<n>        answers status n with body "status <n>"
//   /slow/<ms>         answers 200 after <ms> milliseconds
//   /large/<bytes>     answers 200 with that many bytes of a known pattern
//   /echo              answers 200 with the request body (any method)
//   /hold              answers only when Release() is called (or the server stops)
// Every request is recorded.
class RecordingServer {
public:
    RecordingServer() {
        server_.set_keep_alive_max_count(1000);
        server_.set_keep_alive_timeout(5);
        server_.set_tcp_nodelay(true);
        server_.set_payload_max_length(std::size_t{256} << 20);
        server_.new_task_queue = [] { return new httplib::ThreadPool(8); };
        // Recorded before answering, so a test that has its completion also sees the record.
        const auto recorded = [this](httplib::Server::Handler handler) {
            return [this, handler](const httplib::Request& request, httplib::Response& response) {
                Record(request);
                handler(request, response);
            };
        };
        server_.Get(R"(/status/(\d+))", recorded([](const httplib::Request& request, httplib::Response& response) {
            response.status = std::stoi(request.matches[1]);
            if (response.status != 204) response.set_content("status " + std::string(request.matches[1]), "text/plain");
        }));
        server_.Get(R"(/slow/(\d+))", recorded([](const httplib::Request& request, httplib::Response& response) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(request.matches[1])));
            response.set_content("slow", "text/plain");
        }));
        server_.Get(R"(/large/(\d+))", recorded([](const httplib::Request& request, httplib::Response& response) {
            response.set_content(Pattern(std::stoull(request.matches[1])), "application/octet-stream");
        }));
        server_.Get("/hold", recorded([this](const httplib::Request&, httplib::Response& response) {
            std::unique_lock lock(mutex_);
            ++holding_;
            changed_.notify_all();
            changed_.wait_for(lock, 30s, [&] { return released_; });
            response.set_content("released", "text/plain");
        }));
        const auto echo = recorded([](const httplib::Request& request, httplib::Response& response) {
            response.set_header("X-Echo-Length", std::to_string(request.body.size()));
            response.set_content(request.body, "application/octet-stream");
        });
        server_.Get("/echo", echo);
        server_.Post("/echo", echo);
        server_.Put("/echo", echo);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        const auto limit = std::chrono::steady_clock::now() + 10s;
        while (!server_.is_running() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
    }
    ~RecordingServer() {
        Release();
        server_.stop();
        thread_.join();
    }

    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string Url(const std::string& path) const { return Origin() + path; }

    std::vector<SeenRequest> Seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    bool WaitUntilHolding(int count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return holding_ >= count; });
    }
    void Release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

    static std::string Pattern(std::size_t size) {
        std::string text(size, '\0');
        for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
        return text;
    }

private:
    void Record(const httplib::Request& request) {
        SeenRequest seen;
        seen.method = request.method;
        seen.path = request.path;
        for (const auto& [name, value] : request.params) {
            seen.query += (seen.query.empty() ? "" : "&") + name + "=" + value;
        }
        seen.body = request.body;
        seen.remotePort = request.remote_port;
        for (const auto& [name, value] : request.headers) {
            if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT") {
                seen.headers.emplace(name, value);
            }
        }
        std::lock_guard lock(mutex_);
        seen_.push_back(std::move(seen));
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SeenRequest> seen_;
    int holding_ = 0;
    bool released_ = false;
};

// A TCP listener on 127.0.0.1 that reads requests and never answers them, or drops each
// connection at once, with a reset or an orderly close.
class RawServer {
public:
    enum class Mode { Silent, Reset, Close };

    explicit RawServer(Mode mode) : mode_(mode) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 16);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
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
            if (client < 0) continue;
            ++accepted_;
            if (mode_ == Mode::Silent) {
                open_.push_back(client);
                continue;
            }
            // Wait (bounded) for the request so the client is surely mid-exchange.
            pollfd in{client, POLLIN, 0};
            ::poll(&in, 1, 2000);
            char buffer[4096];
            (void)!::recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
            if (mode_ == Mode::Reset) {
                linger hard{1, 0};  // close with RST instead of FIN
                ::setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            }
            ::close(client);
        }
    }

    Mode mode_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::vector<int> open_;  // the listener thread's until it is joined
};

// A port on 127.0.0.1 where nothing listens.
inline std::uint16_t ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Collects completions and lets a test wait for them with a bound.
class Completions {
public:
    talnet::http::RequestCompletion Callback() {
        return [this](const talnet::http::RequestID& id, std::shared_ptr<talnet::http::Response> response) {
            {
                std::lock_guard lock(mutex_);
                byId_[id].push_back(response);
                threads_.insert(std::this_thread::get_id());
                ++count_;
            }
            changed_.notify_all();
        };
    }
    bool WaitFor(std::size_t count, std::chrono::milliseconds limit = 20s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return count_ >= count; });
    }
    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    std::size_t TimesFor(const talnet::http::RequestID& id) const {
        std::lock_guard lock(mutex_);
        const auto it = byId_.find(id);
        return it == byId_.end() ? 0 : it->second.size();
    }
    std::shared_ptr<talnet::http::Response> For(const talnet::http::RequestID& id) const {
        std::lock_guard lock(mutex_);
        const auto it = byId_.find(id);
        return it == byId_.end() || it->second.empty() ? nullptr : it->second.front();
    }
    std::set<std::thread::id> Threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<talnet::http::RequestID, std::vector<std::shared_ptr<talnet::http::Response>>> byId_;
    std::set<std::thread::id> threads_;
    std::size_t count_ = 0;
};

}  // namespace nettest
