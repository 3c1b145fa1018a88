#include "talcore/utility/OpenFileInDefaultApplication.h"

#include <mutex>

#include "OpenWithSystem.h"
#include "talnet/http/OriginMap.h"

namespace talcore::utility {
namespace {

struct Fallback {
    std::mutex mutex;
    std::function<void(const std::string&)> function;
};

Fallback& TheFallback() {
    static auto* fallback = new Fallback;
    return *fallback;
}

}  // namespace

std::string BrowserAddress(std::string_view url) { return talnet::http::MapOrigin(url); }

bool OpenFileInDefaultApplication(std::string_view pathOrURL) {
    const std::string address = BrowserAddress(pathOrURL);
    if (detail::OpenWithSystem(address)) return true;
    std::function<void(const std::string&)> fallback;
    {
        auto& f = TheFallback();
        std::lock_guard lock(f.mutex);
        fallback = f.function;
    }
    if (fallback) fallback(address);
    return false;
}

void SetOpenFileFallback(std::function<void(const std::string& address)> fallback) {
    auto& f = TheFallback();
    std::lock_guard lock(f.mutex);
    f.function = std::move(fallback);
}

}  // namespace talcore::utility
