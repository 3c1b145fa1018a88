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

using talcore::filesupport::IPlatformByteStream;
using talcore::utility::ImmutableString;
using talnet::http::RequestID;

namespace {

std::u16string Localized(std::string_view key) { return talcore::config::Localizer::Get().Localize(key); }

}  // namespace

bool TikTokUploader::OpenSourceStream() {
    std::lock_guard lock(transferMutex);
    bytesSent = 0;
    readAhead = {};
    try {
        sourceStream.reset();
        sourceStream = sourceOpener ? sourceOpener(exportedFile)
                                    : IPlatformByteStream::Create(exportedFile, IPlatformByteStream::kRead);
        if (!sourceStream) return false;
        // After the upload the job deletes this file, and none that its path may name by then.
        auto& files = JobFiles();
        if (!files.empty()) files.front().identity = sourceStream->Identity();
        return true;
    } catch (...) {
        sourceStream.reset();
        return false;
    }
}

void TikTokUploader::ReleaseSource() {
    std::lock_guard lock(transferMutex);
    sourceStream.reset();
    chunkBuffer.reset();
    spareBuffer.reset();
    readAhead = {};
}

bool TikTokUploader::UploadFile() {
    {
        std::lock_guard lock(transferMutex);
        if (!sourceStream) {
            Fail(ResultCode::SourceNotOpened, UploadMessages()[kSourceFileOpenFail]);
            return false;
        }
        transferComplete = false;
    }
    switch (jobVideoInfo.fileType) {
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
    {
        // The first step runs here; a failure in it ends the job as one in a completion would.
        GateOpener opener(gate);
        RunGuarded("SendNextChunk", RequestID(), opener, &TikTokUploader::FailChunkChain, [&] {
            if (SendNextChunk(true, gate, nullptr)) opener.KeepClosed();
        });
    }
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
    bool complete = false;
    {
        // Closed before the file may be deleted, which some systems refuse for an open file.
        std::lock_guard lock(transferMutex);
        complete = transferComplete;
        sourceStream.reset();
        chunkBuffer.reset();
        spareBuffer.reset();
        readAhead = {};
    }
    if (GetState() == UploadState::Uploading) {
        if (complete) {
            SetBusy(false);
            DeleteLocalFilesIfAllowed();
            PostNotice(profileDeepLink);
            Complete();
        } else {
            // The chain ended without saying how; the job must not stay open.
            Fail(ResultCode::UploadFailed, UploadMessages()[kGenericUploadError]);
        }
    }
    return true;
}

std::uint64_t TikTokUploader::ChunkLength(std::uint64_t offset) const {
    const std::uint64_t index = offset / chunkSize;
    return chunkCount - index < 2 ? videoSize - offset : chunkSize;
}

bool TikTokUploader::ReadChunk(std::uint64_t offset, std::uint64_t length,
                               std::shared_ptr<std::vector<std::uint8_t>>& buffer) {
    if (!buffer || buffer->size() != length) {
        buffer.reset();  // a buffer of another length goes before its replacement comes
        buffer = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(length));
    }
    try {
        if (sourceStream->Position() != offset) sourceStream->Seek(offset);
        return sourceStream->Read(buffer->data(), static_cast<std::size_t>(length)) == length;
    } catch (...) {
        return false;  // a read error counts as a short read
    }
}

void TikTokUploader::ReadAhead() {
    readAhead = {};
    if (bytesSent >= videoSize) return;
    const std::uint64_t length = ChunkLength(bytesSent);
    readAhead.complete = ReadChunk(bytesSent, length, spareBuffer);
    readAhead.offset = bytesSent;
    readAhead.length = length;
    readAhead.ready = true;
}

bool TikTokUploader::SendNextChunk(bool first, const GatePtr& gate, const ResponsePtr& lastResponse) {
    // One step at a time: a fast answer's next chunk waits until this one has been read ahead.
    std::lock_guard lock(transferMutex);
    // A job that ended (failed, aborted) sends nothing more, also not a chunk it read ahead.
    if (GetState() != UploadState::Uploading) return false;
    if (!first && (!lastResponse || lastResponse->status < 200 || lastResponse->status > 299)) return false;
    // Every byte TikTok was told about has been answered for: the video is TikTok's now, and an
    // abort that came during the last chunk can no longer stop it.
    if (bytesSent >= videoSize) {
        transferComplete = true;
        return false;
    }
    if (AbortRequested()) {
        sourceStream.reset();
        spareBuffer.reset();
        readAhead = {};
        MarkAborted(Localized("$$$/Vekta/PostProcess/TikTok/Aborted=Aborted"));
        return false;
    }
    // TikTok takes exactly the size announced at initialisation; a file cut or grown since cannot
    // deliver it, and its stale or missing bytes must never go out as video. Asked of the open file
    // before every chunk, also one read ahead before the change.
    if (!sourceStream || sourceStream->Size() != videoSize) {
        FailUnreadableSource();
        return false;
    }
    const std::uint64_t length = ChunkLength(bytesSent);
    bool whole = false;
    if (readAhead.ready && readAhead.offset == bytesSent && readAhead.length == length) {
        std::swap(chunkBuffer, spareBuffer);
        whole = readAhead.complete;
    } else {
        whole = ReadChunk(bytesSent, length, chunkBuffer);
    }
    readAhead = {};
    // A short read means the file changed or failed under us after all.
    if (!whole) {
        FailUnreadableSource();
        return false;
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
    auto completion = MakeCompletion(
        gate, "HandleChunkResponse",
        [gate](TikTokUploader& self, const RequestID& requestID, const ResponsePtr& response, GateOpener& opener) {
            self.HandleChunkResponse(gate, requestID, response, opener);
        },
        &TikTokUploader::FailChunkChain);
    // The request body shares the chunk buffer; it is not copied.
    auto body = std::make_shared<talcore::allocator::RecycledMemory>(chunkBuffer);
    if (!requestProcessor->Put(id, std::move(completion), ImmutableString(uploadURL), std::move(body), headers,
                               BoundedRequestOptions())) {
        Fail(ResultCode::UploadFailed,
             Localized("$$$/Vekta/PostProcess/TikTok/UploadChunkFailed=Failed while writing to the server"));
        return false;
    }
    ReportProgress(progress, ResultCode::None, Localized("$$$/Vekta/PostProcess/TikTok/Uploading=Uploading to TikTok"));
    ReadAhead();
    return true;
}

void TikTokUploader::FailUnreadableSource() {
    sourceStream.reset();
    spareBuffer.reset();
    readAhead = {};
    Fail(ResultCode::SourceNotOpened,
         Localized("$$$/Vekta/PostProcess/TikTok/SourceFileReadFail=The exported file could not be read completely. "
                   "It may have been changed or removed during the upload."));
}

void TikTokUploader::FailChunkChain() {
    std::lock_guard lock(transferMutex);
    RequestID inFlight;
    {
        std::lock_guard requestLock(currentRequestMutex);
        inFlight = currentRequest;
        // A chunk still on its way is given up; its answer finds no request current and is dropped.
        currentRequest = RequestID();
    }
    if (!inFlight.IsNull()) requestProcessor->Cancel(inFlight);  // ignored when it has finished
    if (GetState() != UploadState::Uploading) return;
    Fail(ResultCode::UploadFailed,
         Localized("$$$/Vekta/PostProcess/TikTok/UploadChunkFailed=Failed while writing to the server"));
}

void TikTokUploader::HandleChunkResponse(const GatePtr& gate, const RequestID& id, const ResponsePtr& response,
                                         GateOpener& opener) {
    {
        std::lock_guard lock(currentRequestMutex);
        if (!(id == currentRequest)) return;
    }
    const std::uint32_t status = response ? response->status : talnet::http::kStatusNoResponse;
    if (status < 200 || status > 299) {
        std::lock_guard lock(transferMutex);
        if (GetState() != UploadState::Uploading) return;
        if (status == talnet::http::kStatusNoResponse) {
            Fail(ResultCode::NoResponse, UploadMessages()[kUploadTimeout]);
        } else {
            Fail(ResultCode::UploadFailed, UploadMessages()[kGenericUploadError]);
        }
        return;
    }
    lastActivity = NowSeconds();
    if (SendNextChunk(false, gate, response)) opener.KeepClosed();
}

}  // namespace Vekta
