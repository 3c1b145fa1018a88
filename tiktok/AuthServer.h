// The loopback listener that receives TikTok's redirect after the user signed in in the browser.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "talnet/http/server/Server.h"

namespace Vekta {

// "http://127.0.0.1:<port>/VektaAuthTikTok": where TikTok sends the browser back to.
std::string MakeRedirectUri(std::uint32_t port);

// A service of the listener; the TikTok redirect service derives from it.
class AuthService : public talnet::http::server::Service {};

class AuthServer {
public:
    static constexpr std::uint32_t kBasePort = 55980;
    static constexpr std::uint32_t kPortAttempts = 20;

    AuthServer(std::uint32_t basePort, std::uint32_t portAttempts);
    ~AuthServer();  // stops the server
    AuthServer(const AuthServer&) = delete;
    AuthServer& operator=(const AuthServer&) = delete;

    // Listens on the first free port from basePort and registers `service` under its path. 200 when
    // listening (a second call keeps the first service), -3 when no port could be bound.
    int StartService(std::shared_ptr<AuthService> service);
    // Registers a further service on the running server under its own path; false when the server
    // is not started.
    bool AddService(std::shared_ptr<AuthService> service);
    std::uint32_t GetPort() const noexcept { return port_; }
    bool IsStarted() const noexcept { return started_ != 0; }

private:
    std::shared_ptr<talnet::http::server::Server> server_;
    std::shared_ptr<talnet::http::server::Service> service_;
    std::vector<std::shared_ptr<talnet::http::server::Service>> furtherServices_;
    std::int32_t started_ = 0;
    std::uint32_t basePort_;
    std::uint32_t portAttempts_;
    std::uint32_t port_ = 0;
};

}  // namespace Vekta
