#include "ProgressView.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "talcore/string/Unicode.h"

namespace vekta::host {

const char* StateName(std::uint32_t state) {
    switch (state) {
        case kUploadStateArmed:
            return "Armed";
        case kUploadStateIdle:
            return "Idle";
        case kUploadStateUploading:
            return "Uploading";
        case kUploadStateSucceeded:
            return "Succeeded";
        case kUploadStateAborted:
            return "Aborted";
        case kUploadStateFailed:
            return "Failed";
        case kUploadStateNotice:
            return "Notice";
        case kUploadStateSucceededWithNotice:
            return "Succeeded with notice";
        default:
            return "Unknown";
    }
}

ProgressView::ProgressView(std::uint64_t fileSizeBytes, bool terminal)
    : fileSize_(fileSizeBytes), terminal_(terminal) {}

void ProgressView::Show(const StatusEvent& event) {
    std::lock_guard lock(mutex_);
    const std::string text = talcore::string::UTF16to8(event.text);
    if (event.state == kUploadStateUploading) {
        const int percent = static_cast<int>(std::lround(event.progress * 100.0f));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const double sent = static_cast<double>(event.progress) * static_cast<double>(fileSize_);
        const double rate = seconds > 0 ? sent / seconds : 0.0;
        const double left = rate > 0 ? (static_cast<double>(fileSize_) - sent) / rate : 0.0;
        if (terminal_) {
            constexpr int kWidth = 30;
            const int filled = percent * kWidth / 100;
            std::printf("\r%s [%s%s] %3d%%  %6.1f MB/s  %4.0f s left ", text.c_str(), std::string(filled, '#').c_str(),
                        std::string(kWidth - filled, '.').c_str(), percent, rate / 1e6, left);
            lineOpen_ = true;
        } else if (percent != lastPercent_) {
            std::printf("%s: %d%% (%.1f MB/s)\n", text.c_str(), percent, rate / 1e6);
        }
        lastPercent_ = percent;
        std::fflush(stdout);
        return;
    }
    if (lineOpen_) {
        std::printf("\n");
        lineOpen_ = false;
    }
    if (event.state == kUploadStateFailed || event.state == kUploadStateAborted) {
        std::printf("%s: %s (code %u)\n", StateName(event.state), text.c_str(), event.resultCode);
    } else if (!text.empty()) {
        std::printf("%s: %s\n", StateName(event.state), text.c_str());
    } else {
        std::printf("%s\n", StateName(event.state));
    }
    std::fflush(stdout);
}

void ProgressView::Finish() {
    std::lock_guard lock(mutex_);
    if (lineOpen_) std::printf("\n");
    lineOpen_ = false;
}

}  // namespace vekta::host
