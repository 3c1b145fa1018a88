#include "sandbox/Sandbox.h"

#include <httplib.h>

#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <thread>

#include "sandbox/ApiEndpoints.h"
#include "sandbox/AuthEndpoints.h"
#include "sandbox/ControlEndpoints.h"
#include "sandbox/Exchange.h"
#include "sandbox/FaultRunner.h"
#include "sandbox/HttpServer.h"
#include "sandbox/Identifiers.h"
#include "sandbox/SandboxState.h"
#include "sandbox/UploadEndpoint.h"

namespace vekta::sandbox {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(5);

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// httplib adds these to every request itself; they are not what the client sent.
bool IsServerAddedHeader(const std::string& lowerName) {
    return lowerName == "remote_addr" || lowerName == "remote_port" || lowerName == "local_addr" ||
           lowerName == "local_port";
}

void DescribeRequest(const httplib::Request& req, RequestRecord& record) {
    record.method = req.method;
    record.path = req.path;
    std::map<std::string, int> seen;
    for (const auto& [name, value] : req.headers) {
        const std::string lower = Lower(name);
        if (!IsServerAddedHeader(lower)) ++seen[lower];
    }
    for (const auto& [name, count] : seen) {
        record.headerNames.push_back(name);
        if (count > 1) record.repeatedHeaders.push_back(name);
    }
    if (req.has_header("Content-Type")) record.contentType = req.get_header_value("Content-Type");
    if (req.has_header("Content-Length")) record.contentLength = req.get_header_value("Content-Length");
    if (req.has_header("Content-Range")) record.contentRange = req.get_header_value("Content-Range");
}

}  // namespace

struct Sandbox::Impl {
    explicit Impl(SandboxConfig config)
        : state(std::move(config)),
          authEndpoints(state.config, state.auth),
          apiEndpoints(state.config, state.auth, state.uploads, state.origin),
          uploadEndpoint(state.clock, state.uploads),
          controlEndpoints(state),
          faultRunner(state.faults) {}

    using Handler = std::function<void(Exchange&)>;

    // Every TikTok endpoint goes through here: the log record, injected faults, then the handler.
    void Serve(Exchange& ex, std::optional<Endpoint> endpoint, const Handler& handler) {
        DescribeRequest(ex.request, ex.record);
        if (endpoint) ex.record.endpoint = std::string(ToString(*endpoint));
        std::optional<Fault> rewrite;
        try {
            if (!endpoint || !ApplyFault(ex, *endpoint, rewrite)) handler(ex);
        } catch (const std::exception&) {
            ex.SendError(500, "internal_error", "The sandbox failed to answer this request");
        }
        if (ex.Dropped()) return;
        if (rewrite) {
            ex.response.status = rewrite->status;
            if (!rewrite->body.empty()) ex.response.set_content(rewrite->body, rewrite->contentType);
        }
        ex.DiscardBody();
        ex.record.status = ex.response.status == -1 ? 200 : ex.response.status;
        state.requests.Add(std::move(ex.record));
    }

    // Logged before the connection goes, so a client that sees the drop also finds its record.
    void Drop(Exchange& ex) {
        ex.record.status = 0;
        state.requests.Add(ex.record);
        ex.Drop();
    }

    // True when the fault replaced the answer; a fault that changes the real answer afterwards is
    // handed back in `rewrite`.
    bool ApplyFault(Exchange& ex, Endpoint endpoint, std::optional<Fault>& rewrite) {
        const auto fault = faultRunner.Take(endpoint);
        if (!fault) return false;
        ex.record.fault = std::string(ToString(fault->action));
        switch (fault->action) {
            case Fault::Action::Drop:
                Drop(ex);
                return true;
            case Fault::Action::Reset:
                ex.record.status = 0;
                state.requests.Add(ex.record);
                ex.Reset();
                return true;
            case Fault::Action::Truncate:
                ex.record.status = fault->status;
                state.requests.Add(ex.record);
                ex.SendTruncated(fault->status, fault->body, fault->contentType);
                return true;
            case Fault::Action::Rewrite:
                rewrite = fault;
                return false;
            case Fault::Action::Hang:
                if (faultRunner.HangUntilReleased()) return false;
                Drop(ex);
                return true;
            case Fault::Action::Delay:
                if (faultRunner.Wait(fault->delay)) return false;
                Drop(ex);
                return true;
            case Fault::Action::Respond:
                if (fault->delay.count() > 0 && !faultRunner.Wait(fault->delay)) {
                    Drop(ex);
                    return true;
                }
                ex.DiscardBody();
                ex.response.status = fault->status;
                if (!fault->body.empty()) ex.response.set_content(fault->body, fault->contentType);
                return true;
        }
        return false;
    }

    httplib::Server::Handler Route(std::optional<Endpoint> endpoint, Handler handler) {
        return [this, endpoint, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
            Exchange ex(req, res, NewLogId(state.clock.Now()));
            Serve(ex, endpoint, handler);
        };
    }

    void RegisterRoutes(httplib::Server& http) {
        http.set_socket_options([](socket_t socket) {
            // Plain address reuse: another process must not be able to share the port.
            int yes = 1;
            ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        });
        http.Get(kAuthorizePath, Route(Endpoint::Authorize, [this](Exchange& ex) { authEndpoints.Authorize(ex); }));
        http.Post(kConsentPath, Route(std::nullopt, [this](Exchange& ex) { authEndpoints.Consent(ex); }));
        http.Post(kTokenPath, Route(Endpoint::Token, [this](Exchange& ex) { authEndpoints.Token(ex); }));
        http.Get(kUserInfoPath, Route(Endpoint::UserInfo, [this](Exchange& ex) { apiEndpoints.UserInfo(ex); }));
        http.Post(kCreatorInfoPath,
                  Route(Endpoint::CreatorInfo, [this](Exchange& ex) { apiEndpoints.CreatorInfo(ex); }));
        http.Post(kDirectPostInitPath, Route(Endpoint::DirectPostInit,
                                             [this](Exchange& ex) { apiEndpoints.Init(ex, InitKind::DirectPost); }));
        http.Post(kInboxInitPath,
                  Route(Endpoint::InboxInit, [this](Exchange& ex) { apiEndpoints.Init(ex, InitKind::Inbox); }));
        http.Put(kUploadPath,
                 [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                     Exchange ex(req, res, NewLogId(state.clock.Now()), &reader);
                     Serve(ex, Endpoint::UploadChunk, [this](Exchange& exchange) { uploadEndpoint.Put(exchange); });
                 });
        controlEndpoints.Register(http);

        const auto notFound =
            Route(std::nullopt, [](Exchange& ex) { ex.SendError(404, "not_found", "No such endpoint"); });
        http.Get(".*", notFound);
        http.Post(".*", notFound);
        http.Put(".*", notFound);
        http.Patch(".*", notFound);
        http.Delete(".*", notFound);
    }

    SandboxState state;
    AuthEndpoints authEndpoints;
    ApiEndpoints apiEndpoints;
    UploadEndpoint uploadEndpoint;
    ControlEndpoints controlEndpoints;
    FaultRunner faultRunner;

    mutable std::mutex lifecycle;
    std::unique_ptr<HttpServer> server;
    std::thread serverThread;
    std::uint16_t port = 0;
};

Sandbox::Sandbox(SandboxConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

Sandbox::~Sandbox() { Stop(); }

bool Sandbox::Start(std::uint16_t port) {
    std::lock_guard lock(impl_->lifecycle);
    if (impl_->server) return false;
    impl_->faultRunner.Restart();
    auto server = std::make_unique<HttpServer>();
    impl_->RegisterRoutes(*server);
    const int bound =
        port == 0 ? server->bind_to_any_port("127.0.0.1") : (server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) return false;
    impl_->port = static_cast<std::uint16_t>(bound);
    impl_->state.origin = "http://127.0.0.1:" + std::to_string(bound);
    HttpServer* raw = server.get();
    impl_->serverThread = std::thread([raw] { raw->listen_after_bind(); });
    // Stop before the accept loop runs would not reach it, so Start returns only once it runs.
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (!raw->is_running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    impl_->server = std::move(server);
    if (!impl_->server->is_running()) return false;
    // The HTTP library sets up shared state while it answers its first request; answering one here,
    // before any client can race another first request, keeps that off the callers' threads.
    httplib::Client warmUp("127.0.0.1", bound);
    warmUp.set_connection_timeout(2, 0);
    warmUp.set_read_timeout(2, 0);
    warmUp.Get("/_sandbox/health");
    return true;
}

void Sandbox::Stop() {
    std::unique_ptr<HttpServer> server;
    std::thread serverThread;
    {
        std::lock_guard lock(impl_->lifecycle);
        server = std::move(impl_->server);
        serverThread = std::move(impl_->serverThread);
    }
    if (!server) return;
    impl_->faultRunner.Stop();
    server->StopAndDisconnect();
    if (serverThread.joinable()) serverThread.join();
}

bool Sandbox::Running() const {
    std::lock_guard lock(impl_->lifecycle);
    return impl_->server != nullptr;
}

std::uint16_t Sandbox::Port() const {
    std::lock_guard lock(impl_->lifecycle);
    return impl_->port;
}

std::string Sandbox::Origin() const { return "http://127.0.0.1:" + std::to_string(Port()); }

FaultInjector& Sandbox::Faults() { return impl_->state.faults; }

std::vector<ReceivedUpload> Sandbox::Uploads() const { return impl_->state.uploads.Snapshot(); }

std::optional<ReceivedUpload> Sandbox::Upload(const std::string& uploadId) const {
    return impl_->state.uploads.Snapshot(uploadId);
}

std::vector<RequestRecord> Sandbox::Requests() const { return impl_->state.requests.Snapshot(); }

void Sandbox::ClearRequests() { impl_->state.requests.Clear(); }

void Sandbox::SetRequestObserver(std::function<void(const RequestRecord&)> observer) {
    impl_->state.requests.SetObserver(std::move(observer));
}

void Sandbox::ExpireAccessTokens() { impl_->state.auth.ExpireAccessTokens(); }

void Sandbox::RevokeRefreshTokens() { impl_->state.auth.RevokeRefreshTokens(); }

void Sandbox::ExpireAuthorizationCodes() { impl_->state.auth.ExpireAuthorizationCodes(); }

void Sandbox::AdvanceClock(std::chrono::seconds by) { impl_->state.clock.Advance(by); }

SandboxConfig Sandbox::Config() const { return impl_->state.config.Snapshot(); }

void Sandbox::SetCreator(const CreatorSettings& creator) {
    impl_->state.config.Update([&](SandboxConfig& config) { config.creator = creator; });
}

void Sandbox::SetPrivateAccount(bool privateAccount) {
    impl_->state.config.Update([&](SandboxConfig& config) { config.creator.privateAccount = privateAccount; });
}

void Sandbox::SetAutoApprove(bool autoApprove) {
    impl_->state.config.Update([&](SandboxConfig& config) { config.autoApprove = autoApprove; });
}

void Sandbox::SetRotateRefreshTokens(bool rotate) {
    impl_->state.config.Update([&](SandboxConfig& config) { config.rotateRefreshTokens = rotate; });
}

void Sandbox::SetRefuseRotatedRefreshTokens(bool refuse) {
    impl_->state.config.Update([&](SandboxConfig& config) { config.refuseRotatedRefreshTokens = refuse; });
}

void Sandbox::SetMaxPendingUploads(int uploads) {
    impl_->state.config.Update([&](SandboxConfig& config) { config.maxPendingUploads = uploads; });
}

}  // namespace vekta::sandbox
