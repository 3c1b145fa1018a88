// How every request to TikTok is sent and awaited: a fresh id, a closed gate, a completion that
// finds the uploader by its weak key, and a bounded wait that cancels on time-out and then waits
// for the cancelled request's completion.
#include <chrono>
#include <string>

#include "talcore/string/Unicode.h"
#include "talcore/utility/HighPrecisionTime.h"
#include "talnet/Headers.h"
#include "talnet/http/HttpHelpers.h"
#include "tiktok/TikTokEndpoints.h"
#include "tiktok/TikTokTrace.h"
#include "tiktok/TikTokUploader.h"

namespace Vekta {

using talcore::utility::ImmutableString;
using talnet::http::RequestID;

namespace {

// Enough for every answer TikTok gives to these requests, which are small JSON texts.
constexpr std::uint64_t kMaxAnswerBytes = 1024 * 1024;

}  // namespace

const talnet::http::RequestOptions& TikTokUploader::BoundedRequestOptions() {
    static const talnet::http::RequestOptions options = [] {
        talnet::http::RequestOptions made;
        made.maxResponseBytes = kMaxAnswerBytes;
        return made;
    }();
    return options;
}

talnet::http::RequestCompletion TikTokUploader::MakeCompletion(const GatePtr& gate, const char* handlerName,
                                                               Handler handler, FailureAction onFailure) {
    return [key = GetWeakKey(), gate, handlerName, handler = std::move(handler), onFailure](const RequestID& id,
                                                                                            ResponsePtr response) {
        // Also when the uploader is gone: nobody can be waiting for it then, and opening is harmless.
        GateOpener opener(gate);
        auto locked = talcore::utility::RefCountedObjectWithWeakPtr::Lock(key);
        if (auto* self = dynamic_cast<TikTokUploader*>(locked.Get())) {
            self->RunGuarded(handlerName, id, opener, onFailure, [&] { handler(*self, id, response, opener); });
        }
    };
}

void TikTokUploader::RunGuarded(const char* name, const RequestID& id, GateOpener& opener, FailureAction onFailure,
                                const std::function<void()>& step) noexcept {
    try {
        step();
        return;
    } catch (const std::exception& e) {
        try {
            TraceHandlerError(name, id, e);
        } catch (...) {
        }
    } catch (...) {
        try {
            TraceTikTok(std::string(name) + " Error: " + id.AsUTF8String() + ": unknown exception\r\n");
        } catch (...) {
        }
    }
    // The step may have sent a request before it failed; the job ends here all the same.
    opener.KeepClosed(false);
    if (onFailure) {
        try {
            onFailure(*this);
        } catch (...) {
        }
    }
}

void TikTokUploader::AwaitResponse(const GatePtr& gate, const RequestID& id, const char* timeoutTrace) {
    if (talnet::http::PassGateTimeout(gate, requestTimeout_, 500)) return;
    if (timeoutTrace) TraceTikTok(std::string(timeoutTrace) + id.AsUTF8String() + "\r\n");
    requestProcessor_->Cancel(id);
    // A cancelled request still completes; its handler's effects must be in before we go on.
    gate->PassThroughUntil(std::chrono::steady_clock::now() + std::chrono::seconds(86400));
}

talnet::http::HeaderMap TikTokUploader::AuthorizationHeaders() {
    std::u16string bearer = u"Bearer ";
    {
        // A refresh on another thread (settings and publish run) has emptied the token until its
        // answer comes; sending meanwhile would send an empty bearer.
        std::unique_lock lock(tokenMutex_);
        if (refreshInFlight_) {
            ++refreshWaiters_;
            refreshFinished_.wait(lock, [this] { return !refreshInFlight_; });
            --refreshWaiters_;
        }
        bearer += accessToken_;
    }
    talnet::http::HeaderMap headers;
    headers.emplace(ImmutableString::Intern(talnet::kHEADER_AUTHORIZATION), ImmutableString(bearer));
    return headers;
}

void TikTokUploader::PostForm(const std::string& url, const std::vector<std::pair<std::string, std::string>>& form,
                              TokenGrant grant) {
    auto body = std::make_shared<talcore::allocator::RecycledMemory>(talnet::http::QuoteURL(form));
    talnet::http::HeaderMap headers;
    headers.emplace(ImmutableString::Intern(talnet::kHEADER_CONTENT_TYPE),
                    ImmutableString::Intern(talnet::kHEADER_CONTENT_TYPE_APPLICATION_WWW_FORM_URLENCODED));
    auto gate = std::make_shared<Gate>();
    auto completion = MakeCompletion(gate, "HandleTokenResponse",
                                     [grant](TikTokUploader& self, const RequestID& id, const ResponsePtr& response,
                                             GateOpener&) { self.HandleTokenResponse(grant, id, response); });
    const RequestID id = RequestID::CreateUnique();
    if (!requestProcessor_->Post(id, std::move(completion), ImmutableString(url), std::move(body), headers,
                                 BoundedRequestOptions())) {
        return;  // not accepted: no completion will come
    }
    AwaitResponse(gate, id);
}

double TikTokUploader::NowSeconds() const {
    return static_cast<double>(talcore::utility::HighPrecisionTime::NowNanoseconds()) / 1'000'000'000.0;
}

}  // namespace Vekta
