// The loopback server: a Listener on its own thread per Start. It serves the browser's redirect
// after a sign-in, a few small GET requests, one per connection.
#include "talnet/http/server/Server.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "NetTrace.h"
#include "ServerListener.h"
#include "ServiceRegistry.h"

namespace talnet::http::server {

struct Server::Impl {
    std::uint16_t requestedPort = 0;
    bool secure = false;
    const std::shared_ptr<detail::ServiceRegistry> registry = std::make_shared<detail::ServiceRegistry>();

    std::mutex lifecycle;  // guards the two below; never held while waiting for the thread
    std::shared_ptr<detail::Listener> listener;
    std::thread thread;
    std::atomic<std::uint16_t> port{0};
};

Server::Server(std::uint16_t port, bool secure, int) : impl_(std::make_unique<Impl>()) {
    impl_->requestedPort = port;
    impl_->secure = secure;
}

Server::~Server() { Stop(); }

int Server::Start() {
    std::lock_guard lifecycle(impl_->lifecycle);
    if (impl_->listener) return 200;
    if (impl_->secure) return 501;  // a loopback redirect listener has no certificate to offer

    auto listener = std::make_shared<detail::Listener>(impl_->registry);
    if (const int status = listener->Open(impl_->requestedPort); status != 200) return status;
    // The thread holds the listener too: when Stop is called from the thread itself (a service that
    // stops the server while it answers), the thread ends after Stop has returned.
    impl_->thread = std::thread([listener] { listener->Run(); });
    impl_->listener = std::move(listener);
    impl_->port.store(impl_->listener->Port());
    if (http::detail::NetworkTraceEnabled()) {
        http::detail::NetworkTrace("server listening on 127.0.0.1:" + std::to_string(impl_->port.load()) + "\n");
    }
    return 200;
}

std::uint16_t Server::GetPort() const { return impl_->port.load(); }

void Server::RegisterService(const std::string& path, std::shared_ptr<Service> service) {
    impl_->registry->Register(path, std::move(service));
}

void Server::Stop() {
    std::shared_ptr<detail::Listener> listener;
    std::thread thread;
    {
        // Taken out under the lock and stopped outside it: a service that calls Stop on the server's
        // thread while another thread waits in Stop for that thread must not wait for the lock.
        std::lock_guard lifecycle(impl_->lifecycle);
        listener = std::move(impl_->listener);
        thread = std::move(impl_->thread);
    }
    if (!listener) return;
    listener->Stop();
    if (thread.get_id() == std::this_thread::get_id()) {
        listener->CloseAll();  // on the server's thread itself, which returns from run() next
        thread.detach();
    } else {
        thread.join();
        listener->CloseAll();  // the thread has ended: nothing else touches the connections now
    }
    if (http::detail::NetworkTraceEnabled())
        http::detail::NetworkTrace("server on port " + std::to_string(impl_->port.load()) + " stopped\n");
}

void Server::SetServiceTimeout(std::chrono::milliseconds limit) { impl_->registry->SetServiceTimeout(limit); }

}  // namespace talnet::http::server
