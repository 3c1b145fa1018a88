#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "sandbox/Inspection.h"

namespace vekta::sandbox {

// The requests the sandbox answered, oldest first, bounded so a long benchmark cannot grow it
// without end.
class RequestLog {
public:
    using Observer = std::function<void(const RequestRecord&)>;

    explicit RequestLog(std::size_t capacity = 100000);

    void Add(RequestRecord record);
    std::vector<RequestRecord> Snapshot() const;
    void Clear();
    // Called after each record is added, outside the log's lock.
    void SetObserver(Observer observer);

private:
    mutable std::mutex mutex_;
    std::deque<RequestRecord> records_;
    std::size_t capacity_;
    std::uint64_t nextSequence_ = 1;
    Observer observer_;
};

}  // namespace vekta::sandbox
