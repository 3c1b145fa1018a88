// The ten localised messages with which the checks and the upload report a refusal or an error.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace Vekta {

enum UploadMessage : std::size_t {
    kGenericUploadError = 0,
    kUploadTimeout = 1,
    kFileDoesNotExist = 2,
    kSourceFileOpenFail = 3,
    kFileSizeWarning = 4,
    kVideoSizeWarning = 5,
    kDurationWarning = 6,
    kFramerate = 7,
    kBadFormatMessage = 8,
    kNoPrivacySetMessage = 9,
};

// [any-thread] Localised once, on first use, and kept for the life of the module.
const std::array<std::u16string, 10>& UploadMessages();

}  // namespace Vekta
