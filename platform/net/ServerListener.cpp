#include "ServerListener.h"

#include <algorithm>
#include <utility>

#include "NetTrace.h"
#include "ServerConnection.h"
#include "SocketPlatform.h"

namespace talnet::http::server::detail {

using talnet::http::detail::NetworkTrace;
using talnet::http::detail::NetworkTraceEnabled;

namespace asio = boost::asio;
using boost::system::error_code;

Listener::Listener(std::shared_ptr<ServiceRegistry> registry)
    : registry_(std::move(registry)), acceptor_(io_), acceptRetry_(io_) {}

Listener::~Listener() = default;

int Listener::Open(std::uint16_t port) {
    const asio::ip::tcp::endpoint endpoint(asio::ip::address_v4::loopback(), port);
    error_code error;
    acceptor_.open(endpoint.protocol(), error);
    if (error) return 500;
    KeepFromChildProcesses(acceptor_.native_handle());
    if (MakeAddressExclusive(acceptor_)) return 500;
    acceptor_.bind(endpoint, error);
    if (error) return port != 0 ? 409 : 500;  // the caller tries the next port on 409
    acceptor_.listen(asio::socket_base::max_listen_connections, error);
    if (error) return 500;
    port_ = acceptor_.local_endpoint(error).port();
    if (error) return 500;
    Accept();
    return 200;
}

void Listener::Run() {
    // A handler that throws ends run(); the others still deserve to be served.
    for (;;) {
        try {
            io_.run();
            return;
        } catch (...) {
        }
    }
}

void Listener::CloseAll() {
    error_code ignored;
    acceptor_.close(ignored);
    acceptRetry_.cancel();
    const auto connections = std::exchange(connections_, {});
    for (const auto& connection : connections) connection->Abandon();
}

void Listener::Forget(const Connection& connection) {
    const auto it = std::find_if(connections_.begin(), connections_.end(),
                                 [&](const auto& open) { return open.get() == &connection; });
    if (it != connections_.end()) connections_.erase(it);
}

void Listener::Accept() {
    acceptor_.async_accept([this](const error_code& error, asio::ip::tcp::socket socket) {
        if (!acceptor_.is_open() || error == asio::error::operation_aborted) return;
        if (error) {
            // Most likely no descriptor left: the connection stays queued, so wait instead of spinning.
            acceptRetry_.expires_after(kAcceptRetryDelay);
            acceptRetry_.async_wait([this](const error_code& waitError) {
                if (!waitError && acceptor_.is_open()) Accept();
            });
            return;
        }
        Admit(std::move(socket));
        Accept();
    });
}

void Listener::Admit(asio::ip::tcp::socket socket) {
    KeepFromChildProcesses(socket.native_handle());
    error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    if (connections_.size() >= kMaxConnections) {
        const auto oldest = std::find_if(connections_.begin(), connections_.end(),
                                         [](const auto& open) { return open->IsEvictable(); });
        if (oldest == connections_.end()) {
            // Every connection carries a request that is being answered; those end within their limits.
            socket.close(ignored);
            if (NetworkTraceEnabled()) NetworkTrace("server refused a connection: all are busy\n");
            return;
        }
        (*oldest)->Close();
        if (NetworkTraceEnabled()) NetworkTrace("server closed its oldest waiting connection to admit a new one\n");
    }
    auto connection = std::make_shared<Connection>(*this, std::move(socket));
    connections_.push_back(connection);
    connection->Begin();
}

}  // namespace talnet::http::server::detail
