// TikTok's limits on an exported file, checked in order before an upload is opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "PostProcessSDK.h"
#include "tiktok/UploadMessages.h"
#include "uploader/UploadTypes.h"

namespace Vekta {

inline constexpr std::uint64_t kMaxFileSizeBytes = 4'000'000'000ull;
inline constexpr std::uint32_t kMinSidePixels = 360;
inline constexpr std::uint32_t kMaxSidePixels = 4096;
inline constexpr std::uint64_t kMaxDurationMs = 600'000;
inline constexpr float kMinFrameRate = 23.0f;
inline constexpr float kMaxFrameRate = 60.0f;

struct LimitRefusal {
    ResultCode code;
    UploadMessage message;
};

// The first check that fails decides; nothing after it is tested. Empty when the file passes.
// `fileSize` is only looked at when the file exists.
std::optional<LimitRefusal> TikTokLimitsCheck(bool formatSupported, bool fileExists, std::uint64_t fileSize,
                                              const ExportVideoInfo& video, bool directPost,
                                              const std::string& privacyLevel);

}  // namespace Vekta
