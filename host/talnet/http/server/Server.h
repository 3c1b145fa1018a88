// A small HTTP server on the loopback interface, for redirects from the system browser.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "talcore/TalExport.h"

namespace talnet::http::server {

class TAL_API Request {
public:
    virtual ~Request() = default;
    virtual const std::string& GetMethod() const = 0;
    virtual const std::string& GetPath() const = 0;
    // The decoded value of query parameter `name` as UTF-8 in `value`; true when present.
    virtual bool GetQueryParameter(std::string_view name, std::string& value) const = 0;
};

class TAL_API MutableResponse {
public:
    virtual ~MutableResponse() = default;
    virtual void SetStatus(int status) = 0;
    // The payload is shared, not copied, and kept alive until it has been sent.
    virtual void SetPayload(std::shared_ptr<const std::string> payload, std::string contentType) = 0;
    virtual void SetHeader(std::string name, std::string value) = 0;
};

// Called once per request with the response the service filled.
using ServiceCompletion = std::function<void(const std::shared_ptr<MutableResponse>& response)>;

class TAL_API Service {
public:
    virtual ~Service() = default;
    // [server-thread] Answers one request: fill `response`, then call `completion` with it once
    // (possibly later, from another thread, within a few seconds).
    virtual void Handle(const Request& request, std::shared_ptr<MutableResponse> response,
                        ServiceCompletion completion) = 0;
    virtual std::string GetPath() const = 0;
};

class TAL_API Server {
public:
    // `port` 0 picks a free port. Binds 127.0.0.1 only. The two further arguments are kept for the
    // host's interface (secure: must be false; backlog: -1 for the default).
    Server(std::uint16_t port, bool secure, int backlog);
    ~Server();  // stops
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and starts listening on its own thread. 200 when listening; another value (for example
    // 409 when the port is taken) when it cannot.
    int Start();
    std::uint16_t GetPort() const;
    // Requests for `path` (exact match, query ignored) go to `service`; other paths get 404.
    void RegisterService(const std::string& path, std::shared_ptr<Service> service);
    // [any-thread] Stops listening and closes every connection without waiting for any client; a
    // request still waiting for its service is answered 503. Waits for the server's thread, except
    // when called on that thread (by a service), which then ends once the service has returned.
    // Safe to call more than once.
    void Stop();
    // Host side. How long a request waits for its service's completion before it is answered
    // with 500 (30 seconds unless changed).
    void SetServiceTimeout(std::chrono::milliseconds limit);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace talnet::http::server
