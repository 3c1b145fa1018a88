// Origin mapping: the host's stand-in for a proxy setting. Origins are compared in a normal form
// (lower-case scheme and host, default port dropped, no trailing slash), so "HTTPS://Api.Example:443"
// and "https://api.example" name the same origin.
#include "talnet/http/OriginMap.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talnet::http {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// Splits `url` into its origin ("scheme://authority") and the rest; false when it has no
// "scheme://" prefix.
bool SplitOrigin(std::string_view url, std::string_view& origin, std::string_view& rest) {
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos || schemeEnd == 0) return false;
    const auto authorityEnd = url.find_first_of("/?#", schemeEnd + 3);
    origin = url.substr(0, authorityEnd);
    rest = authorityEnd == std::string_view::npos ? std::string_view{} : url.substr(authorityEnd);
    return true;
}

std::string NormalOrigin(std::string_view origin) {
    std::string normal = Lower(Trim(origin));
    while (!normal.empty() && normal.back() == '/') normal.pop_back();
    const auto schemeEnd = normal.find("://");
    if (schemeEnd == std::string::npos) return normal;
    const std::string_view scheme = std::string_view(normal).substr(0, schemeEnd);
    const std::string_view defaultPort = scheme == "http" ? ":80" : scheme == "https" ? ":443" : "";
    if (!defaultPort.empty() && normal.ends_with(defaultPort)) normal.resize(normal.size() - defaultPort.size());
    return normal;
}

class OriginMap {
public:
    OriginMap() {
        const char* configured = std::getenv("VEKTA_HOST_ORIGIN_MAP");
        if (!configured) return;
        std::string_view entries(configured);
        while (!entries.empty()) {
            const auto end = entries.find(';');
            const std::string_view entry = entries.substr(0, end);
            entries = end == std::string_view::npos ? std::string_view{} : entries.substr(end + 1);
            const auto equals = entry.find('=');
            if (equals == std::string_view::npos) continue;
            Set(entry.substr(0, equals), entry.substr(equals + 1));
        }
    }

    void Set(std::string_view from, std::string_view to) {
        std::string key = NormalOrigin(from);
        if (key.empty()) return;
        std::string target(Trim(to));
        while (!target.empty() && target.back() == '/') target.pop_back();
        std::lock_guard lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == key; });
        if (target.empty()) {
            if (it != entries_.end()) entries_.erase(it);
        } else if (it != entries_.end()) {
            it->second = std::move(target);
        } else {
            entries_.emplace_back(std::move(key), std::move(target));
        }
    }

    void Clear() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

    std::string Map(std::string_view url) const {
        std::string_view origin, rest;
        if (!SplitOrigin(url, origin, rest)) return std::string(url);
        const std::string key = NormalOrigin(origin);
        std::lock_guard lock(mutex_);
        for (const auto& [from, to] : entries_) {
            if (from == key) return to + std::string(rest);
        }
        return std::string(url);
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> entries_;
};

// Never destroyed: requests made while the process exits still map.
OriginMap& Map() {
    static OriginMap* map = new OriginMap();
    return *map;
}

// The environment is read when the library loads, before any thread can make a request.
[[maybe_unused]] const bool kReadAtStartUp = (Map(), true);

}  // namespace

void SetOriginMapping(std::string_view from, std::string_view to) { Map().Set(from, to); }

void ClearOriginMappings() { Map().Clear(); }

std::string MapOrigin(std::string_view url) { return Map().Map(url); }

}  // namespace talnet::http
