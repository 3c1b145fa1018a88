#include "sandbox/Url.h"

#include <algorithm>
#include <charconv>

namespace vekta::sandbox {

std::string HttpUrl::Origin() const {
    const bool bracket = host.find(':') != std::string::npos;
    return "http://" + (bracket ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string HttpUrl::Target() const { return hasQuery ? path + "?" + query : path; }

std::optional<HttpUrl> ParseHttpUrl(std::string_view url) {
    constexpr std::string_view kScheme = "http://";
    if (url.size() < kScheme.size() || !std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) {
        return std::nullopt;
    }
    HttpUrl out;
    std::string_view rest = url.substr(kScheme.size());
    if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
        out.hasFragment = true;
        rest = rest.substr(0, hash);
    }
    const std::size_t authorityEnd = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view pathAndQuery =
        authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        out.hasUserInfo = true;
        authority = authority.substr(at + 1);
    }
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        out.host = std::string(authority.substr(1, close - 1));
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            portText = after.substr(1);
            out.explicitPort = true;
        }
    } else {
        const auto colon = authority.find(':');
        out.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = authority.substr(colon + 1);
            out.explicitPort = true;
        }
    }
    if (out.host.empty()) return std::nullopt;
    std::transform(out.host.begin(), out.host.end(), out.host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (out.explicitPort) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
        if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() || value == 0 ||
            value > 65535) {
            return std::nullopt;
        }
        out.port = static_cast<std::uint16_t>(value);
    }
    const auto question = pathAndQuery.find('?');
    const std::string_view path = pathAndQuery.substr(0, question);
    out.path = path.empty() ? "/" : std::string(path);
    if (question != std::string_view::npos) {
        out.hasQuery = true;
        out.query = std::string(pathAndQuery.substr(question + 1));
    }
    if (out.path.front() != '/') return std::nullopt;
    return out;
}

bool IsLoopbackHost(std::string_view host) { return host == "127.0.0.1" || host == "localhost" || host == "::1"; }

bool IsLoopbackRedirectUri(std::string_view uri) {
    const auto url = ParseHttpUrl(uri);
    if (!url || !url->explicitPort || url->hasQuery || url->hasFragment || url->hasUserInfo) {
        return false;
    }
    // The path must be written out, not implied.
    const auto afterScheme = uri.substr(7);
    if (afterScheme.find('/') == std::string_view::npos) return false;
    return url->host == "127.0.0.1" || url->host == "localhost";
}

std::optional<HttpUrl> ResolveLocation(const HttpUrl& base, std::string_view location) {
    if (location.empty()) return std::nullopt;
    if (location.front() == '/') {
        if (location.size() > 1 && location[1] == '/') return std::nullopt;
        auto resolved = ParseHttpUrl(base.Origin() + std::string(location));
        if (resolved) resolved->host = base.host;
        return resolved;
    }
    return ParseHttpUrl(location);
}

}  // namespace vekta::sandbox
