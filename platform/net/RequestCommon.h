// What both request processors share: the caller's headers checked the same way, answer header
// lines taken in the same way, the same trace lines, and completions run the same way.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CompletionPool.h"
#include "talnet/http/RequestProcessor.h"

namespace talnet::http::detail {

using RequestClock = std::chrono::steady_clock;

enum class Method { Get, Post, Put };

const char* MethodName(Method method);

std::string LowerCopy(std::string_view text);
std::string_view TrimSpace(std::string_view text);

struct CallerHeader {
    std::string name;
    std::string value;
    std::string lowerName;
};

// The caller's headers in order, or nothing when one has a malformed name, a value that would end
// its line early, or names the same header twice in different cases.
std::optional<std::vector<CallerHeader>> CheckCallerHeaders(const HeaderMap& headers);

// One line of an answer's head into `response`: a status line starts over (an interim answer's
// headers are not the final ones), "Name: value" is kept under its lower-case name.
void TakeHeaderLine(Response& response, std::string_view line);

// What the trace says of an answer cut short at the request's limit.
std::string TooLargeOutcome(std::uint64_t limit);

void TraceSubmission(Method method, std::string_view target, bool accepted, const RequestID& id);
void TraceRefusedRequest(Method method, const RequestID& id);
void TraceOutcome(Method method, std::string_view target, std::uint32_t status, std::string_view outcome,
                  RequestClock::time_point submitted, const RequestID& id);

// Runs `completion`; one that throws is traced, and goes no further.
void RunCompletion(const RequestID& id, const RequestCompletion& completion, std::shared_ptr<Response> response);

// Queues `completion` on `pool`; `body` rides along until it has run, since the caller may reuse it
// afterwards. False when the pool
// is shutting down (nothing runs then).
bool PostCompletion(CompletionPool& pool, const RequestID& id, RequestCompletion completion,
                    std::shared_ptr<Response> response, Body body);

}  // namespace talnet::http::detail
