// Raw clients of the loopback server for its tests: bytes on a real socket on 127.0.0.1, answers
// read with a bound, and a service whose answer a test writes as a function.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>
#include <fstream>
#include <functional>
#include <string>

#include "talnet/http/server/Server.h"

namespace servertest {

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
    void Handle(const Request& request, std::shared_ptr<MutableResponse> response, ServiceCompletion completion) override {
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
    return std::make_shared<ScriptedService>([](const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion done) {
        done(response);
    });
}

inline sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

inline int Connect(const char* address, std::uint16_t port) {
    sockaddr_in target = Loopback(port);
    ::inet_pton(AF_INET, address, &target.sin_addr);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) return fd;
    ::close(fd);
    return -1;
}

inline bool CanConnect(const char* address, std::uint16_t port) {
    const int fd = Connect(address, port);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

// True when the server closed `fd` (end of stream or a reset) within `limit`; what it sent before
// is appended to `answer`.
inline bool WaitClosedByPeer(int fd, Clock::duration limit, std::string* answer = nullptr) {
    char buffer[4096];
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, 50) <= 0) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
        if (n > 0 && answer) answer->append(buffer, static_cast<std::size_t>(n));
    }
    return false;
}

// Sends raw bytes; the answer the server gives before it closes.
inline std::string Raw(std::uint16_t port, const std::string& request) {
    const int fd = Connect("127.0.0.1", port);
    if (fd < 0) return "";
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    WaitClosedByPeer(fd, 10s, &answer);
    ::close(fd);
    return answer;
}

inline int StatusOf(const std::string& answer) {
    return answer.starts_with("HTTP/1.1 ") && answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : -1;
}

inline int RawStatus(std::uint16_t port, const std::string& request) { return StatusOf(Raw(port, request)); }

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"), or -1.
inline long StatusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field)) return std::stol(line.substr(field.size()));
    }
    return -1;
}

}  // namespace servertest
