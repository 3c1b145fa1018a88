// Small helpers shared by the sign-in and account tests: reading the addresses the plug-in builds,
// visiting the loopback listener like a browser, occupying ports, and capturing traces. Header-only
// and free of the module, so the directly linked tests can use it too.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "brimkit/IdleCountdownTimer.h"
#include "sandbox/HeadlessBrowser.h"
#include "sandbox/Sandbox.h"
#include "talcore/debug/Trace.h"

namespace vekta::test {

// The query pairs of `url`, form-decoded ("+" a space, %XX a byte); a repeated name keeps its first.
inline std::map<std::string, std::string> QueryOf(const std::string& url) {
    const auto decode = [](const std::string& text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '%' && i + 2 < text.size()) {
                out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
                i += 2;
            } else {
                out.push_back(text[i] == '+' ? ' ' : text[i]);
            }
        }
        return out;
    };
    std::map<std::string, std::string> pairs;
    if (url.find('?') == std::string::npos) return pairs;
    std::istringstream query(url.substr(url.find('?') + 1));
    for (std::string pair; std::getline(query, pair, '&');) {
        const auto equals = pair.find('=');
        pairs.emplace(decode(pair.substr(0, equals)), equals == std::string::npos ? "" : decode(pair.substr(equals + 1)));
    }
    return pairs;
}

// The port of "http://127.0.0.1:PORT/...", or 0.
inline int PortOf(const std::string& url) {
    const std::string prefix = "http://127.0.0.1:";
    if (url.rfind(prefix, 0) != 0) return 0;
    return std::atoi(url.c_str() + prefix.size());
}

// Bounded polling without pumping the main thread's tasks (safe on any thread).
inline bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// One GET of a loopback address, as the person's browser would make it.
inline tiktok_sandbox::BrowserResult Visit(const std::string& url) {
    return tiktok_sandbox::HeadlessBrowser(tiktok_sandbox::HeadlessBrowser::Choice::Authorize,
                                           std::chrono::seconds(5))
        .Open(url);
}

inline std::size_t CountRequests(tiktok_sandbox::Sandbox& sandbox, const std::string& endpoint) {
    const auto requests = sandbox.Requests();
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(),
                                                  [&](const auto& r) { return r.endpoint == endpoint; }));
}

// Listening sockets on 127.0.0.1 that keep `count` ports from `first` on away from the plug-in's
// listener while this lives. Ports another program holds count as taken too.
class PortBlocker {
public:
    PortBlocker(int first, int count) {
        for (int port = first; port < first + count; ++port) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            // As the listener does, so that a port left in TIME_WAIT by an earlier test is held too.
            const int yes = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool held = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 1) == 0;
            if (held) {
                sockets_.push_back(fd);
            } else {
                ::close(fd);
            }
        }
    }
    ~PortBlocker() {
        for (const int fd : sockets_) ::close(fd);
    }
    PortBlocker(const PortBlocker&) = delete;
    PortBlocker& operator=(const PortBlocker&) = delete;

private:
    std::vector<int> sockets_;
};

// Every trace category at every level into a fresh file, for as long as this lives.
class TraceCapture {
public:
    TraceCapture() {
        std::filesystem::remove(path_);
        talcore::debug::SetTraceConfig("*:10", path_.string());
    }
    ~TraceCapture() {
        talcore::debug::SetTraceConfig("");
        std::filesystem::remove(path_);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    std::string Text() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    const std::filesystem::path path_ =
        std::filesystem::temp_directory_path() / ("vekta-signin-trace-" + std::to_string(::getpid()) + ".log");
};

// Login timers armed while this lives run `scale` times their duration; real time comes back after.
class LoginTimeScale {
public:
    explicit LoginTimeScale(double scale) { Brim::IdleCountdownTimer::SetTimeScaleForTesting(scale); }
    ~LoginTimeScale() { Brim::IdleCountdownTimer::SetTimeScaleForTesting(1.0); }
    LoginTimeScale(const LoginTimeScale&) = delete;
    LoginTimeScale& operator=(const LoginTimeScale&) = delete;
};

}  // namespace vekta::test
