// The host's HTTP client: asynchronous requests with completions.
//
// Submission returns at once. Each accepted request completes exactly once, on one of the
// processor's threads, never on the submitting thread and never under a lock of the processor, so a
// completion may submit the next request. A request that got no HTTP answer at all (refused
// connection, reset, time-out, cancelled before an answer) completes with kStatusNoResponse; it
// is never sent a second time on the processor's own account.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "talcore/TalExport.h"
#include "talcore/allocator/RecycledMemory.h"
#include "talcore/string/ImmutableString.h"
#include "talcore/utility/Guid.h"

namespace talnet::http {

inline constexpr std::uint32_t kStatusNoResponse = 0xFFFFFFFFu;

struct Response {
    std::uint32_t status = kStatusNoResponse;
    std::string body;                                 // raw bytes as received
    std::multimap<std::string, std::string> headers;  // names in lower case
};

using RequestID = talcore::utility::Guid;
using RequestCompletion = std::function<void(const RequestID& requestID, std::shared_ptr<Response> response)>;
using HeaderMap = std::map<talcore::utility::ImmutableString, talcore::utility::ImmutableString>;
using Body = std::shared_ptr<talcore::allocator::RecycledMemory>;

struct RequestOptions {
    // Connecting must succeed within this time.
    std::int32_t connectTimeoutSeconds = 30;
    // A transfer that moves no byte for this long is abandoned (kStatusNoResponse); 0 never.
    std::int32_t lowSpeedTimeoutSeconds = 0;
    bool followRedirects = false;
    // The most bytes of an answer (headers and body) that are taken in; an answer that would pass
    // it ends the request as one without an answer (kStatusNoResponse, nothing of it kept). 0: no
    // limit.
    std::uint64_t maxResponseBytes = 0;
};

class TAL_API RequestProcessor {
public:
    virtual ~RequestProcessor() = default;

    // [any-thread] Headers given here replace the library's own of the same name (Content-Length
    // always states the body's size). Returns true when the request was accepted (then its
    // completion will run); false for a malformed URL or header, an id already in flight or a
    // stopped processor (then the completion never runs).
    virtual bool Get(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString& url,
                     const HeaderMap& headers, const RequestOptions& options) = 0;
    // [any-thread] `body` (may be null for an empty body) is sent from its own bytes without a copy
    // and is kept alive until the completion has run.
    virtual bool Post(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString& url,
                      Body body, const HeaderMap& headers, const RequestOptions& options) = 0;
    virtual bool Put(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString& url,
                     Body body, const HeaderMap& headers, const RequestOptions& options) = 0;
    // [any-thread] Ends the request `id`: its completion runs once, with a status other than 200
    // (kStatusNoResponse when no answer had arrived). Unknown or finished ids are ignored.
    virtual void Cancel(const RequestID& id) = 0;
};

// [any-thread] The process-wide processor. It lives until the process exits; at exit it stops:
// later submissions are refused and completions that have not started are dropped, since what
// they would call back into may already be gone.
TAL_API std::shared_ptr<RequestProcessor> GetGlobalRequestProcessor();

// Host side. [any-thread] A processor of its own, with its own connections. Releasing the last
// reference stops it: requests still in flight complete with kStatusNoResponse, and the release
// waits for the completions (a completion may hold that last reference itself).
TAL_API std::shared_ptr<RequestProcessor> CreateRequestProcessor();

}  // namespace talnet::http
