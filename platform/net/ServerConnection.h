// One accepted connection of the loopback server: it reads one request head within the limits,
// hands the request to its service, sends the answer and closes. Everything it holds is bounded
// (a head buffer of fixed size, one timer), whatever the client sends or how slowly.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "ServerHead.h"
#include "ServerLimits.h"
#include "ServerResponse.h"

namespace talnet::http::server::detail {

class Listener;

// [server-thread] unless said otherwise. The listener owns it while it is open; the operations in
// flight hold it too, so it lives until the last of them has ended.
class Connection final : public std::enable_shared_from_this<Connection> {
public:
    enum class Stage { ReadingHead, AwaitingService, Writing, Draining, Closed };

    Connection(Listener& listener, boost::asio::ip::tcp::socket socket);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Starts the head's deadline and reading.
    void Begin();
    // Closes the socket at once and leaves the listener.
    void Close();
    // At stop, also from another thread once the server's thread has ended: a request waiting for its
    // service is answered 503 when the socket takes it without waiting; then the connection closes.
    void Abandon();
    // Waiting for its head, or already answered: closing it costs no request an answer.
    bool IsEvictable() const { return stage_ == Stage::ReadingHead || stage_ == Stage::Draining; }

private:
    void ReadHead();
    // The head is complete, refused or unreadable.
    void OnHead();
    void Dispatch();
    void OnServiceAnswered();
    void Answer(int status);
    void Send(std::string head, std::shared_ptr<const std::string> payload, int status);
    void Drain();
    void DiscardSome();
    // Ends the stage `stage` when it lasts longer than `limit`.
    void ArmDeadline(std::chrono::steady_clock::duration limit, Stage stage);
    void OnDeadline(Stage stage);

    Listener& listener_;  // outlives every connection: their operations run in its io_context
    boost::asio::ip::tcp::socket socket_;
    boost::asio::steady_timer deadline_;
    HeadReader reader_;
    Stage stage_ = Stage::ReadingHead;
    std::string traceLabel_;  // method and path, never the query
    std::shared_ptr<ResponseRecord> record_;
    // What is being sent; kept until the write has ended.
    std::string head_;
    std::shared_ptr<const std::string> payload_;
    std::size_t drainedBytes_ = 0;
};

}  // namespace talnet::http::server::detail
