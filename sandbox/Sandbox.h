#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/FaultInjector.h"
#include "sandbox/Inspection.h"
#include "sandbox/SandboxConfig.h"

namespace vekta::sandbox {

// A local stand-in for TikTok's sign-in and publishing endpoints, on one origin bound to
// 127.0.0.1. Everything here is thread-safe.
class Sandbox {
public:
    explicit Sandbox(SandboxConfig config = {});
    ~Sandbox();  // stops
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port) and serves on its own threads; connections are
    // accepted once this returns true.
    bool Start(std::uint16_t port = 0);
    // Ends hung and delayed answers, cuts open connections and joins every thread.
    void Stop();
    bool Running() const;
    std::uint16_t Port() const;
    std::string Origin() const;  // "http://127.0.0.1:PORT"

    FaultInjector& Faults();

    std::vector<ReceivedUpload> Uploads() const;
    std::optional<ReceivedUpload> Upload(const std::string& uploadId) const;
    std::vector<RequestRecord> Requests() const;
    void ClearRequests();
    // Called for each request once it is answered, on a server thread.
    void SetRequestObserver(std::function<void(const RequestRecord&)> observer);

    // Tokens are never shown; tests age or revoke them instead.
    void ExpireAccessTokens();
    void RevokeRefreshTokens();
    void ExpireAuthorizationCodes();
    // Moves the sandbox's clock forward (codes, tokens and upload URLs age with it).
    void AdvanceClock(std::chrono::seconds by);

    SandboxConfig Config() const;
    void SetCreator(const CreatorSettings& creator);
    void SetPrivateAccount(bool privateAccount);
    void SetAutoApprove(bool autoApprove);
    void SetRotateRefreshTokens(bool rotate);
    void SetRefuseRotatedRefreshTokens(bool refuse);
    void SetMaxPendingUploads(int uploads);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vekta::sandbox
