// Shows the plug-in's status notifications: a progress bar with percentage, throughput and time left
// on a terminal, plain lines otherwise; notices and errors as text.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "refhost/StatusRecorder.h"

namespace vekta::host {

class ProgressView {
public:
    ProgressView(std::uint64_t fileSizeBytes, bool terminal);
    // [any-thread] One notification.
    void Show(const StatusEvent& event);
    // Ends a progress line that is still open.
    void Finish();

private:
    std::mutex mutex_;
    std::uint64_t fileSize_;
    bool terminal_;
    bool lineOpen_ = false;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

const char* StateName(std::uint32_t state);

}  // namespace vekta::host
