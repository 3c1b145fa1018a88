// The request processor on WinHTTP in asynchronous mode: the system's HTTP client, with its TLS,
// proxy and certificate handling.
//
// WinHTTP drives each request on its own threads and reports every step through one status
// callback: the request went out, its head arrived, a piece of its body was read. A transfer ends
// when the first of its last step, an error, a cancellation or a stop decides its outcome: its
// completion is queued then, on the processor's own threads, and its request handle closed. The
// transfer itself, and the request body with it, stay until WinHTTP's last word on the handle
// (HANDLE_CLOSING), since WinHTTP may still be busy with them when it is told to close.
#include "talnet/http/RequestProcessor.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "CompletionPool.h"
#include "NetTrace.h"
#include "RequestCommon.h"
#include "talcore/string/Unicode.h"
#include "talnet/http/OriginMap.h"

namespace talnet::http {
namespace {

using detail::Method;
using Clock = detail::RequestClock;

constexpr std::size_t kCompletionThreads = 2;
// One read's share of an answer's body.
constexpr DWORD kReadBytes = 64 * 1024;
constexpr DWORD kMaxRedirects = 10;
constexpr const wchar_t* kUserAgent = L"VektaPlatform/1.0";

std::wstring Widen(std::string_view utf8) {
    const std::u16string wide = talcore::string::UTF8to16(utf8);
    return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(std::wstring_view wide) {
    return talcore::string::UTF16to8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// Header bytes one for one: WinHTTP takes wide text, the wire carries the bytes the caller gave.
std::wstring WidenBytes(std::string_view bytes) {
    std::wstring wide;
    wide.reserve(bytes.size());
    for (const char c : bytes) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

std::string ErrorText(DWORD error) {
    switch (error) {
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return "could not connect";
        case ERROR_WINHTTP_CONNECTION_ERROR:
            return "connection reset or closed";
        case ERROR_WINHTTP_TIMEOUT:
            return "timed out";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return "host name not resolved";
        case ERROR_WINHTTP_OPERATION_CANCELLED:
            return "cancelled";
        case ERROR_WINHTTP_SECURE_FAILURE:
            return "TLS failure";
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
            return "invalid answer";
        case ERROR_WINHTTP_REDIRECT_FAILED:
            return "redirect failed";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "out of memory";
        default:
            return "WinHTTP error " + std::to_string(error);
    }
}

// A URL WinHTTP can take, split for it.
struct Target {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring pathAndQuery;
    std::string trace;  // origin and path: the query may carry secrets
    bool loopback = false;
};

// Only printable ASCII: WinHTTP would escape or reinterpret anything else, and curl refuses it too.
bool IsPlainURL(std::string_view url) {
    return !url.empty() && std::all_of(url.begin(), url.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

bool ParseURL(const std::string& url, Target& target) {
    if (!IsPlainURL(url)) return false;
    const std::wstring wide = Widen(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        parts.dwUserNameLength = parts.dwPasswordLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (parts.dwHostNameLength == 0 || parts.dwUserNameLength > 0 || parts.dwPasswordLength > 0) return false;
    target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.port = parts.nPort;
    const std::wstring path(parts.lpszUrlPath ? std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength)
                                              : std::wstring());
    const std::wstring query(parts.lpszExtraInfo ? std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength)
                                                 : std::wstring());
    target.pathAndQuery = (path.empty() ? L"/" : path) + query;
    const std::string host = Narrow(target.host);
    target.loopback = host == "127.0.0.1" || host == "localhost" || host == "::1" || host == "[::1]";
    target.trace = std::string(target.secure ? "https://" : "http://") + host + ":" + std::to_string(target.port) +
                   Narrow(path.empty() ? L"/" : path);
    return true;
}

class Core;

struct Transfer {
    std::shared_ptr<Core> owner;  // kept by its transfers, so a late callback always finds it
    RequestID id;
    std::uint64_t serial = 0;  // tells a resubmitted id from the request a stale Cancel meant
    Method method = Method::Get;
    RequestCompletion completion;
    Body body;
    Target target;
    std::wstring headers;  // "Name: value\r\n" each
    RequestOptions options;
    Clock::time_point submitted = Clock::now();

    // Guards what follows: WinHTTP's threads, Cancel and Stop all reach it. Recursive, since
    // WinHTTP may report a step from inside the call that started it, on the same thread.
    std::recursive_mutex mutex;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    // WinHTTP's own reference: from the moment its callbacks name this transfer until its last one.
    std::shared_ptr<Transfer> heldByWinHttp;
    bool finished = false;  // the completion is queued and the request handle closed
    std::shared_ptr<Response> response = std::make_shared<Response>();  // being read into
    std::uint32_t answerStatus = 0;  // from the head, final once the body has been read
    std::uint64_t received = 0;      // answer bytes taken in, head and body
    std::size_t bodyFill = 0;        // bytes of response->body that hold the answer; the rest is read into

    DWORD BodySize() const { return body ? static_cast<DWORD>(body->Size()) : 0; }
};

void CALLBACK OnWinHttpStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);

class Core : public std::enable_shared_from_this<Core> {
public:
    Core() {
        (void)detail::NetworkTraceEnabled();  // the trace facility is set up before the processor
        session_ = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
        if (!session_) {
            // Systems before Windows 8.1 know only the configured proxy.
            session_ = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
        }
        if (session_) {
            DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
            if (!WinHttpSetOption(session_, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
                protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;  // a system without TLS 1.3
                WinHttpSetOption(session_, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
            }
            WinHttpSetStatusCallback(session_, &OnWinHttpStatus,
                                     WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES, 0);
        } else if (detail::NetworkTraceEnabled()) {
            detail::NetworkTrace("WinHTTP session not opened: " + ErrorText(GetLastError()) + "\n");
        }
        pool_ = std::make_unique<detail::CompletionPool>(kCompletionThreads);
    }

    ~Core() {
        if (session_) WinHttpCloseHandle(session_);
    }

    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    bool Submit(Method method, const RequestID& id, RequestCompletion completion,
                const talcore::utility::ImmutableString& url, Body body, const HeaderMap& headers,
                const RequestOptions& options) {
        auto transfer = Prepare(method, url, std::move(body), headers, options);
        if (!transfer || !completion || exiting_) {
            detail::TraceRefusedRequest(method, id);
            return false;
        }
        transfer->owner = shared_from_this();
        transfer->id = id;
        transfer->completion = std::move(completion);
        // Held until the transfer has started: a Cancel or Stop that finds it meanwhile waits, so
        // that nothing ends it halfway through its set-up.
        std::unique_lock startLock(transfer->mutex);
        bool accepted = false;
        {
            std::lock_guard lock(mutex_);
            if (!stopping_ && active_.find(id) == active_.end()) {
                transfer->serial = ++lastSerial_;
                active_.emplace(id, transfer);
                accepted = true;
            }
        }
        detail::TraceSubmission(method, transfer->target.trace, accepted, id);
        if (accepted) Start(transfer);
        startLock.unlock();
        return accepted;  // a refused transfer, and the completion it holds, go here, outside any lock
    }

    void Cancel(const RequestID& id) {
        std::lock_guard lock(mutex_);
        const auto it = active_.find(id);
        if (it == active_.end()) return;
        const std::shared_ptr<Transfer> transfer = it->second;
        std::lock_guard transferLock(transfer->mutex);
        Finish(*transfer, kStatusNoResponse, "cancelled");
    }

    // Ends every request, then runs their completions (or drops them, as asked) and joins.
    void Stop(bool runCompletions) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            stopping_ = true;
            if (!runCompletions) runCompletions_ = false;
            for (const auto& [id, transfer] : active_) {
                std::lock_guard transferLock(transfer->mutex);
                Finish(*transfer, kStatusNoResponse, "stopped");
            }
        }
        // Every completion is queued by now, and nothing queues another.
        pool_.reset();
    }

    // At process exit, from the module's unloading: the other threads are gone, and any lock they
    // held with them, so nothing here may wait. Nothing runs or starts any more.
    void StopAtExit() {
        exiting_ = true;
        runCompletions_ = false;
    }

    void OnStatus(Transfer& transfer, DWORD status, LPVOID info, DWORD length) {
        if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
            // WinHTTP's last word on the transfer. Whoever else still holds it (a closer up the
            // stack, a Cancel) lets it go when done.
            const std::shared_ptr<Transfer> last = std::move(transfer.heldByWinHttp);
            return;
        }
        // Kept for this callback: closing the handle below may bring HANDLE_CLOSING before it returns.
        const std::shared_ptr<Transfer> keep = transfer.heldByWinHttp;
        std::lock_guard lock(transfer.mutex);
        if (transfer.finished) return;
        switch (status) {
            case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
                if (!WinHttpReceiveResponse(transfer.request, nullptr)) Fail(transfer, GetLastError());
                break;
            case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
                TakeHead(transfer);
                break;
            case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
                TakeBody(transfer, length);
                break;
            case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
                Fail(transfer,
                     info ? static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError : ERROR_WINHTTP_CONNECTION_ERROR);
                break;
            default:
                break;
        }
    }

private:
    std::shared_ptr<Transfer> Prepare(Method method, const talcore::utility::ImmutableString& url, Body body,
                                      const HeaderMap& headers, const RequestOptions& options) const {
        auto transfer = std::make_shared<Transfer>();
        transfer->method = method;
        transfer->body = std::move(body);
        transfer->options = options;
        if (!ParseURL(MapOrigin(url.UTF8()), transfer->target)) return nullptr;
        // WinHTTP takes a body's size as 32 bits.
        if (transfer->body && transfer->body->Size() > std::numeric_limits<DWORD>::max()) return nullptr;
        const auto checked = detail::CheckCallerHeaders(headers);
        if (!checked) return nullptr;
        for (const auto& [name, value, lower] : *checked) {
            // WinHTTP states the body's size itself, so the length on the wire is always the true one.
            if (lower == "content-length") continue;
            transfer->headers += WidenBytes(name) + L": " + WidenBytes(value) + L"\r\n";
        }
        return transfer;
    }

    // Under the transfer's lock: opens its handles and sends it; any failure ends it at once.
    void Start(const std::shared_ptr<Transfer>& shared) {
        Transfer& transfer = *shared;
        if (!session_) return Finish(transfer, kStatusNoResponse, "no WinHTTP session");
        transfer.connection = WinHttpConnect(session_, transfer.target.host.c_str(), transfer.target.port, 0);
        if (!transfer.connection) return Fail(transfer, GetLastError());
        const std::wstring verb = Widen(detail::MethodName(transfer.method));
        // The path goes out as given: it is already encoded, and encoding it again would change it.
        const DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY |
                            (transfer.target.secure ? WINHTTP_FLAG_SECURE : 0);
        transfer.request = WinHttpOpenRequest(transfer.connection, verb.c_str(), transfer.target.pathAndQuery.c_str(),
                                              nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
        if (!transfer.request) return Fail(transfer, GetLastError());
        // From here on the request's callbacks, its closing included, carry the transfer.
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&transfer);
        if (!WinHttpSetOption(transfer.request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
            return Fail(transfer, GetLastError());
        }
        transfer.heldByWinHttp = shared;
        if (!Configure(transfer)) return Fail(transfer, GetLastError());
        const DWORD size = transfer.BodySize();
        void* data = size > 0 ? static_cast<void*>(transfer.body->Data()) : WINHTTP_NO_REQUEST_DATA;
        // The body goes out from the caller's buffer, which the transfer keeps until WinHTTP is done.
        if (!WinHttpSendRequest(transfer.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, size, size, context)) {
            Fail(transfer, GetLastError());
        }
    }

    static bool Configure(Transfer& transfer) {
        HINTERNET request = transfer.request;
        const RequestOptions& options = transfer.options;
        DWORD disabled = WINHTTP_DISABLE_COOKIES | (options.followRedirects ? 0 : WINHTTP_DISABLE_REDIRECTS);
        if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled)) return false;
        if (options.followRedirects) {
            DWORD redirects = kMaxRedirects;
            WinHttpSetOption(request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);
        }
        // A loopback target is this machine's own: no proxy stands between.
        if (transfer.target.loopback) {
            WINHTTP_PROXY_INFO direct{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
            if (!WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &direct, sizeof direct)) return false;
        }
        constexpr std::int32_t kLongestSeconds = std::numeric_limits<int>::max() / 1000;
        const int connectMs = std::clamp(options.connectTimeoutSeconds, 1, kLongestSeconds) * 1000;
        // Sending, waiting for the head and reading are each limited to the inactivity limit; 0 waits
        // for ever.
        const int idleMs = std::clamp(options.lowSpeedTimeoutSeconds, 0, kLongestSeconds) * 1000;
        if (!WinHttpSetTimeouts(request, connectMs, connectMs, idleMs, idleMs)) return false;
        DWORD headWaitMs = idleMs > 0 ? static_cast<DWORD>(idleMs) : INFINITE;
        if (!WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headWaitMs, sizeof headWaitMs))
            return false;
        return transfer.headers.empty() ||
               WinHttpAddRequestHeaders(request, transfer.headers.c_str(), static_cast<DWORD>(-1),
                                        WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }

    // Counts `length` more answer bytes; false (and the transfer ended) once they pass its limit.
    bool TakeIn(Transfer& transfer, std::uint64_t length) {
        transfer.received += length;
        const std::uint64_t limit = transfer.options.maxResponseBytes;
        if (limit == 0 || transfer.received <= limit) return true;
        Finish(transfer, kStatusNoResponse, detail::TooLargeOutcome(limit));
        return false;
    }

    void TakeHead(Transfer& transfer) {
        DWORD code = 0;
        DWORD codeSize = sizeof code;
        if (!WinHttpQueryHeaders(transfer.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &code, &codeSize, WINHTTP_NO_HEADER_INDEX) ||
            code == 0) {
            return Fail(transfer, ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
        }
        DWORD bytes = 0;
        WinHttpQueryHeaders(transfer.request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                            WINHTTP_NO_OUTPUT_BUFFER, &bytes, WINHTTP_NO_HEADER_INDEX);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return Fail(transfer, GetLastError());
        if (!TakeIn(transfer, bytes / sizeof(wchar_t))) return;
        std::wstring raw(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(raw.size() * sizeof(wchar_t));
        if (!WinHttpQueryHeaders(transfer.request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                                 raw.data(), &bytes, WINHTTP_NO_HEADER_INDEX)) {
            return Fail(transfer, GetLastError());
        }
        raw.resize(bytes / sizeof(wchar_t));
        const std::string head = Narrow(raw);
        for (std::size_t start = 0; start < head.size();) {
            const std::size_t end = std::min(head.find("\r\n", start), head.size());
            detail::TakeHeaderLine(*transfer.response, std::string_view(head).substr(start, end - start));
            start = end + 2;
        }
        // Refused before the first body byte when the answer announces a larger body.
        const std::uint64_t limit = transfer.options.maxResponseBytes;
        if (const auto length = transfer.response->headers.find("content-length");
            limit > 0 && length != transfer.response->headers.end()) {
            const std::string& text = length->second;
            const bool digits = !text.empty() && text.size() <= 18 &&
                                std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (digits && transfer.received + std::stoull(text) > limit) {
                return Finish(transfer, kStatusNoResponse, detail::TooLargeOutcome(limit));
            }
        }
        transfer.answerStatus = code;
        ReadMore(transfer);
    }

    void TakeBody(Transfer& transfer, DWORD length) {
        if (length == 0) return Finish(transfer, transfer.answerStatus, {});
        transfer.bodyFill += length;
        if (TakeIn(transfer, length)) ReadMore(transfer);
    }

    void ReadMore(Transfer& transfer) {
        std::string& body = transfer.response->body;
        try {
            body.resize(transfer.bodyFill + kReadBytes);
        } catch (const std::bad_alloc&) {
            return Fail(transfer, ERROR_NOT_ENOUGH_MEMORY);
        }
        if (!WinHttpReadData(transfer.request, body.data() + transfer.bodyFill, kReadBytes, nullptr)) {
            Fail(transfer, GetLastError());
        }
    }

    void Fail(Transfer& transfer, DWORD error) { Finish(transfer, kStatusNoResponse, ErrorText(error)); }

    // Under the transfer's lock. The first outcome stands: its completion is queued and the request
    // handle closed, which brings WinHTTP's HANDLE_CLOSING, possibly from inside this call.
    void Finish(Transfer& transfer, std::uint32_t status, std::string_view outcome) {
        if (transfer.finished) return;
        transfer.finished = true;
        std::shared_ptr<Response> response;
        if (status == kStatusNoResponse) {
            // Nothing of an answer cut short is handed on, as if none had come; and WinHTTP may still
            // be reading into the one it had.
            response = std::make_shared<Response>();
        } else {
            response = std::move(transfer.response);
            response->body.resize(transfer.bodyFill);
            response->status = status;
        }
        detail::TraceOutcome(transfer.method, transfer.target.trace, status, outcome, transfer.submitted, transfer.id);
        // The pool refuses only at process exit, when nothing may run any more.
        (void)pool_->Post([core = transfer.owner, id = transfer.id, serial = transfer.serial,
                           completion = std::move(transfer.completion), response = std::move(response),
                           body = transfer.body] { core->Complete(id, serial, completion, response); });
        if (transfer.request) WinHttpCloseHandle(transfer.request);
        if (transfer.connection) WinHttpCloseHandle(transfer.connection);
    }

    // A completion thread. The id is free again before the completion runs.
    void Complete(const RequestID& id, std::uint64_t serial, const RequestCompletion& completion,
                  std::shared_ptr<Response> response) {
        std::shared_ptr<Transfer> done;  // let go outside the lock
        {
            std::lock_guard lock(mutex_);
            const auto it = active_.find(id);
            if (it != active_.end() && it->second->serial == serial) {
                done = std::move(it->second);
                active_.erase(it);
            }
        }
        if (runCompletions_) detail::RunCompletion(id, completion, std::move(response));
    }

    HINTERNET session_ = nullptr;
    std::unique_ptr<detail::CompletionPool> pool_;

    std::mutex mutex_;  // guards what follows; taken before a transfer's own lock, never after
    bool stopping_ = false;
    std::uint64_t lastSerial_ = 0;
    std::unordered_map<RequestID, std::shared_ptr<Transfer>> active_;  // until their completion runs

    std::atomic<bool> runCompletions_{true};
    std::atomic<bool> exiting_{false};
};

void CALLBACK OnWinHttpStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    // The session's and connections' own callbacks carry no transfer.
    if (context == 0) return;
    auto* transfer = reinterpret_cast<Transfer*>(context);
    transfer->owner->OnStatus(*transfer, status, info, length);
}

class WinHttpRequestProcessor final : public RequestProcessor {
public:
    ~WinHttpRequestProcessor() override { core_->Stop(true); }

    bool Get(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString& url,
             const HeaderMap& headers, const RequestOptions& options) override {
        return core_->Submit(Method::Get, id, std::move(completion), url, nullptr, headers, options);
    }
    bool Post(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString& url,
              Body body, const HeaderMap& headers, const RequestOptions& options) override {
        return core_->Submit(Method::Post, id, std::move(completion), url, std::move(body), headers, options);
    }
    bool Put(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString& url, Body body,
             const HeaderMap& headers, const RequestOptions& options) override {
        return core_->Submit(Method::Put, id, std::move(completion), url, std::move(body), headers, options);
    }
    void Cancel(const RequestID& id) override { core_->Cancel(id); }

    void StopAtExit() { core_->StopAtExit(); }

private:
    std::shared_ptr<Core> core_ = std::make_shared<Core>();
};

std::atomic<WinHttpRequestProcessor*> g_globalProcessor{nullptr};

void StopGlobalProcessorAtExit() {
    if (auto* processor = g_globalProcessor.load()) processor->StopAtExit();
}

}  // namespace

std::shared_ptr<RequestProcessor> GetGlobalRequestProcessor() {
    // Never destroyed: holders may outlive static destruction.
    static std::shared_ptr<WinHttpRequestProcessor>* const global = [] {
        auto* made = new std::shared_ptr<WinHttpRequestProcessor>(std::make_shared<WinHttpRequestProcessor>());
        g_globalProcessor.store(made->get());
        std::atexit(StopGlobalProcessorAtExit);
        return made;
    }();
    return *global;
}

std::shared_ptr<RequestProcessor> CreateRequestProcessor() { return std::make_shared<WinHttpRequestProcessor>(); }

}  // namespace talnet::http
