#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sandbox/ChunkPlan.h"
#include "sandbox/Inspection.h"
#include "sandbox/Sha256.h"

namespace vekta::sandbox {

struct UploadIdentity {
    std::string uploadId;
    std::string uploadToken;
    std::string publishId;
    InitKind kind = InitKind::DirectPost;
    nlohmann::json postInfo;
    nlohmann::json sourceInfo;
};

// One upload being assembled from its chunks. The bytes stream through a SHA-256 and, when
// configured, into a file or memory; nothing else of a large upload is kept.
class UploadSession {
public:
    enum class ChunkCheck {
        Accepted,
        OutOfPlan,  // not the next chunk of the plan: out of order, overlapping, repeated, wrong total
        Busy,       // another request is sending a chunk of this upload right now
    };

    UploadSession(UploadIdentity identity, ChunkPlan plan, std::chrono::system_clock::time_point expiresAt,
                  std::string filePath, bool keepBytes);
    ~UploadSession();
    UploadSession(const UploadSession&) = delete;
    UploadSession& operator=(const UploadSession&) = delete;

    const UploadIdentity& Identity() const { return identity_; }
    bool Expired(std::chrono::system_clock::time_point now) const { return now >= expiresAt_; }
    bool Pending(std::chrono::system_clock::time_point now) const;

    // Checks the range against the plan and, when accepted, reserves the upload for this chunk.
    ChunkCheck BeginChunk(ChunkRange range, std::uint64_t total, const std::string& contentType);
    // False when the bytes could not be stored.
    bool Append(const char* data, std::size_t length);
    struct Committed {
        bool complete = false;
        std::uint64_t receivedThrough = 0;  // last byte offset now held
    };
    // Keeps the chunk, once all of its bytes arrived.
    Committed CommitChunk();
    // Forgets a chunk that broke off, so the client can send it again.
    void AbortChunk();
    std::uint64_t ChunkBytesSoFar() const;

    ReceivedUpload Snapshot() const;

private:
    bool FlushLocked();

    const UploadIdentity identity_;
    const ChunkPlan plan_;
    const std::chrono::system_clock::time_point expiresAt_;
    const std::string filePath_;
    const bool keepBytes_;

    mutable std::mutex mutex_;
    int fd_ = -1;
    bool storeFailed_ = false;
    std::vector<char> fileBuffer_;
    std::uint64_t fileOffset_ = 0;  // bytes written to the file so far
    Sha256 hash_;
    Sha256 hashAtChunkStart_;
    std::string bytes_;
    std::vector<ReceivedChunk> chunks_;
    std::uint64_t committedBytes_ = 0;
    bool chunkInProgress_ = false;
    ReceivedChunk current_;
    std::uint64_t currentBytes_ = 0;
    bool complete_ = false;
    std::string sha256Hex_;
};

}  // namespace vekta::sandbox
