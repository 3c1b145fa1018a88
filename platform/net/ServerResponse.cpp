#include "ServerResponse.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include <boost/beast/http/status.hpp>

namespace talnet::http::server::detail {
namespace {

bool IsTokenCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// Only token characters in a name: a colon, a blank or a line break would let it end early or start
// a field of its own.
bool IsSafeName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), IsTokenCharacter);
}

// A line break or NUL in a value would let it start a field or a body of its own.
bool IsSafeValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The fields that frame the answer; the server sets them from what it really sends.
bool IsFramingField(std::string_view name) {
    return EqualsIgnoringCase(name, "Content-Length") || EqualsIgnoringCase(name, "Transfer-Encoding") ||
           EqualsIgnoringCase(name, "Connection");
}

std::string StatusLine(int status) {
    const auto reasonText = boost::beast::http::obsolete_reason(static_cast<boost::beast::http::status>(status));
    const std::string_view reason(reasonText.data(), reasonText.size());
    std::string line = "HTTP/1.1 " + std::to_string(status) + " ";
    if (!reason.starts_with('<')) line += reason;  // Beast names an unknown status "<unknown-status>"
    return line + "\r\n";
}

std::string Framing(std::size_t contentLength) {
    return "Content-Length: " + std::to_string(contentLength) + "\r\nConnection: close\r\n\r\n";
}

}  // namespace

std::string ResponseRecord::Head() const {
    std::string head = StatusLine(Status());
    for (const auto& [name, value] : headers_) {
        if (IsSafeName(name) && IsSafeValue(value) && !IsFramingField(name)) head += name + ": " + value + "\r\n";
    }
    if (payload_ && !contentType_.empty() && IsSafeValue(contentType_))
        head += "Content-Type: " + contentType_ + "\r\n";
    return head + Framing(payload_ ? payload_->size() : 0);
}

std::string StatusOnlyHead(int status) { return StatusLine(status) + Framing(0); }

}  // namespace talnet::http::server::detail
