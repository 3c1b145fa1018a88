// How every request to TikTok is sent and awaited: a fresh id, a closed gate, a completion that
// finds the uploader by its weak key, and a bounded wait that cancels on time-out and then waits
// for the cancelled request's completion.
#include <chrono>

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

talnet::http::RequestCompletion TikTokUploader::MakeCompletion(
    const GatePtr& gate, std::function<void(TikTokUploader&, const RequestID&, const ResponsePtr&)> handler) {
    return [key = GetWeakKey(), gate, handler = std::move(handler)](const RequestID& id, ResponsePtr response) {
        auto locked = talcore::utility::RefCountedObjectWithWeakPtr::Lock(key);
        if (auto* self = dynamic_cast<TikTokUploader*>(locked.Get())) {
            handler(*self, id, response);
        } else {
            // Nobody can be waiting for an uploader that is gone; opening is harmless.
            gate->Open();
        }
    };
}

void TikTokUploader::AwaitResponse(const GatePtr& gate, const RequestID& id, const char* timeoutTrace) {
    if (talnet::http::PassGateTimeout(gate, requestTimeout, 500)) return;
    if (timeoutTrace) TraceTikTok(std::string(timeoutTrace) + id.AsUTF8String() + "\r\n");
    requestProcessor->Cancel(id);
    // A cancelled request still completes; its handler's effects must be in before we go on.
    gate->PassThroughUntil(std::chrono::steady_clock::now() + std::chrono::seconds(86400));
}

talnet::http::HeaderMap TikTokUploader::AuthorizationHeaders() {
    std::u16string bearer = u"Bearer ";
    {
        // A refresh on another thread (settings and publish run) has emptied the token until its
        // answer comes; sending meanwhile would send an empty bearer.
        std::unique_lock lock(tokenMutex);
        if (refreshInFlight) {
            ++refreshWaiters;
            refreshFinished.wait(lock, [this] { return !refreshInFlight; });
            --refreshWaiters;
        }
        bearer += accessToken;
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
    auto completion = MakeCompletion(gate, [grant, gate](TikTokUploader& self, const RequestID& id,
                                                         const ResponsePtr& response) {
        self.HandleTokenResponse(grant, gate, id, response);
    });
    const RequestID id = RequestID::CreateUnique();
    if (!requestProcessor->Post(id, std::move(completion), ImmutableString(url), std::move(body), headers, {})) {
        return;  // not accepted: no completion will come
    }
    AwaitResponse(gate, id);
}

double TikTokUploader::NowSeconds() const {
    return static_cast<double>(talcore::utility::HighPrecisionTime::NowNanoseconds()) / 1'000'000'000.0;
}

}  // namespace Vekta
