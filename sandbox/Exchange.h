#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "sandbox/Inspection.h"

namespace vekta::sandbox {

// One request and its answer, with the answer shapes TikTok uses. Every answer carries the log id
// in the X-Tt-Logid header, and in the body where TikTok's shape has one.
class Exchange {
public:
    Exchange(const httplib::Request& request, httplib::Response& response, std::string logId,
             const httplib::ContentReader* bodyReader = nullptr);

    const httplib::Request& request;
    httplib::Response& response;
    RequestRecord record;
    const std::string logId;
    // Set for requests whose body is streamed (uploads); the body is unread until it is used.
    const httplib::ContentReader* bodyReader;

    // {"data":{...},"error":{"code":"ok","message":"","log_id":"..."}}
    void SendData(const nlohmann::json& data, int status = 200);
    // Same shape with an empty data object and the given code.
    void SendError(int status, std::string_view code, std::string_view message);
    // OAuth errors: HTTP 200 with a flat {"error", "error_description", "log_id"}.
    void SendTokenError(std::string_view error, std::string_view description);
    void SendJson(const nlohmann::json& body, int status = 200);
    void SendHtml(int status, std::string_view title, std::string_view bodyHtml);
    void Redirect(const std::string& location);

    // Reads and discards a streamed body that will not be used, so the connection stays usable;
    // a body that cannot be drained closes the connection after the answer instead.
    void DiscardBody();
    // A handler that streams the body itself says so, so nobody drains it again.
    void MarkBodyConsumed() { bodyConsumed_ = true; }
    void Drop();
    // Ends the connection with a TCP reset instead of an orderly close.
    void Reset();
    // Answers `status` with headers that announce all of `body` but sends only its first half, then
    // closes: an answer cut off on the way.
    void SendTruncated(int status, const std::string& body, const std::string& contentType);
    bool Dropped() const { return dropped_; }

    // The value of a header sent exactly once; nothing when missing or repeated.
    std::optional<std::string> SingleHeader(const std::string& name) const;

private:
    bool dropped_ = false;
    bool bodyConsumed_ = false;
};

std::string HtmlEscape(std::string_view text);
// The media type of a Content-Type value, lower-case and without parameters.
std::string MediaType(std::string_view contentType);

}  // namespace vekta::sandbox
