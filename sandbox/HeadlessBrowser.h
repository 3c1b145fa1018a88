#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace vekta::sandbox {

struct BrowserPage {
    int status = 0;
    std::string url;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;

    // The first value of a header (case-insensitive name), or empty.
    std::string Header(const std::string& name) const;
};

struct BrowserResult {
    bool ok = false;  // the last page was fetched; `error` says why not otherwise
    std::string error;
    BrowserPage page;                  // the last page: the loopback listener's answer after a sign-in
    int hops = 0;                      // requests made
    std::vector<std::string> visited;  // the URL of each request, in order
};

// Stands in for a person's browser on loopback: opens an authorization URL on the sandbox (or an
// address that redirects there), answers its consent page, follows the redirect to the client's
// redirect_uri and fetches it with a real socket. Only loopback URLs are visited.
class HeadlessBrowser {
public:
    enum class Choice { Authorize, Cancel };

    explicit HeadlessBrowser(Choice choice = Choice::Authorize,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

    BrowserResult Open(const std::string& url) const;
    // One GET of a loopback URL; a redirect is returned, not followed.
    BrowserResult Get(const std::string& url) const;

private:
    Choice choice_;
    std::chrono::milliseconds timeout_;
};

}  // namespace vekta::sandbox
