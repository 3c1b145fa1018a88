// The request processor on libcurl's multi interface.
//
// One thread runs the multi loop: it adds submitted transfers, ends cancelled ones, drives curl and
// waits in curl_multi_poll, woken by curl_multi_wakeup whenever another thread hands it work. Every
// transfer ends on that thread, after its easy handle has left the multi handle, so curl never
// reads a body once its completion may run. Completions run on a small pool of their own threads.
#include "talnet/http/RequestProcessor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include "CompletionPool.h"
#include "CurlHandles.h"
#include "NetTrace.h"
#include "RequestCommon.h"
#include "talnet/http/OriginMap.h"

namespace talnet::http {
namespace {

using Clock = detail::RequestClock;
using detail::EasyHandle;
using detail::HeaderList;
using detail::Method;
using detail::MethodName;
using detail::MultiHandle;

constexpr std::size_t kCompletionThreads = 2;
// Upper bound of one wait in curl_multi_poll; curl shortens it for its own timers.
constexpr int kPollMilliseconds = 1000;
// Larger than curl's default so that big chunks go out in fewer, larger writes.
constexpr long kUploadBufferBytes = 512L * 1024L;
constexpr long kMaxRedirects = 10;
// How long process exit waits for completions that are already running.
constexpr auto kExitGrace = std::chrono::milliseconds(2000);
constexpr const char* kUserAgent = "VektaPlatform/1.0";

void CurlGlobalInitOnce() {
    static const CURLcode initialized = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (initialized != CURLE_OK) throw std::runtime_error("RequestProcessor: curl_global_init failed");
}

struct Transfer {
    RequestID id;
    std::uint64_t serial = 0;  // tells a resubmitted id from the request a stale Cancel meant
    Method method = Method::Get;
    RequestCompletion completion;
    Body body;
    std::size_t readOffset = 0;
    EasyHandle easy;
    HeaderList headerList;
    std::shared_ptr<Response> response = std::make_shared<Response>();
    std::string target;  // origin and path, for tracing: the query may carry secrets
    Clock::time_point submitted = Clock::now();
    std::uint64_t maxResponseBytes = 0;  // 0: no limit
    std::uint64_t received = 0;          // answer bytes taken in, headers and body
    bool tooLarge = false;
    bool followRedirects = false;
    bool sent = false;           // the request has gone out once
    bool resendRefused = false;  // curl meant to send it again, and was not let
    // Pending until the first of its natural end, a cancellation or a stop claims it; only that one
    // completes it.
    std::atomic<bool> done{false};

    bool Claim() { return !done.exchange(true, std::memory_order_acq_rel); }
    std::size_t BodySize() const { return body ? body->Size() : 0; }
};

// Counts `length` more answer bytes; false (and the transfer marked) once they pass its limit.
bool TakeIn(Transfer& transfer, size_t length) {
    transfer.received += length;
    if (transfer.maxResponseBytes == 0 || transfer.received <= transfer.maxResponseBytes) return true;
    transfer.tooLarge = true;
    return false;
}

size_t OnResponseBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (!TakeIn(*transfer, length)) return 0;  // curl ends the transfer with a write error
    try {
        transfer->response->body.append(data, length);
    } catch (...) {
        return 0;  // curl ends the transfer with a write error
    }
    return length;
}

size_t OnResponseHeader(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (!TakeIn(*transfer, length)) return 0;
    try {
        detail::TakeHeaderLine(*transfer->response, std::string_view(data, length));
    } catch (...) {
        return 0;
    }
    return length;
}

// The body goes out straight from the caller's buffer; curl copies only into its socket buffer.
size_t OnUploadRead(char* buffer, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t total = transfer->BodySize();
    const size_t length = std::min(size * count, total - std::min(total, transfer->readOffset));
    if (length > 0) std::memcpy(buffer, transfer->body->Data() + transfer->readOffset, length);
    transfer->readOffset += length;
    return length;
}

// curl sends a request once more on a fresh connection when the reused connection it went out on
// ends before any answer. The server may well have acted on the first one (opened an upload, spent
// a single-use code, taken a chunk), so a second sending could do it twice, and the caller would
// never learn that the first went unanswered. The request ends unanswered instead, as the interface
// promises, and its caller decides. A redirect that the caller asked to follow is a new request.
int OnRequestSend(void* user, char*, char*, int, int) {
    auto* transfer = static_cast<Transfer*>(user);
    if (transfer->sent && !transfer->followRedirects) {
        transfer->resendRefused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    transfer->sent = true;
    return CURL_PREREQFUNC_OK;
}

// curl rewinds a body to send it to where a followed redirect points.
int OnUploadSeek(void* user, curl_off_t offset, int origin) {
    auto* transfer = static_cast<Transfer*>(user);
    if (origin != SEEK_SET || offset < 0 || static_cast<std::size_t>(offset) > transfer->BodySize()) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    transfer->readOffset = static_cast<std::size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

// The URL after origin mapping, checked: an absolute http or https URL with a host. Sets
// `target` to its origin and path.
bool ParseURL(const std::string& url, std::string& normalized, std::string& target) {
    detail::UrlHandle handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return false;
    const auto part = [&](CURLUPart which, std::string& out) {
        char* text = nullptr;
        if (curl_url_get(handle.get(), which, &text, 0) != CURLUE_OK) return false;
        detail::CurlText owned(text);
        out = text ? text : "";
        return true;
    };
    std::string scheme, host, port, path;
    if (!part(CURLUPART_SCHEME, scheme) || (scheme != "http" && scheme != "https")) return false;
    if (!part(CURLUPART_HOST, host) || host.empty()) return false;
    part(CURLUPART_PORT, port);  // absent when the URL names none
    part(CURLUPART_PATH, path);
    if (!part(CURLUPART_URL, normalized)) return false;
    target = scheme + "://" + host + (port.empty() ? "" : ":" + port) + path;
    return true;
}

class CurlRequestProcessor final : public RequestProcessor {
public:
    CurlRequestProcessor() {
        CurlGlobalInitOnce();
        // Asked once here so that the trace facility is set up before this processor and outlives
        // its shutdown at process exit.
        (void)detail::NetworkTraceEnabled();
        multi_.reset(curl_multi_init());
        if (!multi_) throw std::runtime_error("RequestProcessor: curl_multi_init failed");
        pool_ = std::make_unique<detail::CompletionPool>(kCompletionThreads);
        loop_ = std::thread([this] { Loop(); });
    }

    ~CurlRequestProcessor() override { Stop(true); }

    CurlRequestProcessor(const CurlRequestProcessor&) = delete;
    CurlRequestProcessor& operator=(const CurlRequestProcessor&) = delete;

    bool Get(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString& url,
             const HeaderMap& headers, const RequestOptions& options) override {
        return Submit(Method::Get, id, std::move(completion), url, nullptr, headers, options);
    }

    bool Post(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString& url,
              Body body, const HeaderMap& headers, const RequestOptions& options) override {
        return Submit(Method::Post, id, std::move(completion), url, std::move(body), headers, options);
    }

    bool Put(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString& url, Body body,
             const HeaderMap& headers, const RequestOptions& options) override {
        return Submit(Method::Put, id, std::move(completion), url, std::move(body), headers, options);
    }

    void Cancel(const RequestID& id) override {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            const auto it = inFlight_.find(id);
            if (it == inFlight_.end()) return;
            cancels_.emplace_back(id, it->second);
        }
        WakeLoop();
    }

    // At process exit: refuse new requests, end the transfers, and run no completion any more.
    void StopAtExit() { Stop(false); }

private:
    bool Submit(Method method, const RequestID& id, RequestCompletion completion,
                const talcore::utility::ImmutableString& url, Body body, const HeaderMap& headers,
                const RequestOptions& options) {
        std::unique_ptr<Transfer> transfer = Prepare(method, url, std::move(body), headers, options);
        if (!transfer) {
            detail::TraceRefusedRequest(method, id);
            return false;
        }
        transfer->id = id;
        transfer->completion = std::move(completion);
        const std::string target = transfer->target;
        {
            std::lock_guard lock(mutex_);
            if (!stopping_ && inFlight_.try_emplace(id, lastSerial_ + 1).second) {
                transfer->serial = ++lastSerial_;
                incoming_.push_back(std::move(transfer));
            }
        }
        // A refused transfer, and the completion it holds, are destroyed here, outside the lock.
        const bool accepted = !transfer;
        if (accepted) WakeLoop();
        detail::TraceSubmission(method, target, accepted, id);
        return accepted;
    }

    static std::unique_ptr<Transfer> Prepare(Method method, const talcore::utility::ImmutableString& url, Body body,
                                             const HeaderMap& headers, const RequestOptions& options) {
        auto transfer = std::make_unique<Transfer>();
        transfer->method = method;
        transfer->body = std::move(body);
        std::string normalized;
        if (!ParseURL(MapOrigin(url.UTF8()), normalized, transfer->target)) return nullptr;

        // Caller headers replace curl's own: curl leaves out any header the list names.
        const auto checked = detail::CheckCallerHeaders(headers);
        if (!checked) return nullptr;
        bool hasContentType = false;
        bool hasExpect = false;
        for (const auto& [name, value, lower] : *checked) {
            // curl states the body's size itself, so the length on the wire is always the true one.
            if (lower == "content-length") continue;
            hasContentType = hasContentType || lower == "content-type";
            hasExpect = hasExpect || lower == "expect";
            // "Name;" is curl's way of sending a header with an empty value.
            const std::string line = value.empty() ? name + ";" : name + ": " + value;
            if (!detail::AppendHeader(transfer->headerList, line.c_str())) return nullptr;
        }
        // No "Expect: 100-continue" round trip before a body.
        if (!hasExpect && !detail::AppendHeader(transfer->headerList, "Expect:")) return nullptr;
        // No form type invented for a POST whose caller named none.
        if (method == Method::Post && !hasContentType && !detail::AppendHeader(transfer->headerList, "Content-Type:")) {
            return nullptr;
        }

        transfer->easy.reset(curl_easy_init());
        CURL* easy = transfer->easy.get();
        if (!easy) return nullptr;
        bool ok = true;
        const auto set = [&](CURLoption option, auto value) {
            ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
        };
        Transfer* self = transfer.get();
        set(CURLOPT_URL, normalized.c_str());
        set(CURLOPT_PRIVATE, static_cast<void*>(self));
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_PROTOCOLS_STR, "http,https");
        set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        set(CURLOPT_FOLLOWLOCATION, options.followRedirects ? 1L : 0L);
        set(CURLOPT_MAXREDIRS, kMaxRedirects);
        set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(std::max(options.connectTimeoutSeconds, 1)));
        if (options.lowSpeedTimeoutSeconds > 0) {
            set(CURLOPT_LOW_SPEED_LIMIT, 1L);
            set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.lowSpeedTimeoutSeconds));
        }
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        set(CURLOPT_TCP_KEEPALIVE, 1L);
        set(CURLOPT_USERAGENT, kUserAgent);
        set(CURLOPT_WRITEFUNCTION, &OnResponseBody);
        set(CURLOPT_WRITEDATA, static_cast<void*>(self));
        set(CURLOPT_HEADERFUNCTION, &OnResponseHeader);
        set(CURLOPT_HEADERDATA, static_cast<void*>(self));
        set(CURLOPT_HTTPHEADER, transfer->headerList.get());
        set(CURLOPT_PREREQFUNCTION, &OnRequestSend);
        set(CURLOPT_PREREQDATA, static_cast<void*>(self));
        transfer->followRedirects = options.followRedirects;
        transfer->maxResponseBytes = options.maxResponseBytes;
        // Refused before the first body byte when the answer announces a larger body.
        if (options.maxResponseBytes > 0) {
            set(CURLOPT_MAXFILESIZE_LARGE,
                static_cast<curl_off_t>(std::min<std::uint64_t>(
                    options.maxResponseBytes, static_cast<std::uint64_t>(std::numeric_limits<curl_off_t>::max()))));
        }
        const auto bodySize = static_cast<curl_off_t>(transfer->BodySize());
        switch (method) {
            case Method::Get:
                set(CURLOPT_HTTPGET, 1L);
                break;
            case Method::Post:
                // POSTFIELDS points at the caller's bytes, which the transfer keeps alive; curl does
                // not copy them. An empty body must not be a null pointer: that would mean "read".
                set(CURLOPT_POST, 1L);
                set(CURLOPT_POSTFIELDSIZE_LARGE, bodySize);
                set(CURLOPT_POSTFIELDS,
                    bodySize > 0 ? static_cast<const void*>(self->body->Data()) : static_cast<const void*>(""));
                break;
            case Method::Put:
                set(CURLOPT_UPLOAD, 1L);
                set(CURLOPT_INFILESIZE_LARGE, bodySize);
                set(CURLOPT_READFUNCTION, &OnUploadRead);
                set(CURLOPT_READDATA, static_cast<void*>(self));
                set(CURLOPT_SEEKFUNCTION, &OnUploadSeek);
                set(CURLOPT_SEEKDATA, static_cast<void*>(self));
                set(CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
                break;
        }
        return ok ? std::move(transfer) : nullptr;
    }

    void Stop(bool runCompletions) {
        {
            std::lock_guard lock(mutex_);
            if (!stopping_) {
                stopping_ = true;
                runCompletionsAtStop_ = runCompletions;
            }
            if (multi_) curl_multi_wakeup(multi_.get());
        }
        if (loop_.joinable()) loop_.join();
        {
            // Submit and Cancel look at stopping_ under mutex_, and wake the loop under wakeMutex_.
            std::unique_lock wakeLock(wakeMutex_);
            std::lock_guard lock(mutex_);
            multi_.reset();
        }
        if (!pool_) return;
        if (runCompletions) {
            pool_.reset();  // runs the queued completions, then joins
        } else {
            pool_->Abandon(kExitGrace);
        }
    }

    // Wakes the loop for work just handed to it. Outside mutex_: the woken loop takes that lock
    // first, and a waker still holding it (or preempted while holding it) would stall the loop at
    // every chunk's turnaround.
    void WakeLoop() {
        std::shared_lock lock(wakeMutex_);
        if (multi_) curl_multi_wakeup(multi_.get());
    }

    void Loop() {
        for (;;) {
            std::vector<std::unique_ptr<Transfer>> incoming;
            std::vector<std::pair<RequestID, std::uint64_t>> cancels;
            bool stop = false;
            {
                std::lock_guard lock(mutex_);
                incoming.swap(incoming_);
                cancels.swap(cancels_);
                stop = stopping_;
                runCompletions_ = !stopping_ || runCompletionsAtStop_;
            }
            for (auto& transfer : incoming) Begin(std::move(transfer));
            for (const auto& [id, serial] : cancels) {
                const auto it = active_.find(id);
                if (it != active_.end() && it->second->serial == serial) End(it, kStatusNoResponse, "cancelled");
            }
            if (stop) {
                while (!active_.empty()) End(active_.begin(), kStatusNoResponse, "stopped");
                return;
            }
            int running = 0;
            curl_multi_perform(multi_.get(), &running);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
                if (message->msg != CURLMSG_DONE) continue;
                // Read before the handle leaves the multi handle, which ends the message's life.
                CURL* easy = message->easy_handle;
                const CURLcode result = message->data.result;
                char* privateData = nullptr;
                curl_easy_getinfo(easy, CURLINFO_PRIVATE, &privateData);
                const auto* transfer = reinterpret_cast<const Transfer*>(privateData);
                const auto it = transfer ? active_.find(transfer->id) : active_.end();
                if (it == active_.end()) {
                    curl_multi_remove_handle(multi_.get(), easy);
                    continue;
                }
                long code = 0;
                curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
                // A transfer that failed after its status line still has no usable answer.
                const bool answered = result == CURLE_OK && code > 0;
                if (!answered && (it->second->tooLarge || result == CURLE_FILESIZE_EXCEEDED)) {
                    // Nothing of an answer cut short is handed on, as if none had come.
                    Transfer& cut = *it->second;
                    cut.response->body.clear();
                    cut.response->body.shrink_to_fit();
                    cut.response->headers.clear();
                    End(it, kStatusNoResponse, detail::TooLargeOutcome(cut.maxResponseBytes));
                    continue;
                }
                const std::string_view why = it->second->resendRefused
                                                 ? std::string_view("connection lost before the answer; not sent again")
                                                 : std::string_view(curl_easy_strerror(result));
                End(it, answered ? static_cast<std::uint32_t>(code) : kStatusNoResponse,
                    answered ? std::string_view() : why);
            }
            if (curl_multi_poll(multi_.get(), nullptr, 0, kPollMilliseconds, nullptr) != CURLM_OK) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));  // never spin on a broken handle
            }
        }
    }

    void Begin(std::unique_ptr<Transfer> transfer) {
        if (curl_multi_add_handle(multi_.get(), transfer->easy.get()) != CURLM_OK) {
            Complete(std::move(transfer), kStatusNoResponse, "not started");
            return;
        }
        const RequestID id = transfer->id;
        active_.emplace(id, std::move(transfer));
    }

    void End(std::unordered_map<RequestID, std::unique_ptr<Transfer>>::iterator it, std::uint32_t status,
             std::string_view outcome) {
        std::unique_ptr<Transfer> transfer = std::move(it->second);
        active_.erase(it);
        curl_multi_remove_handle(multi_.get(), transfer->easy.get());
        Complete(std::move(transfer), status, outcome);
    }

    // Loop thread. The transfer has left the multi handle, so curl no longer touches its body.
    void Complete(std::unique_ptr<Transfer> transfer, std::uint32_t status, std::string_view outcome) {
        {
            std::lock_guard lock(mutex_);
            const auto it = inFlight_.find(transfer->id);
            if (it != inFlight_.end() && it->second == transfer->serial) inFlight_.erase(it);
        }
        if (!transfer->Claim()) return;
        transfer->response->status = status;
        detail::TraceOutcome(transfer->method, transfer->target, status, outcome, transfer->submitted, transfer->id);
        if (!runCompletions_ || !transfer->completion) return;
        detail::PostCompletion(*pool_, transfer->id, std::move(transfer->completion), transfer->response,
                               std::move(transfer->body));
    }

    MultiHandle multi_;
    std::unique_ptr<detail::CompletionPool> pool_;

    // Keeps the multi handle for wakeups from other threads: shared while one wakes the loop,
    // exclusive while Stop releases the handle.
    std::shared_mutex wakeMutex_;
    std::mutex mutex_;  // guards what follows up to the loop thread's own state
    bool stopping_ = false;
    bool runCompletionsAtStop_ = true;
    std::uint64_t lastSerial_ = 0;
    std::vector<std::unique_ptr<Transfer>> incoming_;
    std::vector<std::pair<RequestID, std::uint64_t>> cancels_;
    std::unordered_map<RequestID, std::uint64_t> inFlight_;

    // The loop thread's own.
    std::unordered_map<RequestID, std::unique_ptr<Transfer>> active_;
    bool runCompletions_ = true;

    std::thread loop_;  // joined in Stop, before the members it uses go
};

std::atomic<CurlRequestProcessor*> g_globalProcessor{nullptr};

void StopGlobalProcessorAtExit() {
    if (CurlRequestProcessor* processor = g_globalProcessor.load()) processor->StopAtExit();
}

}  // namespace

std::shared_ptr<RequestProcessor> GetGlobalRequestProcessor() {
    // Never destroyed: holders may outlive static destruction. Its threads stop in an atexit
    // handler, registered after curl (and so OpenSSL) and the trace facility were set up, which
    // makes it run before their own clean-up.
    static std::shared_ptr<CurlRequestProcessor>* const global = [] {
        auto* made = new std::shared_ptr<CurlRequestProcessor>(std::make_shared<CurlRequestProcessor>());
        g_globalProcessor.store(made->get());
        std::atexit(StopGlobalProcessorAtExit);
        return made;
    }();
    return *global;
}

std::shared_ptr<RequestProcessor> CreateRequestProcessor() { return std::make_shared<CurlRequestProcessor>(); }

}  // namespace talnet::http
