#include "talnet/http/HttpHelpers.h"

#include <algorithm>
#include <any>
#include <boost/algorithm/hex.hpp>
#include <chrono>

#include "talcore/string/Unicode.h"

namespace talnet::http {

bool PassGateTimeout(talcore::threads::Gate& gate, int timeoutSeconds, int pollMilliseconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(std::max(timeoutSeconds, 0));
    const auto poll = std::chrono::milliseconds(std::max(pollMilliseconds, 1));
    // Waiting in slices keeps the behaviour of a polling host: each slice is a bounded wait.
    for (;;) {
        const Clock::time_point sliceEnd = std::min(deadline, Clock::now() + poll);
        if (gate.PassThroughUntil(sliceEnd)) return true;
        if (Clock::now() >= deadline) return gate.IsOpen();
    }
}

bool PassGateTimeout(const std::shared_ptr<talcore::threads::Gate>& gate, int timeoutSeconds, int pollMilliseconds) {
    return gate && PassGateTimeout(*gate, timeoutSeconds, pollMilliseconds);
}

std::string QuoteURL(const std::vector<std::pair<std::string, std::string>>& pairs) {
    const auto append = [](std::string& out, const std::string& text) {
        for (const char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                c == '_' || c == '~') {
                out.push_back(ch);
            } else if (c == ' ') {
                out.push_back('+');
            } else {
                out.push_back('%');
                boost::algorithm::hex(&c, &c + 1, std::back_inserter(out));
            }
        }
    };
    std::string out;
    for (const auto& [name, value] : pairs) {
        if (!out.empty()) out.push_back('&');
        append(out, name);
        out.push_back('=');
        append(out, value);
    }
    return out;
}

std::string HandleBody(const RequestID&, const Response& response) {
    std::string_view body = response.body;
    // A byte-order mark is not part of the text.
    if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
    return std::string(body);
}

std::string HandleBody(const RequestID& id, const std::shared_ptr<Response>& response) {
    return response ? HandleBody(id, *response) : std::string();
}

std::u16string GetItemFor(const talcore::serialization::JSONNode& object, std::string_view key) {
    const talcore::serialization::JSONNode item = talcore::serialization::GetVariantInObject(object, key);
    return talcore::string::UTF8to16(std::any_cast<const std::string&>(*item));
}

}  // namespace talnet::http
