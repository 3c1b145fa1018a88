#include "sandbox/UploadStore.h"

#include <filesystem>

#include "sandbox/Identifiers.h"

namespace vekta::sandbox {

UploadStore::UploadStore(const SandboxClock& clock) : clock_(clock) {}

std::shared_ptr<UploadSession> UploadStore::Create(InitKind kind, ChunkPlan plan, nlohmann::json postInfo,
                                                   nlohmann::json sourceInfo, std::chrono::seconds urlLifetime,
                                                   const std::string& dataDir, bool keepBytes) {
    UploadIdentity identity;
    identity.kind = kind;
    identity.uploadToken = RandomIdentifier(40);
    identity.postInfo = std::move(postInfo);
    identity.sourceInfo = std::move(sourceInfo);

    std::lock_guard lock(mutex_);
    do {
        identity.uploadId = RandomDigits(19);
    } while (sessions_.count(identity.uploadId) != 0);
    identity.publishId =
        std::string(kind == InitKind::DirectPost ? "v_pub_file~v2-1." : "v_inbox_file~v2-1.") + RandomDigits(19);
    const std::string filePath =
        dataDir.empty() ? std::string() : (std::filesystem::path(dataDir) / identity.uploadId).string();
    const std::string id = identity.uploadId;
    auto session =
        std::make_shared<UploadSession>(std::move(identity), plan, clock_.Now() + urlLifetime, filePath, keepBytes);
    sessions_[id] = session;
    order_.push_back(id);
    return session;
}

std::shared_ptr<UploadSession> UploadStore::Find(const std::string& uploadId, const std::string& uploadToken) const {
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(uploadId);
    if (found == sessions_.end() || found->second->Identity().uploadToken != uploadToken) return nullptr;
    return found->second;
}

std::size_t UploadStore::PendingCount() const {
    const auto now = clock_.Now();
    std::lock_guard lock(mutex_);
    std::size_t pending = 0;
    for (const auto& [id, session] : sessions_) pending += session->Pending(now) ? 1 : 0;
    return pending;
}

std::vector<ReceivedUpload> UploadStore::Snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<ReceivedUpload> uploads;
    uploads.reserve(order_.size());
    for (const auto& id : order_) uploads.push_back(sessions_.at(id)->Snapshot());
    return uploads;
}

std::optional<ReceivedUpload> UploadStore::Snapshot(const std::string& uploadId) const {
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(uploadId);
    if (found == sessions_.end()) return std::nullopt;
    return found->second->Snapshot();
}

}  // namespace vekta::sandbox
