#include "sandbox/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace vekta::sandbox {
namespace {

thread_local Connection* tCurrentConnection = nullptr;

constexpr std::size_t kReadBufferSize = 256 * 1024;
constexpr std::size_t kKeepAliveMaxRequests = 1000;
constexpr std::size_t kWorkerThreads = 16;

int ToPollTimeout(std::chrono::milliseconds timeout) {
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(timeout.count(), 1 << 30));
}

bool PollFor(int socket, short events, std::chrono::milliseconds timeout) {
    pollfd entry{socket, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, ToPollTimeout(timeout));
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

void AddressOf(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof(text));
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof(text));
        port = ntohs(v6.sin6_port);
    }
    ip = text;
}

// A socket read through a large buffer: httplib reads request lines a byte at a time and bodies
// 4 KiB at a time, which would otherwise cost a system call each.
class BufferedSocketStream final : public httplib::Stream {
public:
    BufferedSocketStream(int socket, std::chrono::seconds readTimeout, std::chrono::seconds writeTimeout)
        : socket_(socket), readTimeout_(readTimeout), writeTimeout_(writeTimeout), buffer_(kReadBufferSize) {}

    bool WaitForRequest(std::chrono::milliseconds timeout) const {
        return begin_ < end_ || PollFor(socket_, POLLIN, timeout);
    }

    bool is_readable() const override { return begin_ < end_ || PollFor(socket_, POLLIN, readTimeout_); }

    bool is_writable() const override { return PollFor(socket_, POLLOUT, writeTimeout_); }

    ssize_t read(char* ptr, size_t size) override {
        if (begin_ == end_) {
            if (size >= buffer_.size()) return Receive(ptr, size);
            const ssize_t received = Receive(buffer_.data(), buffer_.size());
            if (received <= 0) return received;
            begin_ = 0;
            end_ = static_cast<std::size_t>(received);
        }
        const std::size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_.data() + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        for (;;) {
            const ssize_t sent = ::send(socket_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0) return sent;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
            if (!is_writable()) return -1;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof(address);
        if (::getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            AddressOf(address, ip, port);
        }
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof(address);
        if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            AddressOf(address, ip, port);
        }
    }

    socket_t socket() const override { return socket_; }

private:
    // Tries first and waits only when nothing is there, so a busy upload costs one call per read.
    ssize_t Receive(char* into, std::size_t size) {
        for (;;) {
            const ssize_t received = ::recv(socket_, into, size, MSG_DONTWAIT);
            if (received >= 0) return received;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
            if (!PollFor(socket_, POLLIN, readTimeout_)) return -1;
        }
    }

    const int socket_;
    const std::chrono::milliseconds readTimeout_;
    const std::chrono::milliseconds writeTimeout_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

class CurrentConnectionScope {
public:
    explicit CurrentConnectionScope(Connection* connection) { tCurrentConnection = connection; }
    ~CurrentConnectionScope() { tCurrentConnection = nullptr; }
    CurrentConnectionScope(const CurrentConnectionScope&) = delete;
    CurrentConnectionScope& operator=(const CurrentConnectionScope&) = delete;
};

}  // namespace

void Connection::Drop() {
    dropped_ = true;
    registry_.Shutdown(*this);
}

void Connection::Reset() {
    dropped_ = true;
    registry_.Reset(*this);
}

void Connection::SendThenClose(std::string_view bytes) {
    dropped_ = true;
    while (!bytes.empty()) {
        const ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!PollFor(socket_, POLLOUT, std::chrono::seconds(10))) break;
        } else {
            break;
        }
    }
    // An orderly end after the bytes: the peer reads them all, then the end of the stream.
    ::shutdown(socket_, SHUT_WR);
}

bool ConnectionRegistry::Add(Connection* connection) {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    open_.insert(connection);
    return true;
}

void ConnectionRegistry::Remove(Connection* connection) {
    std::lock_guard lock(mutex_);
    open_.erase(connection);
}

void ConnectionRegistry::Shutdown(const Connection& connection) {
    std::lock_guard lock(mutex_);
    // Linger zero: the peer sees the connection reset rather than an orderly end of an answer.
    linger abort{1, 0};
    ::setsockopt(connection.Socket(), SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    ::shutdown(connection.Socket(), SHUT_RDWR);
}

void ConnectionRegistry::Reset(const Connection& connection) {
    std::lock_guard lock(mutex_);
    // Dissolving a TCP association sends a reset at once, where a shutdown would send an orderly end
    // first; the descriptor stays open for the connection loop to close.
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    // Its result says nothing useful: the association is gone either way, or was never there.
    (void)::connect(connection.Socket(), &unspecified, sizeof(unspecified));
}

void ConnectionRegistry::ShutdownAll() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (Connection* connection : open_) ::shutdown(connection->Socket(), SHUT_RDWR);
}

Connection* CurrentConnection() { return tCurrentConnection; }

HttpServer::HttpServer() {
    new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    set_keep_alive_max_count(kKeepAliveMaxRequests);
    set_keep_alive_timeout(keepAliveTimeout_.count());
    set_read_timeout(readTimeout_.count());
    set_write_timeout(writeTimeout_.count());
}

void HttpServer::StopAndDisconnect() {
    stop();
    connections_.ShutdownAll();
}

bool HttpServer::process_and_close_socket(socket_t sock) {
    // An answer goes out as headers then body; without this the body waits for the client's
    // delayed acknowledgement of the headers on a reused connection.
    int noDelay = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));
    Connection connection(connections_, sock);
    bool answered = false;
    if (connections_.Add(&connection)) {
        CurrentConnectionScope scope(&connection);
        BufferedSocketStream stream(sock, readTimeout_, writeTimeout_);
        for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
            if (svr_sock_ == INVALID_SOCKET || !stream.WaitForRequest(keepAliveTimeout_)) break;
            bool clientClosing = false;
            answered = process_request(stream, left == 1, clientClosing, nullptr);
            if (!answered || clientClosing || connection.ClosingAfterResponse() || connection.Dropped()) break;
        }
        connections_.Remove(&connection);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return answered;
}

}  // namespace vekta::sandbox
