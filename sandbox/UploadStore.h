#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/SandboxClock.h"
#include "sandbox/UploadSession.h"

namespace vekta::sandbox {

// Every upload an init opened, by upload id. Thread-safe; each session guards itself.
class UploadStore {
public:
    explicit UploadStore(const SandboxClock& clock);

    std::shared_ptr<UploadSession> Create(InitKind kind, ChunkPlan plan, nlohmann::json postInfo,
                                          nlohmann::json sourceInfo, std::chrono::seconds urlLifetime,
                                          const std::string& dataDir, bool keepBytes);
    // Nothing when the id is unknown or the token is not the one issued with it.
    std::shared_ptr<UploadSession> Find(const std::string& uploadId, const std::string& uploadToken) const;
    // Unfinished uploads whose URL still works.
    std::size_t PendingCount() const;

    std::vector<ReceivedUpload> Snapshot() const;
    std::optional<ReceivedUpload> Snapshot(const std::string& uploadId) const;

private:
    const SandboxClock& clock_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<UploadSession>> sessions_;
    std::vector<std::string> order_;
};

}  // namespace vekta::sandbox
