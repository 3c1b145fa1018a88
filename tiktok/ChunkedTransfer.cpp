// Sending the exported file to TikTok's upload URL, one chunk per request: each answer reports
// progress and starts the next chunk, while the publishing thread waits for the chain to end.
#include <string>

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
    bytesSent = 0;
    bufferSize = 0;
    try {
        sourceStream.reset();
        sourceStream = talcore::filesupport::IPlatformByteStream::Create(exportedFile, 1);
        return true;
    } catch (...) {
        Fail(ResultCode::SourceNotOpened, UploadMessages()[kSourceFileOpenFail]);
        return false;
    }
}

bool TikTokUploader::UploadFile() {
    bool result = false;
    if (OpenSourceStream()) {
        switch (videoInfo.fileType) {
            case VEKTA_FOURCC('H', '2', '6', '4'):
            case VEKTA_FOURCC('H', 'E', 'V', 'C'):
            case VEKTA_FOURCC('M', 'P', 'E', 'G'):
                mimeType = ImmutableString::Intern(talmediatypes::kMimeType_Video_MP4);
                break;
            case VEKTA_FOURCC('M', 'o', 'o', 'V'):
                mimeType = ImmutableString::Intern(talmediatypes::kMimeType_Video_QT);
                break;
            default:
                break;
        }
        auto gate = std::make_shared<Gate>();
        lastActivity = NowSeconds();
        SendNextChunk(true, gate, nullptr);
        for (;;) {
            if (talnet::http::PassGateTimeout(gate, waitSliceSeconds, 500)) break;
            if (NowSeconds() - lastActivity.load() > static_cast<double>(idleLimitSeconds)) {
                // The cancelled request completes with a failure, which ends the chain and opens the gate.
                RequestID silent;
                {
                    std::lock_guard lock(currentRequestMutex);
                    silent = currentRequest;
                }
                requestProcessor->Cancel(silent);
            }
        }
        result = true;
    }
    {
        std::lock_guard lock(transferMutex);
        sourceStream.reset();
    }
    if (result && GetState() == UploadState::Uploading) {
        SetBusy(false);
        DeleteLocalFilesIfAllowed();
        PostNotice(profileDeepLink);
        Complete();
    }
    return result;
}

void TikTokUploader::SendNextChunk(bool first, const GatePtr& gate, const ResponsePtr& lastResponse) {
    // One chunk at a time: a fast answer's next chunk waits until this one has reported its progress.
    std::lock_guard lock(transferMutex);
    if (!first && (!lastResponse || lastResponse->status < 200 || lastResponse->status > 299)) {
        gate->Open();
        return;
    }
    // Every byte TikTok was told about has been answered for: the video is TikTok's now, and an
    // abort that came during the last chunk can no longer stop it.
    if (bytesSent >= videoSize) {
        gate->Open();
        return;
    }
    if (AbortRequested()) {
        sourceStream.reset();
        MarkAborted(Localized("$$$/Vekta/PostProcess/TikTok/Aborted=Aborted"));
        gate->Open();
        return;
    }
    // TikTok takes exactly the size announced at initialisation; a file that changed since (cut,
    // replaced, removed) cannot deliver it, and its stale or missing bytes must never go out as video.
    if (exportedFile.Size() != videoSize) {
        FailUnreadableSource(gate);
        return;
    }
    const std::uint64_t index = bytesSent / chunkSize;
    const std::uint64_t length = chunkCount - index < 2 ? videoSize - bytesSent : chunkSize;
    if (bufferSize != length) {
        chunkBuffer = std::make_shared<std::vector<std::uint8_t>>(length);
        bufferSize = length;
    }
    // A short read means the file changed or failed under us after all.
    std::size_t read = 0;
    try {
        read = sourceStream ? sourceStream->Read(chunkBuffer->data(), static_cast<std::size_t>(length)) : 0;
    } catch (...) {
        read = 0;
    }
    if (read != length) {
        FailUnreadableSource(gate);
        return;
    }

    const std::uint64_t firstByte = bytesSent;
    talnet::http::HeaderMap headers;
    headers.emplace(ImmutableString::Intern(talnet::kHEADER_CONTENT_TYPE), mimeType);
    headers.emplace(ImmutableString::Intern(talnet::kHEADER_CONTENT_LENGTH), ImmutableString(std::to_string(length)));
    headers.emplace(ImmutableString::Intern(talnet::kHEADER_CONTENT_RANGE),
                    ImmutableString("bytes " + std::to_string(firstByte) + "-" +
                                    std::to_string(firstByte + length - 1) + "/" + std::to_string(videoSize)));
    const RequestID id = RequestID::CreateUnique();
    bytesSent += length;
    {
        std::lock_guard requestLock(currentRequestMutex);
        currentRequest = id;
    }
    const float progress = static_cast<float>(bytesSent) / static_cast<float>(videoSize);
    auto completion = [key = GetWeakKey(), gate](const RequestID& requestID, ResponsePtr response) {
        auto locked = talcore::utility::RefCountedObjectWithWeakPtr::Lock(key);
        if (auto* self = dynamic_cast<TikTokUploader*>(locked.Get())) {
            self->HandleChunkResponse(gate, requestID, response);
        } else {
            gate->Open();
        }
    };
    // The request body shares the chunk buffer; it is not copied.
    auto body = std::make_shared<talcore::allocator::RecycledMemory>(chunkBuffer);
    if (requestProcessor->Put(id, std::move(completion), ImmutableString(uploadURL), std::move(body), headers, {})) {
        ReportProgress(progress, ResultCode::None, Localized("$$$/Vekta/PostProcess/TikTok/Uploading=Uploading to TikTok"));
        return;
    }
    Fail(ResultCode::UploadFailed, Localized("$$$/Vekta/PostProcess/TikTok/UploadChunkFailed=Failed while writing to the server"));
    gate->Open();
}

void TikTokUploader::FailUnreadableSource(const GatePtr& gate) {
    sourceStream.reset();
    Fail(ResultCode::SourceNotOpened,
         Localized("$$$/Vekta/PostProcess/TikTok/SourceFileReadFail=The exported file could not be read completely. "
                   "It may have been changed or removed during the upload."));
    gate->Open();
}

void TikTokUploader::HandleChunkResponse(const GatePtr& gate, const RequestID& /*id*/, const ResponsePtr& response) {
    const std::uint32_t status = response ? response->status : talnet::http::kStatusNoResponse;
    if (status < 200 || status > 299) {
        {
            std::lock_guard lock(transferMutex);
            if (status == talnet::http::kStatusNoResponse) {
                Fail(ResultCode::NoResponse, UploadMessages()[kUploadTimeout]);
            } else {
                Fail(ResultCode::UploadFailed, UploadMessages()[kGenericUploadError]);
            }
        }
        gate->Open();
        return;
    }
    lastActivity = NowSeconds();
    SendNextChunk(false, gate, response);
}

}  // namespace Vekta
