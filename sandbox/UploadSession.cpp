#include "sandbox/UploadSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace vekta::sandbox {
namespace {

constexpr std::size_t kFileBufferSize = 1024 * 1024;

}  // namespace

UploadSession::UploadSession(UploadIdentity identity, ChunkPlan plan, std::chrono::system_clock::time_point expiresAt,
                             std::string filePath, bool keepBytes)
    : identity_(std::move(identity)),
      plan_(plan),
      expiresAt_(expiresAt),
      filePath_(std::move(filePath)),
      keepBytes_(keepBytes) {}

UploadSession::~UploadSession() {
    if (fd_ >= 0) ::close(fd_);
}

bool UploadSession::Pending(std::chrono::system_clock::time_point now) const {
    std::lock_guard lock(mutex_);
    return !complete_ && !Expired(now);
}

UploadSession::ChunkCheck UploadSession::BeginChunk(ChunkRange range, std::uint64_t total,
                                                    const std::string& contentType) {
    std::lock_guard lock(mutex_);
    if (chunkInProgress_) return ChunkCheck::Busy;
    if (complete_ || total != plan_.videoSize || range != plan_.Chunk(chunks_.size())) {
        return ChunkCheck::OutOfPlan;
    }
    if (!filePath_.empty() && fd_ < 0 && !storeFailed_) {
        fd_ = ::open(filePath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        storeFailed_ = fd_ < 0;
        fileBuffer_.reserve(kFileBufferSize);
    }
    chunkInProgress_ = true;
    current_ = {range.first, range.last, contentType};
    currentBytes_ = 0;
    hashAtChunkStart_ = hash_;
    return ChunkCheck::Accepted;
}

bool UploadSession::Append(const char* data, std::size_t length) {
    std::lock_guard lock(mutex_);
    if (!chunkInProgress_ || storeFailed_ || currentBytes_ + length > current_.last - current_.first + 1) {
        return false;
    }
    hash_.Update(data, length);
    currentBytes_ += length;
    if (keepBytes_) bytes_.append(data, length);
    if (fd_ >= 0) {
        fileBuffer_.insert(fileBuffer_.end(), data, data + length);
        if (fileBuffer_.size() >= kFileBufferSize && !FlushLocked()) return false;
    }
    return true;
}

bool UploadSession::FlushLocked() {
    std::size_t written = 0;
    while (written < fileBuffer_.size()) {
        const ssize_t n = ::pwrite(fd_, fileBuffer_.data() + written, fileBuffer_.size() - written,
                                   static_cast<off_t>(fileOffset_ + written));
        if (n < 0) {
            storeFailed_ = true;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    fileOffset_ += written;
    fileBuffer_.clear();
    return true;
}

UploadSession::Committed UploadSession::CommitChunk() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) FlushLocked();
    chunkInProgress_ = false;
    chunks_.push_back(current_);
    committedBytes_ += currentBytes_;
    if (chunks_.size() == plan_.chunkCount) {
        complete_ = true;
        sha256Hex_ = Sha256(hash_).FinishHex();
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    return {complete_, current_.last};
}

void UploadSession::AbortChunk() {
    std::lock_guard lock(mutex_);
    if (!chunkInProgress_) return;
    chunkInProgress_ = false;
    hash_ = hashAtChunkStart_;
    if (keepBytes_) bytes_.resize(committedBytes_);
    if (fd_ >= 0) {
        fileBuffer_.clear();
        fileOffset_ = committedBytes_;
        if (::ftruncate(fd_, static_cast<off_t>(committedBytes_)) != 0) storeFailed_ = true;
    }
}

std::uint64_t UploadSession::ChunkBytesSoFar() const {
    std::lock_guard lock(mutex_);
    return currentBytes_;
}

ReceivedUpload UploadSession::Snapshot() const {
    std::lock_guard lock(mutex_);
    ReceivedUpload out;
    out.uploadId = identity_.uploadId;
    out.publishId = identity_.publishId;
    out.kind = identity_.kind;
    out.postInfo = identity_.postInfo;
    out.sourceInfo = identity_.sourceInfo;
    out.videoSize = plan_.videoSize;
    out.chunkSize = plan_.chunkSize;
    out.totalChunkCount = plan_.chunkCount;
    out.chunks = chunks_;
    out.bytesReceived = committedBytes_;
    out.complete = complete_;
    out.sha256Hex = sha256Hex_;
    out.filePath = filePath_;
    if (keepBytes_) out.bytes = bytes_.substr(0, committedBytes_);
    return out;
}

}  // namespace vekta::sandbox
