// The services of one Server and how long a request waits for them. The Server writes it from any
// thread; its listener reads it on the server's thread; it outlives both while either holds it.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "ServerLimits.h"
#include "talnet/http/server/Server.h"

namespace talnet::http::server::detail {

class ServiceRegistry {
public:
    // A null service removes the path.
    void Register(const std::string& path, std::shared_ptr<Service> service) {
        std::lock_guard lock(mutex_);
        if (service) {
            services_[path] = std::move(service);
        } else {
            services_.erase(path);
        }
    }
    std::shared_ptr<Service> Find(std::string_view path) const {
        std::lock_guard lock(mutex_);
        const auto it = services_.find(path);
        return it == services_.end() ? nullptr : it->second;
    }
    void SetServiceTimeout(std::chrono::milliseconds limit) {
        std::lock_guard lock(mutex_);
        serviceTimeout_ = limit;
    }
    std::chrono::milliseconds ServiceTimeout() const {
        std::lock_guard lock(mutex_);
        return serviceTimeout_;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Service>, std::less<>> services_;
    std::chrono::milliseconds serviceTimeout_ = kDefaultServiceTimeout;
};

}  // namespace talnet::http::server::detail
