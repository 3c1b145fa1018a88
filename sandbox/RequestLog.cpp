#include "sandbox/RequestLog.h"

#include <utility>

namespace vekta::sandbox {

RequestLog::RequestLog(std::size_t capacity) : capacity_(capacity) {}

void RequestLog::Add(RequestRecord record) {
    Observer observer;
    {
        std::lock_guard lock(mutex_);
        record.sequence = nextSequence_++;
        if (records_.size() == capacity_) records_.pop_front();
        records_.push_back(record);
        observer = observer_;
    }
    if (observer) observer(record);
}

std::vector<RequestRecord> RequestLog::Snapshot() const {
    std::lock_guard lock(mutex_);
    return {records_.begin(), records_.end()};
}

void RequestLog::Clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

void RequestLog::SetObserver(Observer observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

}  // namespace vekta::sandbox
