// TikTok's side for the fuzz targets of the plug-in's answer handlers: a request processor that
// answers every request at once from a thread of its own, as the host's processor does, with
// TikTok's good answer for its endpoint, except the endpoint under test, which gets the answer the
// fuzz input makes. The uploader turns it into its state through its own completions and
// handlers, exactly as it does a real answer.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "talnet/http/RequestProcessor.h"
#include "tiktok/TikTokUploader.h"

namespace vekta::fuzz {

enum class Endpoint { Token, UserInfo, CreatorInfo, DirectPostInit, InboxInit, Upload };

// The answer an input makes: its first byte picks the status, its second the headers, the rest is
// the body.
std::shared_ptr<talnet::http::Response> AnswerFromInput(const std::uint8_t* data, std::size_t size);

class AnsweringProcessor final : public talnet::http::RequestProcessor {
public:
    AnsweringProcessor();
    ~AnsweringProcessor() override;
    AnsweringProcessor(const AnsweringProcessor&) = delete;
    AnsweringProcessor& operator=(const AnsweringProcessor&) = delete;

    // Requests to `endpoint` get `answer` from now on; every other endpoint its good answer.
    void AnswerWith(Endpoint endpoint, std::shared_ptr<talnet::http::Response> answer);
    // Requests sent to `endpoint` since the last AnswerWith.
    std::size_t RequestsTo(Endpoint endpoint) const;

    bool Get(const talnet::http::RequestID& id, talnet::http::RequestCompletion completion,
             const talcore::utility::ImmutableString& url, const talnet::http::HeaderMap& headers,
             const talnet::http::RequestOptions& options) override;
    bool Post(const talnet::http::RequestID& id, talnet::http::RequestCompletion completion,
              const talcore::utility::ImmutableString& url, talnet::http::Body body,
              const talnet::http::HeaderMap& headers, const talnet::http::RequestOptions& options) override;
    bool Put(const talnet::http::RequestID& id, talnet::http::RequestCompletion completion,
             const talcore::utility::ImmutableString& url, talnet::http::Body body,
             const talnet::http::HeaderMap& headers, const talnet::http::RequestOptions& options) override;
    // Every request is answered at once anyway; its completion runs as it would after a cancel.
    void Cancel(const talnet::http::RequestID&) override {}

private:
    struct Pending {
        talnet::http::RequestID id;
        talnet::http::RequestCompletion completion;
        std::shared_ptr<talnet::http::Response> answer;
    };
    bool Submit(const talnet::http::RequestID& id, talnet::http::RequestCompletion completion,
                const talcore::utility::ImmutableString& url, bool put);
    void Run();

    mutable std::mutex mutex_;
    std::condition_variable pending_;
    std::deque<Pending> queue_;
    bool stopping_ = false;
    Endpoint fuzzed_ = Endpoint::Token;
    std::shared_ptr<talnet::http::Response> fuzzedAnswer_;
    std::size_t requests_[6] = {};
    std::thread thread_;
};

// What the host was told last through the status callback.
struct HostStatus {
    Vekta::UploadState state = Vekta::UploadState::Idle;
    Vekta::ResultCode code = Vekta::ResultCode::None;
    std::size_t notifications = 0;
};

// One uploader per input, as the host makes one per export: its requests go to `processor`, its
// status reaches LastHostStatus. Released on the calling (main) thread, so it is gone on return
// from the releasing call.
talcore::utility::RefCountedPtr<Vekta::TikTokUploader> MakeUploader(
    const std::shared_ptr<AnsweringProcessor>& processor);
HostStatus LastHostStatus();
// An uploader as MakeUploader makes it, signed in with a refresh token: its first request is a refresh.
talcore::utility::RefCountedPtr<Vekta::TikTokUploader> MakeSignedInUploader(
    const std::shared_ptr<AnsweringProcessor>& processor);

// The processor every target of one program shares; its thread lives as long as the program.
const std::shared_ptr<AnsweringProcessor>& SharedProcessor();

// An export that passes TikTok's limits, `size` bytes of zeros read from memory.
void DescribeValidExport(Vekta::TikTokUploader& uploader, std::uint64_t size);

}  // namespace vekta::fuzz
