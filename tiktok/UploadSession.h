// One upload of one export: the exported file and the stream it is read through, TikTok's upload
// URL and chunk plan, the chunk buffers with the chunk read ahead, and the chunk request in flight.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "talcore/filesupport/ByteStream.h"
#include "talcore/filesupport/File.h"
#include "talcore/string/ImmutableString.h"
#include "talnet/http/RequestProcessor.h"
#include "tiktok/UploadPlan.h"

namespace Vekta {

class UploadSession {
public:
    using SourceOpener =
        std::function<std::unique_ptr<talcore::filesupport::IPlatformByteStream>(const talcore::filesupport::File&)>;
    using ChunkBuffer = std::shared_ptr<std::vector<std::uint8_t>>;

    // `opener` replaces the platform's stream when set (tests).
    UploadSession(talcore::filesupport::File exportedFile, SourceOpener opener);
    UploadSession(const UploadSession&) = delete;
    UploadSession& operator=(const UploadSession&) = delete;

    const talcore::filesupport::File& ExportedFile() const noexcept { return exportedFile_; }

    // The steps of the chunk chain, and whatever ends the transfer, take the session's transfer
    // state one at a time, under a lock of their own: what a step calls (the host's status
    // callback, the request processor) may come back into the uploader, whose other state is
    // under other locks; a step on another thread waits until this one is done.
    class Step {
    public:
        explicit Step(UploadSession& session) : lock_(session.stepMutex_) {}

    private:
        std::lock_guard<std::mutex> lock_;
    };

    // --- Before the chain starts, on the publishing thread. ---
    // Opens the exported file once for the whole job; false when it cannot be opened.
    bool OpenSource();
    // The open stream's size and the identity of the file it reads; valid after OpenSource.
    std::uint64_t SourceSize() const;
    talcore::filesupport::FileIdentity SourceIdentity() const;
    void SetPlan(std::uint64_t videoSize, const UploadPlan& plan);
    const UploadPlan& Plan() const noexcept { return plan_; }
    void SetMimeType(talcore::utility::ImmutableString mimeType) { mimeType_ = std::move(mimeType); }
    // [any-thread] Written by the initialisation answer's handler before its gate opens.
    void SetUploadURL(std::u16string url);
    std::u16string UploadURL() const;
    // False when no stream is open.
    bool BeginTransfer();
    // Takes a step: whether every byte was answered for. Closes the stream and drops the buffers,
    // before the file may be deleted, which some systems refuse for an open file.
    bool EndTransfer();
    // Takes a step: the job is over; a step that still comes sends nothing.
    void Close();

    // --- Inside a step. ---
    bool Closed() const noexcept { return closed_; }
    // True once every announced byte was sent; marks the transfer complete.
    bool AllSent();
    // Closes the stream and drops the chunk read ahead, when the job ends in the middle.
    void DropSource();
    // Whether the open file still has the size announced to TikTok.
    bool SourceKeepsItsSize() const;
    // The next chunk into the chunk buffer: the one read ahead when it is that chunk, else read
    // now. False on a short or failed read.
    bool TakeNextChunk();
    std::uint64_t NextOffset() const noexcept { return bytesSent_; }
    std::uint64_t NextLength() const;
    const ChunkBuffer& Chunk() const noexcept { return chunkBuffer_; }
    std::uint64_t VideoSize() const noexcept { return videoSize_; }
    const talcore::utility::ImmutableString& MimeType() const noexcept { return mimeType_; }
    // Counts the chunk as sent under a fresh request id, which becomes the current request.
    talnet::http::RequestID Advance();
    float Progress() const;
    // Reads the chunk after the one just sent into the spare buffer while that one is on the wire.
    void ReadAhead();

    // --- [any-thread] The request in flight, for the idle watch and the answers. ---
    bool IsCurrent(const talnet::http::RequestID& id) const;
    talnet::http::RequestID CurrentRequest() const;
    // Gives up the request in flight: its answer finds no request current and is dropped.
    talnet::http::RequestID DropCurrentRequest();
    void Touch(double nowSeconds) { lastActivity_.store(nowSeconds); }
    double LastActivity() const { return lastActivity_.load(); }

private:
    // Reads the chunk at `offset` into `buffer`, made anew when its length differs.
    bool ReadChunk(std::uint64_t offset, std::uint64_t length, ChunkBuffer& buffer);
    std::uint64_t ChunkLength(std::uint64_t offset) const;
    void DropBuffers();

    const talcore::filesupport::File exportedFile_;
    const SourceOpener sourceOpener_;

    // Held by the step that owns the transfer members below the current request.
    std::mutex stepMutex_;
    // Guards the upload URL and the current request.
    mutable std::mutex mutex_;
    std::u16string uploadURL_;
    talnet::http::RequestID currentRequest_;
    // Written by the completion side, read by the waiting loop.
    std::atomic<double> lastActivity_{0.0};

    std::unique_ptr<talcore::filesupport::IPlatformByteStream> sourceStream_;
    talcore::utility::ImmutableString mimeType_;
    UploadPlan plan_;
    std::uint64_t videoSize_ = 0;  // bytes, as announced to TikTok at initialisation
    std::uint64_t bytesSent_ = 0;
    // The chunk on the wire, and the one after it, read while the first is sent; at most these two
    // chunk buffers are held at once.
    ChunkBuffer chunkBuffer_;
    ChunkBuffer spareBuffer_;
    struct ReadAheadChunk {
        bool ready = false;
        bool complete = false;  // all its bytes were read
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
    } readAhead_;
    bool transferComplete_ = false;  // every byte was answered for
    bool closed_ = false;
};

}  // namespace Vekta
