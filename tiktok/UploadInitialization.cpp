// Publishing one export: the limits, a fresh access token, and TikTok's upload initialisation.
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "talcore/config/Localizer.h"
#include "talcore/serialization/JSON.h"
#include "talcore/string/Unicode.h"
#include "talnet/Headers.h"
#include "talnet/http/HttpHelpers.h"
#include "talnet/http/OriginMap.h"
#include "tiktok/TikTokEndpoints.h"
#include "tiktok/TikTokLimits.h"
#include "tiktok/TikTokTrace.h"
#include "tiktok/TikTokUploader.h"
#include "tiktok/UploadPlan.h"
#include "uploader/LocalizeWithArgument.h"

namespace Vekta {

using talcore::utility::ImmutableString;
using talnet::http::RequestID;
namespace json = talcore::serialization;

namespace {

constexpr double kTicksPerSecond = 254016000000.0;

// The cover time in whole milliseconds, held to what the 32-bit field can carry. A time before the
// start names no frame and TikTok refuses a negative one (and the whole post with it), so it
// becomes the first frame.
std::int64_t CoverTimestampMs(std::int64_t ticks) {
    const double ms = std::trunc(static_cast<double>(ticks) / kTicksPerSecond * 1000.0);
    if (ms >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (ms <= 0.0) return 0;
    return static_cast<std::int64_t>(ms);
}

bool IsHttps(std::u16string_view url) {
    constexpr std::u16string_view kScheme = u"https://";
    if (url.size() < kScheme.size()) return false;
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        const char16_t c = url[i] >= u'A' && url[i] <= u'Z' ? static_cast<char16_t>(url[i] - u'A' + u'a') : url[i];
        if (c != kScheme[i]) return false;
    }
    return true;
}

}  // namespace

bool TikTokUploader::Publish(bool directPost) {
    BeginJob();
    // The job lets go of the state and of the exported file whatever way it ends.
    struct JobEnd {
        TikTokUploader& self;
        ~JobEnd() {
            self.ReleaseSource();
            self.EndJob();
        }
    } end{*this};
    try {
        return PublishJob(directPost);
    } catch (const std::exception& e) {
        TraceTikTok(std::string("Publish Error: ") + e.what() + "\r\n");
    } catch (...) {
        TraceTikTok("Publish Error: unknown exception\r\n");
    }
    EndJobAfterError();
    return false;
}

void TikTokUploader::EndJobAfterError() {
    {
        // A chain still running meets the ended job at its next step and sends nothing more.
        std::optional<UploadSession::Step> step;
        if (session_) step.emplace(*session_);
        if (GetState() == UploadState::Uploading) {
            Fail(ResultCode::UploadFailed, UploadMessages()[kGenericUploadError]);
            return;
        }
    }
    // Ended already (and so not busy), unless it failed between its end and its clean-up.
    SetBusy(false);
}

bool TikTokUploader::PublishJob(bool directPost) {
    TakeHandOver([this] { jobVideoInfo_ = videoInfo_; });
    const auto& files = JobFiles();
    session_ = std::make_shared<UploadSession>(
        talcore::filesupport::File(files.empty() ? std::u16string() : files.front().path, 0), sourceOpener_);
    const bool opened = OpenSourceStream();
    // Existence and size come from the handle the chunks are read through, so what is checked is
    // what is sent, whatever the path names meanwhile.
    const bool exists = opened || session_->ExportedFile().Exists();
    const std::uint64_t size = opened ? session_->SourceSize() : 0;

    if (const auto refusal = TikTokLimitsCheck(JobFormatSupported(), exists, size, jobVideoInfo_, directPost,
                                               publishSettings_.privacyLevel)) {
        Fail(refusal->code, UploadMessages()[refusal->message]);
        return false;
    }
    if (!opened) {
        Fail(ResultCode::SourceNotOpened, UploadMessages()[kSourceFileOpenFail]);
        return false;
    }
    // An abort that came before the upload was opened leaves nothing behind on TikTok.
    if (AbortRequested()) {
        ReleaseSource();
        MarkAborted(talcore::config::Localizer::Get().Localize("$$$/Vekta/PostProcess/TikTok/Aborted=Aborted"));
        return true;
    }
    std::u16string message;
    if (!InitializeUpload(size, directPost, message)) {
        Fail(ResultCode::UploadFailed, message);
        return false;
    }
    if (!UploadFile()) {
        Fail(ResultCode::UploadFailed, UploadMessages()[kGenericUploadError]);
        return false;
    }
    return true;
}

bool TikTokUploader::InitializeUpload(std::uint64_t fileSize, bool directPost, std::u16string& message) {
    message.clear();
    if (!RefreshAccessToken()) {
        message = LocalizeWithArgument(
            "$$$/Vekta/PostProcess/TikTok/EmptyCredentialsUploadManually=Exported video was not uploaded to TikTok "
            "because you are not signed in. You can upload it manually from:\\n@0#{comment}Parameter is replaced by "
            "full path to exported file",
            session_->ExportedFile().FullPath());
        return false;
    }
    RequestUserInfo();
    session_->SetUploadURL({});

    const UploadPlan plan = PlanChunks(fileSize);
    session_->SetPlan(fileSize, plan);
    if (plan.chunkSize == 0) {
        message = talcore::config::Localizer::Get().Localize(
            "$$$/Vekta/PostProcess/TikTok/InvalidFileSize=Exported video has an invalid file size.");
        return false;
    }

    const auto root = json::MakeJSONObject();
    const auto source = json::MakeJSONObject();
    json::AddToObject(source, "source", json::MakeJSONNode(std::string("FILE_UPLOAD")));
    json::AddToObject(source, "video_size", json::MakeJSONNode(std::to_string(fileSize)));
    json::AddToObject(source, "chunk_size", json::MakeJSONNode(std::to_string(plan.chunkSize)));
    json::AddToObject(source, "total_chunk_count", json::MakeJSONNode(std::to_string(plan.chunkCount)));
    json::AddToObject(root, "source_info", source);
    if (directPost) {
        const auto post = json::MakeJSONObject();
        json::AddToObject(post, "privacy_level", json::MakeJSONNode(publishSettings_.privacyLevel));
        json::AddToObject(post, "title", json::MakeJSONNode(publishSettings_.title));
        json::AddToObject(post, "disable_comment", json::MakeJSONNode(publishSettings_.disableComment));
        json::AddToObject(post, "disable_duet", json::MakeJSONNode(publishSettings_.disableDuet));
        json::AddToObject(post, "disable_stitch", json::MakeJSONNode(publishSettings_.disableStitch));
        json::AddToObject(post, "video_cover_timestamp_ms", json::MakeJSONNode(CoverTimestampMs(JobCoverTime())));
        json::AddToObject(root, "post_info", post);
    }
    auto body = std::make_shared<talcore::allocator::RecycledMemory>(json::GetJSONUTF8String(root));

    talnet::http::HeaderMap headers = AuthorizationHeaders();
    headers.emplace(ImmutableString::Intern(talnet::kHEADER_CONTENT_TYPE),
                    ImmutableString::Intern(talnet::kHEADER_CONTENT_TYPE_APPLICATION_JSON_UTF_8));
    auto gate = std::make_shared<Gate>();
    auto completion =
        MakeCompletion(gate, "HandleUploadInitializationResponse",
                       [session = session_](TikTokUploader& self, const RequestID& id, const ResponsePtr& r,
                                            GateOpener&) { self.HandleUploadInitializationResponse(*session, id, r); });
    const RequestID id = RequestID::CreateUnique();
    const auto& endpoint =
        directPost ? TikTokEndpoints::DirectPostInitEndpoint() : TikTokEndpoints::InboxInitEndpoint();
    if (requestProcessor_->Post(id, std::move(completion), endpoint, std::move(body), headers,
                                BoundedRequestOptions())) {
        AwaitResponse(gate, id);
    }

    if (session_->UploadURL().empty()) {
        message = LocalizeWithArgument(
            "$$$/Vekta/PostProcess/TikTok/NoUploadUrl=Unable to upload to TikTok. You can upload it manually "
            "from:\\n@0#{comment}Parameter is replaced by full path to exported file",
            session_->ExportedFile().FullPath());
        return false;
    }
    return true;
}

void TikTokUploader::HandleUploadInitializationResponse(UploadSession& session, const RequestID& id,
                                                        const ResponsePtr& response) {
    try {
        const std::string body = talnet::http::HandleBody(id, response);
        if (response->status == 200) {
            const auto data = json::GetVariantInObject(json::JSONParse(body), "data");
            std::u16string url = talnet::http::GetItemFor(data, "upload_url");
            // The file goes where the answer says: over https only, or to the host's own loopback
            // stand-in. The address is a capability and is not traced.
            if (!url.empty() && !IsHttps(url) &&
                !talnet::http::IsMappedLoopbackTarget(talcore::string::UTF16to8(url))) {
                throw std::runtime_error("the upload_url is neither https nor a mapped loopback target");
            }
            session.SetUploadURL(std::move(url));
        }
    } catch (const std::exception& e) {
        TraceHandlerError("HandleUploadInitializationResponse", id, e);
    }
}

}  // namespace Vekta
