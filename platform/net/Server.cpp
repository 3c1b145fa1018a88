// The loopback server on cpp-httplib. It serves the browser's redirect after a sign-in: a few small
// GET requests. Everything is decided before routing (limits, path lookup, the service's answer),
// and every connection carries one request, so nothing left unread can be taken for the next one.
#include "talnet/http/server/Server.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <httplib.h>

#include "NetTrace.h"

namespace talnet::http::server {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kLoopbackAddress = "127.0.0.1";
constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
constexpr std::size_t kMaxBodyBytes = 4 * 1024;
constexpr std::size_t kWorkerThreads = 4;
// An idle connection (a browser's speculative one) holds a worker only this long, which also
// bounds how long Stop can wait for it.
constexpr time_t kIdleConnectionSeconds = 2;
constexpr time_t kReadTimeoutSeconds = 5;
constexpr auto kDefaultServiceTimeout = std::chrono::seconds(30);
constexpr auto kListenStartLimit = std::chrono::seconds(10);

// Headers httplib adds to the request itself; they did not come from the client.
bool IsAddedByHttplib(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

bool HasLineBreak(const std::string& text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "+" is a space and %XX a byte; a "%" without two hex digits stays as it is.
std::string FormDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

class RequestView final : public Request {
public:
    explicit RequestView(const httplib::Request& request) : request_(request) {}
    const std::string& GetMethod() const override { return request_.method; }
    const std::string& GetPath() const override { return request_.path; }
    // Read from the raw target: httplib's own decoding keeps "+", which a form-encoded query
    // (what an authorization server sends back) uses for a space.
    bool GetQueryParameter(std::string_view name, std::string& value) const override {
        std::string_view query(request_.target);
        const auto start = query.find('?');
        if (start == std::string_view::npos) return false;
        query = query.substr(start + 1);
        query = query.substr(0, query.find('#'));
        while (!query.empty()) {
            const auto end = query.find('&');
            const std::string_view pair = query.substr(0, end);
            query = end == std::string_view::npos ? std::string_view{} : query.substr(end + 1);
            const auto equals = pair.find('=');
            if (FormDecode(pair.substr(0, equals)) != name) continue;
            value = equals == std::string_view::npos ? std::string() : FormDecode(pair.substr(equals + 1));
            return true;
        }
        return false;
    }

private:
    const httplib::Request& request_;
};

class ResponseRecord final : public MutableResponse {
public:
    void SetStatus(int status) override { status_ = status; }
    void SetPayload(std::shared_ptr<const std::string> payload, std::string contentType) override {
        payload_ = std::move(payload);
        contentType_ = std::move(contentType);
    }
    void SetHeader(std::string name, std::string value) override { headers_.emplace_back(std::move(name), std::move(value)); }

    void WriteTo(httplib::Response& out) const {
        out.status = status_ >= 100 && status_ <= 599 ? status_ : 500;
        for (const auto& [name, value] : headers_) {
            // A line break would let a value start a header or a body of its own.
            if (name.empty() || HasLineBreak(name) || HasLineBreak(value) || name.find(':') != std::string::npos) continue;
            out.set_header(name, value);
        }
        if (payload_) {
            // The payload is written from the shared text itself, which the provider keeps alive.
            out.set_content_provider(payload_->size(), contentType_,
                                     [payload = payload_](size_t offset, size_t length, httplib::DataSink& sink) {
                                         if (offset >= payload->size()) return true;
                                         return sink.write(payload->data() + offset, std::min(length, payload->size() - offset));
                                     });
        }
    }

private:
    int status_ = 200;
    std::shared_ptr<const std::string> payload_;
    std::string contentType_;
    std::vector<std::pair<std::string, std::string>> headers_;
};

// What the request handlers share with the Server; it outlives the Server while a late service
// completion still holds it.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;  // a completion arrived, or the server is stopping
    std::map<std::string, std::shared_ptr<Service>, std::less<>> services;
    std::chrono::milliseconds serviceTimeout = kDefaultServiceTimeout;
    bool stopping = false;
};

struct Reply {
    bool done = false;  // guarded by Shared::mutex
};

void Answer(const std::shared_ptr<Shared>& shared, const httplib::Request& request, httplib::Response& response) {
    std::size_t headerBytes = 0;
    for (const auto& [name, value] : request.headers) {
        if (!IsAddedByHttplib(name)) headerBytes += name.size() + value.size() + 4;
    }
    if (headerBytes > kMaxHeaderBytes) {
        response.status = 431;
        return;
    }
    // Bodies are never read: the connection closes after the answer.
    const std::string contentLength = request.get_header_value("Content-Length");
    if (request.has_header("Transfer-Encoding") ||
        (!contentLength.empty() && std::strtoull(contentLength.c_str(), nullptr, 10) > kMaxBodyBytes)) {
        response.status = 413;
        return;
    }

    std::shared_ptr<Service> service;
    std::chrono::milliseconds timeout{};
    {
        std::lock_guard lock(shared->mutex);
        if (const auto it = shared->services.find(request.path); it != shared->services.end()) service = it->second;
        timeout = shared->serviceTimeout;
    }
    if (!service) {
        response.status = 404;
        return;
    }

    auto record = std::make_shared<ResponseRecord>();
    auto reply = std::make_shared<Reply>();
    ServiceCompletion completion = [shared, reply](const std::shared_ptr<MutableResponse>&) {
        {
            std::lock_guard lock(shared->mutex);
            reply->done = true;
        }
        shared->changed.notify_all();
    };
    try {
        service->Handle(RequestView(request), record, std::move(completion));
    } catch (...) {
        response.status = 500;
        return;
    }

    std::unique_lock lock(shared->mutex);
    const bool answered = shared->changed.wait_until(lock, Clock::now() + timeout, [&] { return reply->done || shared->stopping; }) &&
                          reply->done;
    if (!answered) {
        // The service may still fill `record` later; it is not read from here on.
        response.status = shared->stopping ? 503 : 500;
        return;
    }
    // The completion's lock ordered the service's writes to `record` before this read.
    record->WriteTo(response);
}

// Only SO_REUSEADDR: on Linux it lets a restart bind over connections in TIME_WAIT but never next
// to another listening socket. httplib's default adds SO_REUSEPORT, which would let a second
// server share the port and take some of the redirects.
void ListenerSocketOptions(socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    // A program the host starts (the browser) must not inherit the port.
    fcntl(sock, F_SETFD, fcntl(sock, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

struct Server::Impl {
    std::uint16_t requestedPort = 0;
    bool secure = false;
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();

    std::mutex lifecycle;  // Start and Stop
    std::unique_ptr<httplib::Server> http;
    std::thread listener;
    std::atomic<std::uint16_t> port{0};
};

Server::Server(std::uint16_t port, bool secure, int) : impl_(std::make_unique<Impl>()) {
    impl_->requestedPort = port;
    impl_->secure = secure;
}

Server::~Server() { Stop(); }

int Server::Start() {
    std::lock_guard lifecycle(impl_->lifecycle);
    if (impl_->http) return 200;
    if (impl_->secure) return 501;  // a loopback redirect listener has no certificate to offer

    auto http = std::make_unique<httplib::Server>();
    http->set_address_family(AF_INET);
    http->set_socket_options(ListenerSocketOptions);
    http->set_keep_alive_max_count(1);
    http->set_keep_alive_timeout(kIdleConnectionSeconds);
    http->set_read_timeout(kReadTimeoutSeconds, 0);
    http->set_write_timeout(kReadTimeoutSeconds, 0);
    http->set_payload_max_length(kMaxBodyBytes);
    http->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    http->set_pre_routing_handler([shared = impl_->shared](const httplib::Request& request, httplib::Response& response) {
        Answer(shared, request, response);
        if (detail::NetworkTraceEnabled()) {
            detail::NetworkTrace("server " + request.method + " " + request.path + " -> " + std::to_string(response.status) + "\n");
        }
        return httplib::Server::HandlerResponse::Handled;
    });
    {
        std::lock_guard lock(impl_->shared->mutex);
        impl_->shared->stopping = false;
    }

    int port = 0;
    if (impl_->requestedPort == 0) {
        port = http->bind_to_any_port(kLoopbackAddress);
        if (port <= 0) return 500;
    } else {
        if (!http->bind_to_port(kLoopbackAddress, impl_->requestedPort)) return 409;
        port = impl_->requestedPort;
    }

    // httplib's stop() only acts once its accept loop runs, so Start returns only after that.
    auto listenerEnded = std::make_shared<std::atomic<bool>>(false);
    httplib::Server* raw = http.get();
    impl_->listener = std::thread([raw, listenerEnded] {
        raw->listen_after_bind();
        listenerEnded->store(true);
    });
    const Clock::time_point limit = Clock::now() + kListenStartLimit;
    while (!raw->is_running() && !listenerEnded->load() && Clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!raw->is_running()) {
        raw->stop();
        impl_->listener.join();
        return 500;
    }
    impl_->http = std::move(http);
    impl_->port.store(static_cast<std::uint16_t>(port));
    if (detail::NetworkTraceEnabled()) detail::NetworkTrace("server listening on 127.0.0.1:" + std::to_string(port) + "\n");
    return 200;
}

std::uint16_t Server::GetPort() const { return impl_->port.load(); }

void Server::RegisterService(const std::string& path, std::shared_ptr<Service> service) {
    std::lock_guard lock(impl_->shared->mutex);
    if (service) {
        impl_->shared->services[path] = std::move(service);
    } else {
        impl_->shared->services.erase(path);
    }
}

void Server::Stop() {
    std::lock_guard lifecycle(impl_->lifecycle);
    if (!impl_->http) return;
    {
        std::lock_guard lock(impl_->shared->mutex);
        impl_->shared->stopping = true;  // releases requests still waiting for their service
    }
    impl_->shared->changed.notify_all();
    impl_->http->stop();
    if (impl_->listener.joinable()) impl_->listener.join();  // httplib joins its workers before it returns
    impl_->http.reset();
    if (detail::NetworkTraceEnabled()) detail::NetworkTrace("server on port " + std::to_string(impl_->port.load()) + " stopped\n");
}

void Server::SetServiceTimeout(std::chrono::milliseconds limit) {
    std::lock_guard lock(impl_->shared->mutex);
    impl_->shared->serviceTimeout = limit;
}

}  // namespace talnet::http::server
