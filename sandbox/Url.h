#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vekta::sandbox {

// An http:// URL split the way a client needs it to connect and send a request.
struct HttpUrl {
    std::string host;
    std::uint16_t port = 80;
    bool explicitPort = false;
    std::string path = "/";
    std::string query;  // without '?'
    bool hasQuery = false;
    bool hasFragment = false;
    bool hasUserInfo = false;

    std::string Origin() const;
    // Path plus query, as sent in the request line.
    std::string Target() const;
};

// Only plain http URLs; nothing for https or anything malformed.
std::optional<HttpUrl> ParseHttpUrl(std::string_view url);

bool IsLoopbackHost(std::string_view host);

// The only redirect URIs the sandbox accepts from a desktop client: http://127.0.0.1:PORT/path or
// http://localhost:PORT/path, with no query, fragment or user info.
bool IsLoopbackRedirectUri(std::string_view uri);

// A Location header resolved against the URL it came from (absolute, or absolute-path).
std::optional<HttpUrl> ResolveLocation(const HttpUrl& base, std::string_view location);

}  // namespace vekta::sandbox
