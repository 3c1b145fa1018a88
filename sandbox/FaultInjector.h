#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vekta::sandbox {

// The endpoints whose answers a test can shape.
enum class Endpoint { Authorize, Token, UserInfo, CreatorInfo, DirectPostInit, InboxInit, UploadChunk };

std::string_view ToString(Endpoint endpoint);
std::optional<Endpoint> EndpointFromString(std::string_view name);

struct Fault {
    enum class Action {
        Respond,   // answer `status` with `body` instead of the real answer
        Delay,     // wait `delay`, then answer normally
        Hang,      // answer nothing until released (then normally) or until the sandbox stops
        Drop,      // close the connection without an answer
        Reset,     // abort the connection with a TCP reset, without an answer
        Truncate,  // answer `status`, announcing all of `body` but sending only its first half, then close
        Rewrite,   // answer normally, then replace the status (and the body, when one is given)
    };

    Action action = Action::Respond;
    int status = 500;
    std::string body;
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};  // also waited before a Respond
    int count = 1;                       // how many of the next calls it applies to

    static Fault Respond(int status, std::string body = {});
    static Fault Delay(std::chrono::milliseconds delay);
    static Fault Hang();
    static Fault Drop();
    static Fault Reset();
    static Fault Truncate(int status, std::string body);
    static Fault Rewrite(int status, std::string body = {});
    Fault Times(int calls) const;
};

std::string_view ToString(Fault::Action action);
std::optional<Fault::Action> FaultActionFromString(std::string_view name);

class FaultRunner;

// Queued faults per endpoint, consumed call by call by the server. Thread-safe.
class FaultInjector {
public:
    // Queued behind earlier faults for the same endpoint.
    void Add(Endpoint endpoint, Fault fault);
    void Clear();
    // Calls still to be shaped by queued faults.
    std::size_t Queued(Endpoint endpoint) const;

    // Lets every hung request go on and answer normally.
    void ReleaseHangs();
    std::size_t Hanging() const;
    // Bounded wait until at least `count` requests hang; for tests that must know a request arrived.
    bool WaitUntilHanging(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    friend class FaultRunner;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<Endpoint, std::deque<Fault>> queued_;
    std::uint64_t releaseGeneration_ = 0;
    std::size_t hanging_ = 0;
    bool stopped_ = false;
};

}  // namespace vekta::sandbox
