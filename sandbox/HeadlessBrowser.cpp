#include "sandbox/HeadlessBrowser.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
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

// More than a sign-in page or a listener's answer ever is; a larger one is refused, not kept.
constexpr std::size_t kMaxBodyBytes = 4 * 1024 * 1024;

std::string Describe(httplib::Error error, const std::string& origin) {
    switch (error) {
        case httplib::Error::Connection:
        case httplib::Error::ConnectionTimeout:
            return "cannot connect to " + origin;
        case httplib::Error::Write:
            return "sending to " + origin + " failed";
        case httplib::Error::Read:
            return "reading from " + origin + " failed or timed out";
        case httplib::Error::Canceled:
            return "the answer from " + origin + " is larger than " + std::to_string(kMaxBodyBytes) + " bytes";
        default:
            return "malformed answer from " + origin + " (" + httplib::to_string(error) + ")";
    }
}

// cpp-httplib decodes a Location header's percent-escapes as it reads it; a browser keeps them as
// sent. The query is encoded again as the sandbox and TikTok encode it (every byte outside the
// unreserved set), which gives back what they sent unless a value held a decoded '&', '=' or '#'.
std::string QueryEncodedAgain(const std::string& location) {
    const auto question = location.find('?');
    if (question == std::string::npos) return location;
    std::string out = location.substr(0, question + 1);
    std::string_view query(location);
    query.remove_prefix(question + 1);
    for (bool first = true; !query.empty() || first; first = false) {
        const auto ampersand = query.find('&');
        const std::string_view field = query.substr(0, ampersand);
        const auto equals = field.find('=');
        if (!first) out += '&';
        out += PercentEncode(field.substr(0, equals));
        if (equals != std::string_view::npos) out += "=" + PercentEncode(field.substr(equals + 1));
        query = ampersand == std::string_view::npos ? std::string_view() : query.substr(ampersand + 1);
    }
    return out;
}

// One request on its own connection, read to the end. The target goes out exactly as given.
std::optional<BrowserPage> Fetch(const HttpUrl& url, const std::string& method, const std::string& formBody,
                                 std::chrono::milliseconds timeout, std::string& error) {
    httplib::Client client(url.host, url.port);
    client.set_url_encode(false);
    client.set_keep_alive(false);
    client.set_follow_location(false);  // every hop is checked to stay on loopback
    client.set_connection_timeout(timeout);
    client.set_read_timeout(timeout);
    client.set_write_timeout(timeout);

    httplib::Request request;
    request.method = method;
    request.path = url.Target();
    const bool bracket = url.host.find(':') != std::string::npos;
    request.headers = {{"Host", (bracket ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port)},
                       {"User-Agent", "SandboxHeadlessBrowser/1.0"},
                       {"Accept", "text/html,*/*"}};
    if (method == "POST") {
        request.headers.emplace("Content-Type", "application/x-www-form-urlencoded");
        request.body = formBody;
    }
    std::string body;
    request.content_receiver = [&body](const char* data, std::size_t length, std::uint64_t, std::uint64_t) {
        if (body.size() + length > kMaxBodyBytes) return false;
        body.append(data, length);
        return true;
    };

    const httplib::Result answer = client.send(request);
    if (!answer) {
        error = Describe(answer.error(), url.Origin());
        return std::nullopt;
    }
    BrowserPage page;
    page.url = url.Origin() + url.Target();
    page.status = answer->status;
    for (const auto& [name, value] : answer->headers) {
        page.headers.emplace_back(name, EqualsIgnoringCase(name, "Location") ? QueryEncodedAgain(value) : value);
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
