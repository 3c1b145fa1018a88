// The loopback server's socket and its connections, all served by one io_context on the server's
// thread. It keeps at most kMaxConnections open: at the limit the oldest connection that has not
// sent its head yet makes room for the new one.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "ServiceRegistry.h"

namespace talnet::http::server::detail {

class Connection;

class Listener final : public std::enable_shared_from_this<Listener> {
public:
    explicit Listener(std::shared_ptr<ServiceRegistry> registry);
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener();

    // [caller's thread, before Run] Binds 127.0.0.1:`port` (0: any free port) and starts accepting.
    // 200 when listening, 409 when the port cannot be had, 500 for another failure.
    int Open(std::uint16_t port);
    std::uint16_t Port() const { return port_; }
    // [server-thread] Serves until Stop.
    void Run();
    // [any-thread] Makes Run return as soon as the handler running now, if any, has returned.
    void Stop() { io_.stop(); }
    // [server-thread, or any thread once Run has returned] Closes the socket and every connection.
    void CloseAll();

    // For the connections. [server-thread]
    boost::asio::io_context& Io() { return io_; }
    const ServiceRegistry& Registry() const { return *registry_; }
    void Forget(const Connection& connection);

private:
    void Accept();
    void Admit(boost::asio::ip::tcp::socket socket);

    const std::shared_ptr<ServiceRegistry> registry_;
    // Before the sockets so it is destroyed after them: they and the operations queued in it need it.
    boost::asio::io_context io_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer acceptRetry_;
    std::vector<std::shared_ptr<Connection>> connections_;  // in the order they were accepted
    std::uint16_t port_ = 0;
};

}  // namespace talnet::http::server::detail
