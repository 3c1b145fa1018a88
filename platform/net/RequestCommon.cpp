#include "RequestCommon.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <unordered_set>

#include "NetTrace.h"

namespace talnet::http::detail {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool IsHeaderName(std::string_view name) {
    if (name.empty()) return false;
    return std::all_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
    });
}

// Nothing that would end the header line or the header block early.
bool IsHeaderValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace

const char* MethodName(Method method) {
    switch (method) {
        case Method::Get:
            return "GET";
        case Method::Post:
            return "POST";
        case Method::Put:
            return "PUT";
    }
    return "?";
}

std::string LowerCopy(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), Lower);
    return out;
}

std::string_view TrimSpace(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::vector<CallerHeader>> CheckCallerHeaders(const HeaderMap& headers) {
    std::vector<CallerHeader> checked;
    std::unordered_set<std::string> names;
    for (const auto& [nameText, valueText] : headers) {
        const std::string& name = nameText.UTF8();
        const std::string& value = valueText.UTF8();
        if (!IsHeaderName(name) || !IsHeaderValue(value)) return std::nullopt;
        std::string lower = LowerCopy(name);
        if (!names.insert(lower).second) return std::nullopt;
        checked.push_back({name, value, std::move(lower)});
    }
    return checked;
}

void TakeHeaderLine(Response& response, std::string_view line) {
    line = TrimSpace(line);
    if (line.starts_with("HTTP/")) {
        response.headers.clear();
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos && colon > 0) {
        response.headers.emplace(LowerCopy(TrimSpace(line.substr(0, colon))),
                                 std::string(TrimSpace(line.substr(colon + 1))));
    }
}

std::string TooLargeOutcome(std::uint64_t limit) {
    return "answer larger than the limit of " + std::to_string(limit) + " bytes";
}

void TraceSubmission(Method method, std::string_view target, bool accepted, const RequestID& id) {
    if (!NetworkTraceEnabled()) return;
    NetworkTrace(std::string(MethodName(method)) + " " + std::string(target) +
                 (accepted ? " submitted [" : " refused: stopped or id in flight [") + id.AsUTF8String() + "]\n");
}

void TraceRefusedRequest(Method method, const RequestID& id) {
    if (!NetworkTraceEnabled()) return;
    NetworkTrace(std::string(MethodName(method)) + " refused: malformed URL or header [" + id.AsUTF8String() + "]\n");
}

void TraceOutcome(Method method, std::string_view target, std::uint32_t status, std::string_view outcome,
                  RequestClock::time_point submitted, const RequestID& id) {
    if (!NetworkTraceEnabled()) return;
    const auto elapsed = std::chrono::duration<double, std::milli>(RequestClock::now() - submitted).count();
    char timing[32];
    std::snprintf(timing, sizeof timing, "%.1f ms", elapsed);
    std::string line = std::string(MethodName(method)) + " " + std::string(target) + " -> ";
    line += status == kStatusNoResponse ? std::string("no response") : std::to_string(status);
    if (!outcome.empty()) line += " (" + std::string(outcome) + ")";
    line += " in " + std::string(timing) + " [" + id.AsUTF8String() + "]\n";
    NetworkTrace(line);
}

void RunCompletion(const RequestID& id, const RequestCompletion& completion, std::shared_ptr<Response> response) {
    try {
        completion(id, std::move(response));
    } catch (const std::exception& error) {
        if (NetworkTraceEnabled())
            NetworkTrace("completion of [" + id.AsUTF8String() + "] threw: " + error.what() + "\n");
    } catch (...) {
        if (NetworkTraceEnabled()) NetworkTrace("completion of [" + id.AsUTF8String() + "] threw\n");
    }
}

bool PostCompletion(CompletionPool& pool, const RequestID& id, RequestCompletion completion,
                    std::shared_ptr<Response> response, Body body) {
    return pool.Post([id, completion = std::move(completion), response = std::move(response), body = std::move(body)] {
        RunCompletion(id, completion, response);
    });
}

}  // namespace talnet::http::detail
