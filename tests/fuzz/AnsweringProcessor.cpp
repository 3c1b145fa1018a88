#include "tests/fuzz/AnsweringProcessor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace vekta::fuzz {
namespace {

using talnet::http::Response;

constexpr std::uint32_t kFuzzInstanceID = 4242;
constexpr std::uint32_t kRawStatus = 0;  // marks the entry whose status comes from the input itself

// Statuses a TikTok answer may come with, success weighted as the common case; the last one takes
// any 16-bit status from the input.
constexpr std::uint32_t kStatuses[] = {
    200, 200, 200, 200, 200, 200, 201, 204, 299, 300, 400, 401, 500, 503, talnet::http::kStatusNoResponse, kRawStatus};

std::shared_ptr<Response> MakeAnswer(std::uint32_t status, std::string body) {
    auto answer = std::make_shared<Response>();
    answer->status = status;
    answer->headers.emplace("content-type", "application/json; charset=UTF-8");
    answer->body = std::move(body);
    return answer;
}

// TikTok's answers to good requests, as the sandbox gives them.
std::shared_ptr<Response> GoodAnswer(Endpoint endpoint) {
    switch (endpoint) {
        case Endpoint::Token:
            return MakeAnswer(200, R"({"access_token":"act.fuzz","expires_in":86400,"open_id":"open.fuzz",)"
                                   R"("refresh_expires_in":31536000,"refresh_token":"rft.fuzz",)"
                                   R"("scope":"user.info.basic,video.publish,video.upload","token_type":"Bearer"})");
        case Endpoint::UserInfo:
            return MakeAnswer(200, R"({"data":{"user":{"profile_deep_link":"https://www.tiktok.com/@fuzz"}},)"
                                   R"("error":{"code":"ok","message":"","log_id":"fuzz"}})");
        case Endpoint::CreatorInfo:
            return MakeAnswer(200, R"({"data":{"creator_nickname":"Fuzz","privacy_level_options":["SELF_ONLY"],)"
                                   R"("comment_disabled":false,"duet_disabled":false,"stitch_disabled":false,)"
                                   R"("max_video_post_duration_sec":600},)"
                                   R"("error":{"code":"ok","message":"","log_id":"fuzz"}})");
        case Endpoint::DirectPostInit:
        case Endpoint::InboxInit:
            return MakeAnswer(200, R"({"data":{"publish_id":"v_pub_file~fuzz",)"
                                   R"("upload_url":"https://upload.invalid/upload/?upload_id=1"},)"
                                   R"("error":{"code":"ok","message":"","log_id":"fuzz"}})");
        case Endpoint::Upload:
            return MakeAnswer(201, "");
    }
    return MakeAnswer(500, "");
}

// Chunks are the only PUTs; the other requests go to TikTok's API endpoints (the upload address
// an answer names may look like anything, an endpoint's path included).
Endpoint EndpointOf(std::string_view url, bool put) {
    if (put) return Endpoint::Upload;
    const struct {
        const char* path;
        Endpoint endpoint;
    } endpoints[] = {{"/v2/oauth/token/", Endpoint::Token},
                     {"/v2/user/info/", Endpoint::UserInfo},
                     {"/v2/post/publish/creator_info/query/", Endpoint::CreatorInfo},
                     {"/v2/post/publish/video/init/", Endpoint::DirectPostInit},
                     {"/v2/post/publish/inbox/video/init/", Endpoint::InboxInit}};
    constexpr std::string_view kApiOrigin = "https://open.tiktokapis.com";
    for (const auto& [path, endpoint] : endpoints) {
        if (url.starts_with(kApiOrigin) && url.substr(kApiOrigin.size()).starts_with(path)) return endpoint;
    }
    std::fprintf(stderr, "a request to an address that is no TikTok endpoint: %.*s\n", static_cast<int>(url.size()),
                 url.data());
    std::abort();
}

std::mutex statusMutex;
HostStatus lastStatus;

void RecordStatus(const HostInstanceRecord*, std::uint32_t uploadState, float, const VektaUTF16Char*, std::uint16_t,
                  const std::uint32_t* resultCode) {
    std::lock_guard lock(statusMutex);
    lastStatus.state = static_cast<Vekta::UploadState>(uploadState);
    lastStatus.code = resultCode ? static_cast<Vekta::ResultCode>(*resultCode) : Vekta::ResultCode::None;
    ++lastStatus.notifications;
}

// An exported file of zeros that only exists in memory.
class ZeroStream final : public talcore::filesupport::IPlatformByteStream {
public:
    explicit ZeroStream(std::uint64_t size) : size_(size) {}
    std::size_t Read(void* buffer, std::size_t size) override {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - std::min(position_, size_)));
        std::memset(buffer, 0, n);
        position_ += n;
        return n;
    }
    void Seek(std::uint64_t offset) override { position_ = offset; }
    std::uint64_t Position() const override { return position_; }
    std::uint64_t Size() const override { return size_; }
    talcore::filesupport::FileIdentity Identity() const override { return {1, 2, 3}; }

private:
    std::uint64_t size_;
    std::uint64_t position_ = 0;
};

}  // namespace

std::shared_ptr<Response> AnswerFromInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t statusByte = size > 0 ? data[0] : 0;
    const std::uint8_t headerByte = size > 1 ? data[1] : 0;
    const std::size_t bodyStart = std::min<std::size_t>(size, 2);
    auto answer = std::make_shared<Response>();
    answer->status = kStatuses[statusByte % std::size(kStatuses)];
    if (answer->status == kRawStatus) answer->status = static_cast<std::uint32_t>(statusByte) * 4 + (headerByte & 3);
    static constexpr const char* kContentTypes[] = {nullptr, "application/json", "application/json; charset=UTF-8",
                                                    "text/html"};
    if (const char* type = kContentTypes[(headerByte >> 2) & 3]) answer->headers.emplace("content-type", type);
    if (headerByte & 0x10) answer->headers.emplace("x-tt-logid", "fuzz");
    if (size > bodyStart) answer->body.assign(reinterpret_cast<const char*>(data) + bodyStart, size - bodyStart);
    return answer;
}

AnsweringProcessor::AnsweringProcessor() : thread_([this] { Run(); }) {}

AnsweringProcessor::~AnsweringProcessor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    pending_.notify_all();
    thread_.join();
}

void AnsweringProcessor::AnswerWith(Endpoint endpoint, std::shared_ptr<Response> answer) {
    std::lock_guard lock(mutex_);
    fuzzed_ = endpoint;
    fuzzedAnswer_ = std::move(answer);
    std::fill(std::begin(requests_), std::end(requests_), 0);
}

std::size_t AnsweringProcessor::RequestsTo(Endpoint endpoint) const {
    std::lock_guard lock(mutex_);
    return requests_[static_cast<std::size_t>(endpoint)];
}

bool AnsweringProcessor::Get(const talnet::http::RequestID& id, talnet::http::RequestCompletion completion,
                             const talcore::utility::ImmutableString& url, const talnet::http::HeaderMap&,
                             const talnet::http::RequestOptions&) {
    return Submit(id, std::move(completion), url, false);
}

bool AnsweringProcessor::Post(const talnet::http::RequestID& id, talnet::http::RequestCompletion completion,
                              const talcore::utility::ImmutableString& url, talnet::http::Body,
                              const talnet::http::HeaderMap&, const talnet::http::RequestOptions&) {
    return Submit(id, std::move(completion), url, false);
}

bool AnsweringProcessor::Put(const talnet::http::RequestID& id, talnet::http::RequestCompletion completion,
                             const talcore::utility::ImmutableString& url, talnet::http::Body,
                             const talnet::http::HeaderMap&, const talnet::http::RequestOptions&) {
    return Submit(id, std::move(completion), url, true);
}

bool AnsweringProcessor::Submit(const talnet::http::RequestID& id, talnet::http::RequestCompletion completion,
                                const talcore::utility::ImmutableString& url, bool put) {
    const Endpoint endpoint = EndpointOf(url.UTF8(), put);
    {
        std::lock_guard lock(mutex_);
        ++requests_[static_cast<std::size_t>(endpoint)];
        // Each request gets its own copy: the handlers may keep what they were given.
        auto answer =
            std::make_shared<Response>(endpoint == fuzzed_ && fuzzedAnswer_ ? *fuzzedAnswer_ : *GoodAnswer(endpoint));
        queue_.push_back({id, std::move(completion), std::move(answer)});
    }
    pending_.notify_one();
    return true;
}

void AnsweringProcessor::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        pending_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Pending next = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        // Never under the lock, as the host's processor: a completion may send the next request.
        next.completion(next.id, std::move(next.answer));
        next = {};
        lock.lock();
    }
}

talcore::utility::RefCountedPtr<Vekta::TikTokUploader> MakeUploader(
    const std::shared_ptr<AnsweringProcessor>& processor) {
    {
        std::lock_guard lock(statusMutex);
        lastStatus = {};
    }
    HostInstanceRecord record{};
    record.instanceID = kFuzzInstanceID;
    talcore::utility::RefCountedPtr<Vekta::TikTokUploader> uploader(
        new Vekta::TikTokUploader(record, &RecordStatus, nullptr));
    uploader->SetRequestProcessorForTesting(processor);
    return uploader;
}

talcore::utility::RefCountedPtr<Vekta::TikTokUploader> MakeSignedInUploader(
    const std::shared_ptr<AnsweringProcessor>& processor) {
    auto uploader = MakeUploader(processor);
    uploader->SetRefreshToken(u"rft.fuzz");
    return uploader;
}

HostStatus LastHostStatus() {
    std::lock_guard lock(statusMutex);
    return lastStatus;
}

const std::shared_ptr<AnsweringProcessor>& SharedProcessor() {
    // Never destroyed: its thread must outlive every uploader, also at the program's exit.
    static const auto* processor = new std::shared_ptr<AnsweringProcessor>(std::make_shared<AnsweringProcessor>());
    return *processor;
}

void DescribeValidExport(Vekta::TikTokUploader& uploader, std::uint64_t size) {
    static const char16_t kPath[] = u"/fuzz/export.mp4";
    OutputFileEntry entry{};
    const VektaUTF16Char* path = kPath;
    std::memcpy(reinterpret_cast<std::uint8_t*>(&entry) + offsetof(OutputFileEntry, path), &path, sizeof path);
    uploader.SetOutputFiles(1, &entry);
    ExportVideoInfo info{};
    info.fileType = VEKTA_FOURCC('H', '2', '6', '4');
    info.frameWidth = 1080;
    info.frameHeight = 1920;
    info.frameRate = 30.0f;
    info.durationMs = 15000;
    uploader.SetVideoInfo(info);
    uploader.SetPublishSettings("SELF_ONLY", "#fuzz", false, false, false);
    uploader.SetSourceOpenerForTesting(
        [size](const talcore::filesupport::File&) { return std::make_unique<ZeroStream>(size); });
}

}  // namespace vekta::fuzz
