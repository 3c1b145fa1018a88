#include "sandbox/HeadlessBrowser.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <optional>

#include "sandbox/Url.h"
#include "sandbox/UrlCodec.h"

namespace vekta::sandbox {
namespace {

constexpr int kMaxHops = 10;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string DecodeEntities(std::string text) {
    static const std::pair<std::string_view, char> kEntities[] = {
        {"&quot;", '"'}, {"&#39;", '\''}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}};
    for (const auto& [entity, c] : kEntities) {
        for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
            text.replace(at, entity.size(), 1, c);
        }
    }
    return text;
}

// The value of attribute `name` inside one tag, if present.
std::optional<std::string> Attribute(std::string_view tag, std::string_view name) {
    const std::string needle = " " + std::string(name) + "=\"";
    const auto at = tag.find(needle);
    if (at == std::string_view::npos) return std::nullopt;
    const auto start = at + needle.size();
    const auto end = tag.find('"', start);
    if (end == std::string_view::npos) return std::nullopt;
    return DecodeEntities(std::string(tag.substr(start, end - start)));
}

struct FormSubmission {
    std::string action;
    FormFields fields;
};

// The consent form: its action, hidden inputs, and the button whose label matches `buttonLabel`.
std::optional<FormSubmission> FindForm(const std::string& html, std::string_view buttonLabel) {
    const auto formStart = html.find("<form");
    const auto formEnd = html.find("</form>", formStart == std::string::npos ? 0 : formStart);
    if (formStart == std::string::npos || formEnd == std::string::npos) return std::nullopt;
    const std::string_view form(html.data() + formStart, formEnd - formStart);
    const auto formTagEnd = form.find('>');
    const auto method = Attribute(form.substr(0, formTagEnd), "method");
    if (!method || !EqualsIgnoringCase(*method, "post")) return std::nullopt;
    FormSubmission submission{Attribute(form.substr(0, formTagEnd), "action").value_or(""), {}};

    bool buttonFound = false;
    for (std::size_t at = form.find('<', 1); at != std::string_view::npos; at = form.find('<', at + 1)) {
        const auto tagEnd = form.find('>', at);
        if (tagEnd == std::string_view::npos) break;
        const std::string_view tag = form.substr(at, tagEnd - at);
        if (tag.rfind("<input", 0) == 0 && Attribute(tag, "type") == "hidden") {
            if (auto name = Attribute(tag, "name"))
                submission.fields.push_back({*name, Attribute(tag, "value").value_or("")});
        } else if (tag.rfind("<button", 0) == 0) {
            const auto labelEnd = form.find("</button>", tagEnd);
            const std::string_view label = form.substr(tagEnd + 1, labelEnd - tagEnd - 1);
            if (label == buttonLabel) {
                buttonFound = true;
                if (auto name = Attribute(tag, "name"))
                    submission.fields.push_back({*name, Attribute(tag, "value").value_or("")});
            }
        }
    }
    if (!buttonFound) return std::nullopt;
    return submission;
}

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

std::unique_ptr<Socket> Connect(const HttpUrl& url, std::chrono::milliseconds timeout) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(url.host.c_str(), std::to_string(url.port).c_str(), &hints, &found) != 0) return nullptr;
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
    timeval limit{static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
    for (const addrinfo* address = found; address; address = address->ai_next) {
        auto socket = std::make_unique<Socket>(::socket(address->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (socket->Fd() < 0) continue;
        ::setsockopt(socket->Fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        ::setsockopt(socket->Fd(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
        if (::connect(socket->Fd(), address->ai_addr, address->ai_addrlen) == 0) return socket;
    }
    return nullptr;
}

std::optional<std::string> DecodeChunked(std::string_view body) {
    std::string out;
    for (;;) {
        const auto lineEnd = body.find("\r\n");
        if (lineEnd == std::string_view::npos) return std::nullopt;
        std::size_t size = 0;
        const auto sizeText = body.substr(0, body.find_first_of(";\r"));
        const auto [end, ec] = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size, 16);
        if (ec != std::errc() || end != sizeText.data() + sizeText.size()) return std::nullopt;
        body.remove_prefix(lineEnd + 2);
        if (size == 0) return out;
        if (body.size() < size + 2) return std::nullopt;
        out.append(body.substr(0, size));
        body.remove_prefix(size + 2);
    }
}

// One request on its own connection, read to the end. Headers come back exactly as sent: a
// Location keeps its percent-encoding, as a browser would use it.
std::optional<BrowserPage> Fetch(const HttpUrl& url, const std::string& method, const std::string& formBody,
                                 std::chrono::milliseconds timeout, std::string& error) {
    const auto socket = Connect(url, timeout);
    if (!socket) {
        error = "cannot connect to " + url.Origin();
        return std::nullopt;
    }
    std::string request = method + " " + url.Target() + " HTTP/1.1\r\nHost: " + url.host + ":" +
                          std::to_string(url.port) +
                          "\r\nUser-Agent: SandboxHeadlessBrowser/1.0\r\nAccept: text/html,*/*\r\n"
                          "Connection: close\r\n";
    if (method == "POST") {
        request +=
            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(formBody.size()) +
            "\r\n";
    }
    request += "\r\n" + formBody;
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = ::send(socket->Fd(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            error = "sending to " + url.Origin() + " failed";
            return std::nullopt;
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string raw;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(socket->Fd(), buffer, sizeof(buffer), 0);
        if (n == 0) break;
        if (n < 0) {
            error = "reading from " + url.Origin() + " failed or timed out";
            return std::nullopt;
        }
        raw.append(buffer, static_cast<std::size_t>(n));
    }

    BrowserPage page;
    page.url = url.Origin() + url.Target();
    const auto headEnd = raw.find("\r\n\r\n");
    const auto statusEnd = raw.find("\r\n");
    if (headEnd == std::string::npos || raw.compare(0, 5, "HTTP/") != 0 || raw.size() < 12) {
        error = "malformed answer from " + url.Origin();
        return std::nullopt;
    }
    const auto statusText = std::string_view(raw).substr(9, 3);
    std::from_chars(statusText.data(), statusText.data() + 3, page.status);
    for (std::size_t at = statusEnd + 2; at < headEnd;) {
        const auto lineEnd = raw.find("\r\n", at);
        const std::string line = raw.substr(at, lineEnd - at);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            const auto valueStart = line.find_first_not_of(" \t", colon + 1);
            page.headers.emplace_back(line.substr(0, colon),
                                      valueStart == std::string::npos ? "" : line.substr(valueStart));
        }
        at = lineEnd + 2;
    }
    std::string body = raw.substr(headEnd + 4);
    if (EqualsIgnoringCase(page.Header("Transfer-Encoding"), "chunked")) {
        auto decoded = DecodeChunked(body);
        if (!decoded) {
            error = "malformed chunked answer from " + url.Origin();
            return std::nullopt;
        }
        body = std::move(*decoded);
    } else if (const std::string length = page.Header("Content-Length"); !length.empty()) {
        std::size_t size = 0;
        std::from_chars(length.data(), length.data() + length.size(), size);
        if (size < body.size()) body.resize(size);
    }
    page.body = std::move(body);
    return page;
}

}  // namespace

std::string BrowserPage::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoringCase(key, name)) return value;
    }
    return {};
}

HeadlessBrowser::HeadlessBrowser(Choice choice, std::chrono::milliseconds timeout)
    : choice_(choice), timeout_(timeout) {}

BrowserResult HeadlessBrowser::Open(const std::string& startUrl) const {
    BrowserResult result;
    auto url = ParseHttpUrl(startUrl);
    std::string method = "GET";
    std::string formBody;
    bool formSubmitted = false;

    while (result.hops < kMaxHops) {
        if (!url || !IsLoopbackHost(url->host)) {
            result.error = "only http URLs on loopback are visited";
            return result;
        }
        ++result.hops;
        result.visited.push_back(url->Origin() + url->Target());
        auto page = Fetch(*url, method, formBody, timeout_, result.error);
        if (!page) return result;
        result.page = std::move(*page);
        const int status = result.page.status;
        const std::string location = result.page.Header("Location");

        if (status >= 300 && status < 400 && !location.empty()) {
            url = ResolveLocation(*url, location);
            method = "GET";
            continue;
        }
        if (status == 200 && !formSubmitted) {
            const auto form = FindForm(result.page.body, choice_ == Choice::Authorize ? "Authorize" : "Cancel");
            if (form) {
                formSubmitted = true;
                url = ResolveLocation(*url, form->action.empty() ? url->path : form->action);
                method = "POST";
                formBody = EncodeUrlEncoded(form->fields);
                continue;
            }
        }
        result.ok = true;
        return result;
    }
    result.error = "too many redirects";
    return result;
}

BrowserResult HeadlessBrowser::Get(const std::string& url) const {
    BrowserResult result;
    const auto parsed = ParseHttpUrl(url);
    if (!parsed || !IsLoopbackHost(parsed->host)) {
        result.error = "only http URLs on loopback are visited";
        return result;
    }
    result.hops = 1;
    result.visited.push_back(parsed->Origin() + parsed->Target());
    auto page = Fetch(*parsed, "GET", {}, timeout_, result.error);
    if (!page) return result;
    result.page = std::move(*page);
    result.ok = true;
    return result;
}

}  // namespace vekta::sandbox
