// The request processor of the Windows build, for now: WinHTTP is not wired in yet, so every
// accepted request completes, on the processor's own thread as the contract asks, with no answer
// (kStatusNoResponse). The plug-in links and runs, and a sign-in or upload fails as it would with
// the network down. THE WINHTTP PROCESSOR GOES HERE, in place of this file.
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "CompletionPool.h"
#include "NetTrace.h"
#include "talnet/http/RequestProcessor.h"

namespace talnet::http {
namespace {

constexpr auto kExitGrace = std::chrono::milliseconds(2000);

class UnavailableRequestProcessor final : public RequestProcessor {
public:
    bool Get(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString&,
             const HeaderMap&, const RequestOptions&) override {
        return Fail(id, std::move(completion), "GET");
    }
    bool Post(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString&, Body,
              const HeaderMap&, const RequestOptions&) override {
        return Fail(id, std::move(completion), "POST");
    }
    bool Put(const RequestID& id, RequestCompletion completion, const talcore::utility::ImmutableString&, Body,
             const HeaderMap&, const RequestOptions&) override {
        return Fail(id, std::move(completion), "PUT");
    }
    // Every request is already on its way to failing.
    void Cancel(const RequestID&) override {}

    void Abandon() { pool_.Abandon(kExitGrace); }

private:
    bool Fail(const RequestID& id, RequestCompletion completion, const char* method) {
        if (!completion) return false;
        if (detail::NetworkTraceEnabled()) {
            detail::NetworkTrace(std::string(method) + " not sent: the Windows transport is not built yet");
        }
        return pool_.Post([id, completion = std::move(completion)] {
            completion(id, std::make_shared<Response>());
        });
    }

    detail::CompletionPool pool_{1};
};

std::atomic<UnavailableRequestProcessor*> g_globalProcessor{nullptr};

void StopGlobalProcessorAtExit() {
    if (auto* processor = g_globalProcessor.load()) processor->Abandon();
}

}  // namespace

std::shared_ptr<RequestProcessor> GetGlobalRequestProcessor() {
    // Never destroyed: holders may outlive static destruction; its thread stops at exit.
    static std::shared_ptr<UnavailableRequestProcessor>* const global = [] {
        auto* made = new std::shared_ptr<UnavailableRequestProcessor>(std::make_shared<UnavailableRequestProcessor>());
        g_globalProcessor.store(made->get());
        std::atexit(StopGlobalProcessorAtExit);
        return made;
    }();
    return *global;
}

std::shared_ptr<RequestProcessor> CreateRequestProcessor() { return std::make_shared<UnavailableRequestProcessor>(); }

}  // namespace talnet::http
