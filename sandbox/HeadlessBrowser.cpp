#include "sandbox/HeadlessBrowser.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <optional>

#include "sandbox/Url.h"
#include "sandbox/UrlCodec.h"

namespace tiktok_sandbox {
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
      if (auto name = Attribute(tag, "name")) submission.fields.push_back({*name, Attribute(tag, "value").value_or("")});
    } else if (tag.rfind("<button", 0) == 0) {
      const auto labelEnd = form.find("</button>", tagEnd);
      const std::string_view label = form.substr(tagEnd + 1, labelEnd - tagEnd - 1);
      if (label == buttonLabel) {
        buttonFound = true;
        if (auto name = Attribute(tag, "name")) submission.fields.push_back({*name, Attribute(tag, "value").value_or("")});
      }
    }
  }
  if (!buttonFound) return std::nullopt;
  return submission;
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
    httplib::Client client(url->host, url->port);
    client.set_follow_location(false);
    client.set_connection_timeout(timeout_);
    client.set_read_timeout(timeout_);
    client.set_write_timeout(timeout_);
    ++result.hops;
    auto response = method == "POST"
                        ? client.Post(url->Target(), formBody, "application/x-www-form-urlencoded")
                        : client.Get(url->Target());
    if (!response) {
      result.error = "request to " + url->Origin() + url->path + " failed: " + httplib::to_string(response.error());
      return result;
    }
    result.page = {response->status, url->Origin() + url->Target(), response->body, {}};
    for (const auto& header : response->headers) result.page.headers.emplace_back(header.first, header.second);

    if (response->status >= 300 && response->status < 400 && response->has_header("Location")) {
      url = ResolveLocation(*url, response->get_header_value("Location"));
      method = "GET";
      continue;
    }
    if (response->status == 200 && !formSubmitted) {
      const auto form = FindForm(response->body, choice_ == Choice::Authorize ? "Authorize" : "Cancel");
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

}  // namespace tiktok_sandbox
