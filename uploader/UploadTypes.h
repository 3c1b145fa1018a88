// The states, result codes and destination indexes shared by every uploader.
#pragma once

#include <cstdint>

#include "PostProcessSDK.h"

namespace Vekta {

enum class UploadState : std::uint32_t {
    Armed = kUploadStateArmed,
    Idle = kUploadStateIdle,
    Uploading = kUploadStateUploading,
    Succeeded = kUploadStateSucceeded,
    Aborted = kUploadStateAborted,
    Failed = kUploadStateFailed,
    Notice = kUploadStateNotice,
    SucceededWithNotice = kUploadStateSucceededWithNotice,
};

enum class ResultCode : std::uint32_t {
    None = kResultNone,
    Aborted = kResultAborted,
    FrameRate = kResultFrameRate,
    Format = kResultFormat,
    FileMissing = kResultFileMissing,
    Duration = kResultDuration,
    FrameSize = kResultFrameSize,
    FileSize = kResultFileSize,
    UploadFailed = kResultUploadFailed,
    NoResponse = kResultNoResponse,
    SourceNotOpened = kResultSourceNotOpened,
};

// The publish destinations the base uploader serves, 0 to 10.
using DestinationIndex = std::uint32_t;
inline constexpr DestinationIndex kDestinationCount = 11;
inline constexpr DestinationIndex kTikTokDestination = 9;

}  // namespace Vekta
