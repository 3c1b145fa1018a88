#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string_view>

namespace vekta::sandbox {

class ConnectionRegistry;

// One accepted connection, as a handler sees it while it answers a request on it.
class Connection {
public:
    Connection(ConnectionRegistry& registry, int socket) : registry_(registry), socket_(socket) {}

    // Closes the connection at once, without an answer.
    void Drop();
    // Aborts the connection with a TCP reset, without an answer.
    void Reset();
    // Writes `bytes` as they are (an answer of the handler's own making), then closes.
    void SendThenClose(std::string_view bytes);
    // Answers this request, then closes: for answers sent before a request body was read.
    void CloseAfterResponse() { closeAfterResponse_ = true; }
    bool ClosingAfterResponse() const { return closeAfterResponse_; }
    bool Dropped() const { return dropped_; }
    int Socket() const { return socket_; }

private:
    ConnectionRegistry& registry_;
    const int socket_;
    std::atomic<bool> closeAfterResponse_{false};
    std::atomic<bool> dropped_{false};
};

// The open connections, so Stop can break every one of them (idle keep-alive, a body being read,
// an answer being written) instead of waiting out their timeouts.
class ConnectionRegistry {
public:
    // False once stopping: the caller closes the socket unanswered.
    bool Add(Connection* connection);
    // After this nobody touches the socket again, so the caller may close it.
    void Remove(Connection* connection);
    void Shutdown(const Connection& connection);
    void Reset(const Connection& connection);
    void ShutdownAll();

private:
    std::mutex mutex_;
    std::set<Connection*> open_;
    bool stopping_ = false;
};

// The connection the current thread is answering on; null outside a request handler.
Connection* CurrentConnection();

// httplib's server with our own connection loop: it reads through a large buffer (an upload's
// body arrives in big reads rather than 4 KiB ones), lets a handler drop or close its connection,
// and lets Stop cut every connection at once.
class HttpServer : public httplib::Server {
public:
    HttpServer();

    void StopAndDisconnect();

private:
    bool process_and_close_socket(socket_t sock) override;

    ConnectionRegistry connections_;
    std::chrono::seconds keepAliveTimeout_{30};
    std::chrono::seconds readTimeout_{10};
    std::chrono::seconds writeTimeout_{10};
};

}  // namespace vekta::sandbox
