// Origin mapping: the host's stand-in for a proxy setting. Origins are compared in a normal form
// (lower-case scheme and host, default port dropped, no trailing slash), so "HTTPS://Api.Example:443"
// and "https://api.example" name the same origin.
#include "talnet/http/OriginMap.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Environment.h"

namespace talnet::http {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
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

// A host name (letters, digits, "-", ".", "_", "~") or a bracketed IPv6 address (hex digits, ":"
// and "."), lower-case. Anything else in a host, a blank or a control character above all, makes an
// origin that no address can match once it is trimmed, or that no lookup can resolve.
bool IsHostText(std::string_view host) {
    const auto in = [](char c, char low, char high) { return c >= low && c <= high; };
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        const std::string_view address = host.substr(1, host.size() - 2);
        return std::all_of(address.begin(), address.end(),
                           [&](char c) { return in(c, '0', '9') || in(c, 'a', 'f') || c == ':' || c == '.'; });
    }
    return !host.empty() && std::all_of(host.begin(), host.end(), [&](char c) {
        return in(c, 'a', 'z') || in(c, '0', '9') || c == '-' || c == '.' || c == '_' || c == '~';
    });
}

// "http" or "https" with a host (and an optional decimal port) behind it; the host in `host`,
// lower-case, brackets kept for IPv6. `allowPath`: a target may carry a path prefix.
bool ParseHttpOrigin(std::string_view text, bool allowPath, std::string& scheme, std::string& host) {
    std::string_view origin, rest;
    if (!SplitOrigin(text, origin, rest)) return false;
    if (!rest.empty() && (!allowPath || rest.front() != '/' || rest.find_first_of("?#") != std::string_view::npos)) {
        return false;
    }
    const auto schemeEnd = origin.find("://");
    scheme = Lower(origin.substr(0, schemeEnd));
    if (scheme != "http" && scheme != "https") return false;
    const std::string_view authority = origin.substr(schemeEnd + 3);
    // No user part: "http://127.0.0.1@elsewhere" names the host after the "@".
    if (authority.empty() || authority.find('@') != std::string_view::npos) return false;
    std::size_t hostEnd = 0;
    if (authority.front() == '[') {
        hostEnd = authority.find(']');
        if (hostEnd == std::string_view::npos) return false;
        ++hostEnd;
    } else {
        hostEnd = std::min(authority.find(':'), authority.size());
    }
    host = Lower(authority.substr(0, hostEnd));
    const std::string_view port = authority.substr(hostEnd);
    if (!IsHostText(host)) return false;
    if (!port.empty() && (port.front() != ':' || port.size() == 1 || port.size() > 6 ||
                          !std::all_of(port.begin() + 1, port.end(), [](char c) { return c >= '0' && c <= '9'; }))) {
        return false;
    }
    return true;
}

bool IsLoopbackHost(std::string_view host) { return host == "127.0.0.1" || host == "[::1]" || host == "localhost"; }

// Empty when (`from`, `to`) may be mapped, else why not.
std::string MappingProblem(std::string_view from, std::string_view to) {
    std::string scheme, host;
    if (!ParseHttpOrigin(Trim(from), false, scheme, host)) return "the origin to map is not http(s)://host[:port]";
    if (!ParseHttpOrigin(Trim(to), true, scheme, host)) return "the target is not http(s)://host[:port]";
    if (scheme == "http" && !IsLoopbackHost(host)) {
        return "a plain-http target must be 127.0.0.1, [::1] or localhost";
    }
    return {};
}

class OriginMap {
public:
    OriginMap() {
        if (const auto configured = talcore::system::detail::EnvironmentValue("VEKTA_HOST_ORIGIN_MAP")) {
            refused_ = SetAll(*configured);
        }
    }

    std::vector<std::string> SetAll(std::string_view entries) {
        std::vector<std::string> refused;
        while (!entries.empty()) {
            const auto end = entries.find(';');
            const std::string_view entry = Trim(entries.substr(0, end));
            entries = end == std::string_view::npos ? std::string_view{} : entries.substr(end + 1);
            if (entry.empty()) continue;
            const auto equals = entry.find('=');
            std::string problem = equals == std::string_view::npos ? "not of the form from=to" : std::string();
            if (problem.empty()) Set(entry.substr(0, equals), entry.substr(equals + 1), problem);
            if (!problem.empty()) refused.push_back("'" + std::string(entry) + "': " + problem);
        }
        return refused;
    }

    bool Set(std::string_view from, std::string_view to, std::string& problem) {
        std::string target(Trim(to));
        while (!target.empty() && target.back() == '/') target.pop_back();
        if (!target.empty()) {
            problem = MappingProblem(from, target);
            if (!problem.empty()) return false;
        }
        std::string key = NormalOrigin(from);
        if (key.empty()) {
            problem = "the origin to map is empty";
            return false;
        }
        std::lock_guard lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == key; });
        if (target.empty()) {
            if (it != entries_.end()) entries_.erase(it);
        } else if (it != entries_.end()) {
            it->second = std::move(target);
        } else {
            entries_.emplace_back(std::move(key), std::move(target));
        }
        return true;
    }

    void Clear() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

    std::vector<std::pair<std::string, std::string>> Entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

    // Written only while the library loads, read-only afterwards.
    const std::vector<std::string>& Refused() const { return refused_; }

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

    bool IsLoopbackTarget(std::string_view url) const {
        std::string_view origin, rest;
        if (!SplitOrigin(url, origin, rest)) return false;
        const std::string key = NormalOrigin(origin);
        if (key.rfind("http://", 0) != 0) return false;
        std::lock_guard lock(mutex_);
        for (const auto& [from, to] : entries_) {
            std::string_view targetOrigin, targetPath;
            // Every plain-http target was checked to be loopback when it was set.
            if (SplitOrigin(to, targetOrigin, targetPath) && NormalOrigin(targetOrigin) == key) return true;
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> entries_;
    std::vector<std::string> refused_;
};

// Never destroyed: requests made while the process exits still map.
OriginMap& Map() {
    static OriginMap* map = new OriginMap();
    return *map;
}

// The environment is read when the library loads, before any thread can make a request.
[[maybe_unused]] const bool kReadAtStartUp = (Map(), true);

}  // namespace

bool SetOriginMapping(std::string_view from, std::string_view to, std::string* problem) {
    std::string reason;
    const bool set = Map().Set(from, to, reason);
    if (problem) *problem = std::move(reason);
    return set;
}

void ClearOriginMappings() { Map().Clear(); }

std::vector<std::string> SetOriginMappings(std::string_view text) { return Map().SetAll(text); }

std::vector<std::string> RefusedOriginMappings() { return Map().Refused(); }

std::vector<std::pair<std::string, std::string>> ActiveOriginMappings() { return Map().Entries(); }

std::string MapOrigin(std::string_view url) { return Map().Map(url); }

bool IsMappedLoopbackTarget(std::string_view url) { return Map().IsLoopbackTarget(url); }

}  // namespace talnet::http
