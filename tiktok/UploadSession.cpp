#include "tiktok/UploadSession.h"

#include <utility>

namespace Vekta {

using talcore::filesupport::IPlatformByteStream;
using talnet::http::RequestID;

UploadSession::UploadSession(talcore::filesupport::File exportedFile, SourceOpener opener)
    : exportedFile_(std::move(exportedFile)), sourceOpener_(std::move(opener)) {}

bool UploadSession::OpenSource() {
    const Step step(*this);
    bytesSent_ = 0;
    readAhead_ = {};
    try {
        sourceStream_.reset();
        sourceStream_ = sourceOpener_ ? sourceOpener_(exportedFile_)
                                      : IPlatformByteStream::Create(exportedFile_, IPlatformByteStream::kRead);
        return sourceStream_ != nullptr;
    } catch (...) {
        sourceStream_.reset();
        return false;
    }
}

std::uint64_t UploadSession::SourceSize() const { return sourceStream_ ? sourceStream_->Size() : 0; }

talcore::filesupport::FileIdentity UploadSession::SourceIdentity() const { return sourceStream_->Identity(); }

void UploadSession::SetPlan(std::uint64_t videoSize, const UploadPlan& plan) {
    videoSize_ = videoSize;
    plan_ = plan;
}

void UploadSession::SetUploadURL(std::u16string url) {
    std::lock_guard lock(mutex_);
    uploadURL_ = std::move(url);
}

std::u16string UploadSession::UploadURL() const {
    std::lock_guard lock(mutex_);
    return uploadURL_;
}

bool UploadSession::BeginTransfer() {
    const Step step(*this);
    transferComplete_ = false;
    return sourceStream_ != nullptr;
}

bool UploadSession::EndTransfer() {
    const Step step(*this);
    sourceStream_.reset();
    DropBuffers();
    return transferComplete_;
}

void UploadSession::Close() {
    const Step step(*this);
    closed_ = true;
    sourceStream_.reset();
    DropBuffers();
}

bool UploadSession::AllSent() {
    if (bytesSent_ < videoSize_) return false;
    transferComplete_ = true;
    return true;
}

void UploadSession::DropSource() {
    sourceStream_.reset();
    spareBuffer_.reset();
    readAhead_ = {};
}

bool UploadSession::SourceKeepsItsSize() const { return sourceStream_ && sourceStream_->Size() == videoSize_; }

std::uint64_t UploadSession::ChunkLength(std::uint64_t offset) const {
    const std::uint64_t index = offset / plan_.chunkSize;
    return plan_.chunkCount - index < 2 ? videoSize_ - offset : plan_.chunkSize;
}

std::uint64_t UploadSession::NextLength() const { return ChunkLength(bytesSent_); }

bool UploadSession::ReadChunk(std::uint64_t offset, std::uint64_t length, ChunkBuffer& buffer) {
    if (!buffer || buffer->size() != length) {
        buffer.reset();  // a buffer of another length goes before its replacement comes
        buffer = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(length));
    }
    try {
        if (sourceStream_->Position() != offset) sourceStream_->Seek(offset);
        return sourceStream_->Read(buffer->data(), static_cast<std::size_t>(length)) == length;
    } catch (...) {
        return false;  // a read error counts as a short read
    }
}

bool UploadSession::TakeNextChunk() {
    const std::uint64_t length = NextLength();
    bool whole = false;
    if (readAhead_.ready && readAhead_.offset == bytesSent_ && readAhead_.length == length) {
        std::swap(chunkBuffer_, spareBuffer_);
        whole = readAhead_.complete;
    } else {
        whole = ReadChunk(bytesSent_, length, chunkBuffer_);
    }
    readAhead_ = {};
    return whole;
}

RequestID UploadSession::Advance() {
    const RequestID id = RequestID::CreateUnique();
    bytesSent_ += chunkBuffer_->size();
    std::lock_guard lock(mutex_);
    currentRequest_ = id;
    return id;
}

float UploadSession::Progress() const { return static_cast<float>(bytesSent_) / static_cast<float>(videoSize_); }

void UploadSession::ReadAhead() {
    readAhead_ = {};
    if (bytesSent_ >= videoSize_) return;
    const std::uint64_t length = ChunkLength(bytesSent_);
    readAhead_.complete = ReadChunk(bytesSent_, length, spareBuffer_);
    readAhead_.offset = bytesSent_;
    readAhead_.length = length;
    readAhead_.ready = true;
}

void UploadSession::DropBuffers() {
    chunkBuffer_.reset();
    spareBuffer_.reset();
    readAhead_ = {};
}

bool UploadSession::IsCurrent(const RequestID& id) const {
    std::lock_guard lock(mutex_);
    return id == currentRequest_;
}

RequestID UploadSession::CurrentRequest() const {
    std::lock_guard lock(mutex_);
    return currentRequest_;
}

RequestID UploadSession::DropCurrentRequest() {
    std::lock_guard lock(mutex_);
    return std::exchange(currentRequest_, RequestID());
}

}  // namespace Vekta
