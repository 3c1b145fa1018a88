// Sending the exported file to TikTok's upload URL, one chunk per request: each answer reports
// progress and starts the next chunk, while the publishing thread waits for the chain to end. The
// chunk after the one on the wire is read meanwhile, so an answer is followed by the next chunk at
// once.
#include <string>
#include <utility>

#include "talcore/config/Localizer.h"
#include "talmediatypes/MediaTypes.h"
#include "talnet/Headers.h"
#include "talnet/http/HttpHelpers.h"
#include "tiktok/TikTokUploader.h"
#include "tiktok/UploadMessages.h"

namespace Vekta {

using talcore::utility::ImmutableString;
using talnet::http::RequestID;

namespace {

std::u16string Localized(std::string_view key) { return talcore::config::Localizer::Get().Localize(key); }

}  // namespace

bool TikTokUploader::OpenSourceStream() {
    if (!session_->OpenSource()) return false;
    // After the upload the job deletes this file, and none that its path may name by then.
    auto& files = JobFiles();
    if (!files.empty()) files.front().identity = session_->SourceIdentity();
    return true;
}

void TikTokUploader::ReleaseSource() {
    if (session_) session_->Close();
}

bool TikTokUploader::UploadFile() {
    const SessionPtr session = session_;
    if (!session->BeginTransfer()) {
        Fail(ResultCode::SourceNotOpened, UploadMessages()[kSourceFileOpenFail]);
        return false;
    }
    switch (jobVideoInfo_.fileType) {
        case VEKTA_FOURCC('H', '2', '6', '4'):
        case VEKTA_FOURCC('H', 'E', 'V', 'C'):
        case VEKTA_FOURCC('M', 'P', 'E', 'G'):
            session->SetMimeType(ImmutableString::Intern(talmediatypes::kMimeType_Video_MP4));
            break;
        case VEKTA_FOURCC('M', 'o', 'o', 'V'):
            session->SetMimeType(ImmutableString::Intern(talmediatypes::kMimeType_Video_QT));
            break;
        default:
            break;
    }
    auto gate = std::make_shared<Gate>();
    session->Touch(NowSeconds());
    {
        // The first step runs here; a failure in it ends the job as one in a completion would.
        GateOpener opener(gate);
        RunGuarded(
            "SendNextChunk", RequestID(), opener, [session](TikTokUploader& self) { self.FailChunkChain(*session); },
            [&] {
                if (SendNextChunk(session, true, gate, nullptr)) opener.KeepClosed();
            });
    }
    for (;;) {
        if (talnet::http::PassGateTimeout(gate, waitSliceSeconds_, 500)) break;
        if (NowSeconds() - session->LastActivity() > static_cast<double>(idleLimitSeconds_)) {
            // The cancelled request completes with a failure, which ends the chain and opens the gate.
            requestProcessor_->Cancel(session->CurrentRequest());
        }
    }
    const bool complete = session->EndTransfer();
    if (GetState() == UploadState::Uploading) {
        if (complete) {
            SetBusy(false);
            DeleteLocalFilesIfAllowed();
            PostNotice(profileDeepLink_);
            Complete();
        } else {
            // The chain ended without saying how; the job must not stay open.
            Fail(ResultCode::UploadFailed, UploadMessages()[kGenericUploadError]);
        }
    }
    return true;
}

bool TikTokUploader::SendNextChunk(const SessionPtr& session, bool first, const GatePtr& gate,
                                   const ResponsePtr& lastResponse) {
    // One step at a time: a fast answer's next chunk waits until this one has been read ahead.
    const UploadSession::Step step(*session);
    // A job that ended (failed, aborted) sends nothing more, also not a chunk it read ahead.
    if (session->Closed() || GetState() != UploadState::Uploading) return false;
    if (!first && (!lastResponse || lastResponse->status < 200 || lastResponse->status > 299)) return false;
    // Every byte TikTok was told about has been answered for: the video is TikTok's now, and an
    // abort that came during the last chunk can no longer stop it.
    if (session->AllSent()) return false;
    if (AbortRequested()) {
        session->DropSource();
        MarkAborted(Localized("$$$/Vekta/PostProcess/TikTok/Aborted=Aborted"));
        return false;
    }
    // TikTok takes exactly the size announced at initialisation; a file cut or grown since cannot
    // deliver it, and its stale or missing bytes must never go out as video. Asked of the open file
    // before every chunk, also one read ahead before the change.
    // A short read means the file changed or failed under us after all.
    if (!session->SourceKeepsItsSize() || !session->TakeNextChunk()) {
        FailUnreadableSource(*session);
        return false;
    }

    const std::uint64_t firstByte = session->NextOffset();
    const std::uint64_t length = session->NextLength();
    const std::uint64_t videoSize = session->VideoSize();
    talnet::http::HeaderMap headers;
    headers.emplace(ImmutableString::Intern(talnet::kHEADER_CONTENT_TYPE), session->MimeType());
    headers.emplace(ImmutableString::Intern(talnet::kHEADER_CONTENT_LENGTH), ImmutableString(std::to_string(length)));
    headers.emplace(ImmutableString::Intern(talnet::kHEADER_CONTENT_RANGE),
                    ImmutableString("bytes " + std::to_string(firstByte) + "-" +
                                    std::to_string(firstByte + length - 1) + "/" + std::to_string(videoSize)));
    const RequestID id = session->Advance();
    const float progress = session->Progress();
    auto completion = MakeCompletion(
        gate, "HandleChunkResponse",
        [session, gate](TikTokUploader& self, const RequestID& requestID, const ResponsePtr& response,
                        GateOpener& opener) { self.HandleChunkResponse(session, gate, requestID, response, opener); },
        [session](TikTokUploader& self) { self.FailChunkChain(*session); });
    // The request body shares the chunk buffer; it is not copied.
    auto body = std::make_shared<talcore::allocator::RecycledMemory>(session->Chunk());
    if (!requestProcessor_->Put(id, std::move(completion), ImmutableString(session->UploadURL()), std::move(body),
                                headers, BoundedRequestOptions())) {
        Fail(ResultCode::UploadFailed,
             Localized("$$$/Vekta/PostProcess/TikTok/UploadChunkFailed=Failed while writing to the server"));
        return false;
    }
    ReportProgress(progress, ResultCode::None, Localized("$$$/Vekta/PostProcess/TikTok/Uploading=Uploading to TikTok"));
    session->ReadAhead();
    return true;
}

void TikTokUploader::FailUnreadableSource(UploadSession& session) {
    session.DropSource();
    Fail(ResultCode::SourceNotOpened,
         Localized("$$$/Vekta/PostProcess/TikTok/SourceFileReadFail=The exported file could not be read completely. "
                   "It may have been changed or removed during the upload."));
}

void TikTokUploader::FailChunkChain(UploadSession& session) {
    const UploadSession::Step step(session);
    // A chunk still on its way is given up; its answer finds no request current and is dropped.
    const RequestID inFlight = session.DropCurrentRequest();
    if (!inFlight.IsNull()) requestProcessor_->Cancel(inFlight);  // ignored when it has finished
    if (session.Closed() || GetState() != UploadState::Uploading) return;
    Fail(ResultCode::UploadFailed,
         Localized("$$$/Vekta/PostProcess/TikTok/UploadChunkFailed=Failed while writing to the server"));
}

void TikTokUploader::HandleChunkResponse(const SessionPtr& session, const GatePtr& gate, const RequestID& id,
                                         const ResponsePtr& response, GateOpener& opener) {
    if (!session->IsCurrent(id)) return;
    const std::uint32_t status = response ? response->status : talnet::http::kStatusNoResponse;
    if (status < 200 || status > 299) {
        const UploadSession::Step step(*session);
        if (session->Closed() || GetState() != UploadState::Uploading) return;
        if (status == talnet::http::kStatusNoResponse) {
            Fail(ResultCode::NoResponse, UploadMessages()[kUploadTimeout]);
        } else {
            Fail(ResultCode::UploadFailed, UploadMessages()[kGenericUploadError]);
        }
        return;
    }
    session->Touch(NowSeconds());
    if (SendNextChunk(session, false, gate, response)) opener.KeepClosed();
}

}  // namespace Vekta
