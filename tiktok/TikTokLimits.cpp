#include "tiktok/TikTokLimits.h"

#include <algorithm>

namespace Vekta {

std::optional<LimitRefusal> TikTokLimitsCheck(bool formatSupported, bool fileExists, std::uint64_t fileSize,
                                              const ExportVideoInfo& video, bool directPost,
                                              const std::string& privacyLevel) {
    if (!formatSupported) return LimitRefusal{ResultCode::Format, kBadFormatMessage};
    if (!fileExists) return LimitRefusal{ResultCode::FileMissing, kFileDoesNotExist};
    if (fileSize > kMaxFileSizeBytes) return LimitRefusal{ResultCode::FileSize, kFileSizeWarning};
    const std::uint32_t width = video.frameWidth, height = video.frameHeight;
    if (std::max(width, height) > kMaxSidePixels || std::min(width, height) < kMinSidePixels) {
        return LimitRefusal{ResultCode::FrameSize, kVideoSizeWarning};
    }
    if (video.durationMs > kMaxDurationMs) return LimitRefusal{ResultCode::Duration, kDurationWarning};
    // A rate that is not a number compares false both ways and passes.
    const float rate = video.frameRate;
    if (rate < kMinFrameRate || rate > kMaxFrameRate) return LimitRefusal{ResultCode::FrameRate, kFramerate};
    if (directPost && privacyLevel.empty()) return LimitRefusal{ResultCode::None, kNoPrivacySetMessage};
    return std::nullopt;
}

}  // namespace Vekta
