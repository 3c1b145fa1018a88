#include "ServerConnection.h"

#include <algorithm>
#include <array>
#include <utility>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "NetTrace.h"
#include "ServerListener.h"
#include "ServerRequest.h"

namespace talnet::http::server::detail {

using talnet::http::detail::NetworkTrace;
using talnet::http::detail::NetworkTraceEnabled;

namespace {

namespace asio = boost::asio;
using boost::system::error_code;

// A path as a trace line may show it: short, printable, on one line.
std::string TracePath(std::string_view path) {
    constexpr std::size_t kMaxTracedPath = 80;
    std::string out(path.substr(0, kMaxTracedPath));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    }
    return path.size() > kMaxTracedPath ? out + "..." : out;
}

}  // namespace

Connection::Connection(Listener& listener, asio::ip::tcp::socket socket)
    : listener_(listener), socket_(std::move(socket)), deadline_(listener.Io()) {}

void Connection::Begin() {
    ArmDeadline(kHeadDeadline, Stage::ReadingHead);
    ReadHead();
}

void Connection::ReadHead() {
    socket_.async_read_some(reader_.Room(), [self = shared_from_this()](const error_code& error, std::size_t read) {
        if (self->stage_ != Stage::ReadingHead) return;
        if (error) {
            self->Close();  // the client went away before its head was complete
            return;
        }
        if (self->reader_.Take(read) == HeadReader::State::Reading) {
            self->ReadHead();
        } else {
            self->OnHead();
        }
    });
}

void Connection::OnHead() {
    switch (reader_.GetState()) {
        case HeadReader::State::Complete:
            Dispatch();
            return;
        case HeadReader::State::Refused:
            Answer(reader_.RefusalStatus());
            return;
        default:
            Close();
            return;
    }
}

void Connection::Dispatch() {
    const auto& head = reader_.Head();
    const auto methodText = head.method_string();
    const auto targetText = head.target();
    RequestView request(std::string(methodText.data(), methodText.size()),
                        std::string_view(targetText.data(), targetText.size()));
    traceLabel_ = request.GetMethod() + " " + TracePath(request.GetPath());

    const std::shared_ptr<Service> service = listener_.Registry().Find(request.GetPath());
    if (!service) {
        Answer(404);
        return;
    }
    stage_ = Stage::AwaitingService;
    record_ = std::make_shared<ResponseRecord>();
    ArmDeadline(listener_.Registry().ServiceTimeout(), Stage::AwaitingService);
    // [any-thread] Hands the answer to the server's thread. Holds nothing strongly: a completion that
    // comes after the server stopped, or more than once, finds nothing to do.
    ServiceCompletion completion = [listener = listener_.weak_from_this(),
                                    connection = weak_from_this()](const std::shared_ptr<MutableResponse>&) {
        if (const auto alive = listener.lock()) {
            asio::post(alive->Io(), [connection] {
                if (const auto self = connection.lock()) self->OnServiceAnswered();
            });
        }
    };
    try {
        service->Handle(request, record_, std::move(completion));
    } catch (...) {
        if (stage_ == Stage::AwaitingService) Answer(500);
    }
}

void Connection::OnServiceAnswered() {
    if (stage_ != Stage::AwaitingService) return;
    // Read once the completion has run; the service does not touch the record after that.
    Send(record_->Head(), record_->Payload(), record_->Status());
}

void Connection::Answer(int status) { Send(StatusOnlyHead(status), nullptr, status); }

void Connection::Send(std::string head, std::shared_ptr<const std::string> payload, int status) {
    if (NetworkTraceEnabled()) {
        NetworkTrace("server " + (traceLabel_.empty() ? std::string("request") : traceLabel_) + " -> " +
                     std::to_string(status) + "\n");
    }
    stage_ = Stage::Writing;
    head_ = std::move(head);
    payload_ = std::move(payload);
    ArmDeadline(kWriteDeadline, Stage::Writing);
    const std::array<asio::const_buffer, 2> buffers{asio::buffer(head_),
                                                    payload_ ? asio::buffer(*payload_) : asio::const_buffer()};
    asio::async_write(socket_, buffers, [self = shared_from_this()](const error_code& error, std::size_t) {
        if (self->stage_ != Stage::Writing) return;
        if (error) {
            self->Close();
        } else {
            self->Drain();
        }
    });
}

void Connection::Drain() {
    stage_ = Stage::Draining;
    head_.clear();
    payload_.reset();
    error_code ignored;
    socket_.shutdown(asio::socket_base::shutdown_send, ignored);  // the client sees the end of the answer
    ArmDeadline(kDrainDeadline, Stage::Draining);
    DiscardSome();
}

void Connection::DiscardSome() {
    socket_.async_read_some(reader_.DiscardRoom(),
                            [self = shared_from_this()](const error_code& error, std::size_t read) {
                                if (self->stage_ != Stage::Draining) return;
                                self->drainedBytes_ += read;
                                if (error || self->drainedBytes_ >= kMaxDrainBytes) {
                                    self->Close();
                                } else {
                                    self->DiscardSome();
                                }
                            });
}

void Connection::ArmDeadline(std::chrono::steady_clock::duration limit, Stage stage) {
    deadline_.expires_after(limit);  // cancels the wait of the stage before
    deadline_.async_wait([self = shared_from_this(), stage](const error_code& error) {
        if (!error && self->stage_ == stage) self->OnDeadline(stage);
    });
}

void Connection::OnDeadline(Stage stage) {
    if (stage == Stage::AwaitingService) {
        Answer(500);  // the service may still fill its record; it is not read from here on
        return;
    }
    if (stage == Stage::ReadingHead && NetworkTraceEnabled())
        NetworkTrace("server closed a connection whose request head came too late\n");
    Close();
}

void Connection::Close() {
    if (stage_ == Stage::Closed) return;
    const auto self = shared_from_this();  // the listener may hold the last reference
    stage_ = Stage::Closed;
    error_code ignored;
    deadline_.cancel();
    socket_.close(ignored);
    listener_.Forget(*this);
}

void Connection::Abandon() {
    if (stage_ == Stage::AwaitingService) {
        // Without waiting: a client that does not read must not hold the stop up.
        error_code error;
        socket_.non_blocking(true, error);
        const std::string head = StatusOnlyHead(503);
        if (!error) asio::write(socket_, asio::buffer(head), error);
        if (!error) socket_.shutdown(asio::socket_base::shutdown_send, error);
    }
    Close();
}

}  // namespace talnet::http::server::detail
