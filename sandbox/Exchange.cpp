#include "sandbox/Exchange.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

#include "sandbox/HttpServer.h"

namespace vekta::sandbox {
namespace {

// Chunks are at most 128 MiB; anything longer is not worth reading just to throw away.
constexpr std::uint64_t kLargestDrainableBody = 256ull * 1024 * 1024;

}  // namespace

Exchange::Exchange(const httplib::Request& req, httplib::Response& res, std::string id,
                   const httplib::ContentReader* reader)
    : request(req), response(res), logId(std::move(id)), bodyReader(reader) {
    response.set_header("X-Tt-Logid", logId);
}

void Exchange::SendData(const nlohmann::json& data, int status) {
    SendJson({{"data", data}, {"error", {{"code", "ok"}, {"message", ""}, {"log_id", logId}}}}, status);
}

void Exchange::SendError(int status, std::string_view code, std::string_view message) {
    record.errorCode = std::string(code);
    SendJson({{"data", nlohmann::json::object()}, {"error", {{"code", code}, {"message", message}, {"log_id", logId}}}},
             status);
}

void Exchange::SendTokenError(std::string_view error, std::string_view description) {
    record.errorCode = std::string(error);
    SendJson({{"error", error}, {"error_description", description}, {"log_id", logId}}, 200);
}

void Exchange::SendJson(const nlohmann::json& body, int status) {
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

void Exchange::SendHtml(int status, std::string_view title, std::string_view bodyHtml) {
    response.status = status;
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
    page += HtmlEscape(title);
    page += "</title></head>\n<body>\n";
    page += bodyHtml;
    page += "\n</body></html>\n";
    response.set_content(page, "text/html; charset=utf-8");
}

void Exchange::Redirect(const std::string& location) {
    response.status = 302;
    response.set_header("Location", location);
}

void Exchange::DiscardBody() {
    if (!bodyReader || bodyConsumed_ || dropped_) return;
    bodyConsumed_ = true;
    const auto length = SingleHeader("Content-Length");
    std::uint64_t bytes = 0;
    bool drainable = length.has_value() && !request.has_header("Transfer-Encoding");
    if (drainable) {
        const auto [end, ec] = std::from_chars(length->data(), length->data() + length->size(), bytes);
        drainable = ec == std::errc() && end == length->data() + length->size() && bytes <= kLargestDrainableBody;
    }
    if (drainable && bytes > 0) {
        drainable = (*bodyReader)([](const char*, std::size_t) { return true; });
    }
    if (!drainable) {
        response.set_header("Connection", "close");
        if (Connection* connection = CurrentConnection()) connection->CloseAfterResponse();
    }
}

void Exchange::Drop() {
    dropped_ = true;
    if (Connection* connection = CurrentConnection()) connection->Drop();
}

void Exchange::Reset() {
    dropped_ = true;
    if (Connection* connection = CurrentConnection()) connection->Reset();
}

void Exchange::SendTruncated(int status, const std::string& body, const std::string& contentType) {
    // The request's body is read first, so that closing does not turn into a reset.
    DiscardBody();
    dropped_ = true;
    std::string head = "HTTP/1.1 " + std::to_string(status) + " Truncated\r\nContent-Type: " + contentType +
                       "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nX-Tt-Logid: " + logId +
                       "\r\nConnection: close\r\n\r\n";
    head.append(body, 0, body.size() / 2);
    if (Connection* connection = CurrentConnection()) connection->SendThenClose(head);
}

std::optional<std::string> Exchange::SingleHeader(const std::string& name) const {
    if (request.get_header_value_count(name) != 1) return std::nullopt;
    return request.get_header_value(name);
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string MediaType(std::string_view contentType) {
    std::string_view type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && std::isspace(static_cast<unsigned char>(type.back()))) type.remove_suffix(1);
    while (!type.empty() && std::isspace(static_cast<unsigned char>(type.front()))) type.remove_prefix(1);
    std::string out(type);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace vekta::sandbox
