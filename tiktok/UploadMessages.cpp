#include "tiktok/UploadMessages.h"

#include "talcore/config/Localizer.h"

namespace Vekta {

const std::array<std::u16string, 10>& UploadMessages() {
    static const std::array<std::u16string, 10> messages = [] {
        const auto& l = talcore::config::Localizer::Get();
        return std::array<std::u16string, 10>{
            l.Localize("$$$/Vekta/PostProcess/TikTok/GenericUploadError=TikTok reported an error"),
            l.Localize("$$$/Vekta/PostProcess/TikTok/UploadTimeout=The TikTok server failed to respond during upload. "
                       "Please check your network connection."),
            l.Localize("$$$/Vekta/PostProcess/TikTok/FileDoesNotExist=File does not exist."),
            l.Localize("$$$/Vekta/PostProcess/TikTok/SourceFileOpenFail=Unable to open source file"),
            l.Localize("$$$/Vekta/PostProcess/TikTok/FileSizeWarning=File size upload limit is 4GB."),
            l.Localize("$$$/Vekta/PostProcess/TikTok/VideoSizeWarning=Video dimensions must be between 360x360 and "
                       "4096x4096."),
            l.Localize("$$$/Vekta/PostProcess/TikTok/DurationWarning=Video duration limit is 10 minutes."),
            l.Localize("$$$/Vekta/PostProcess/TikTok/Framerate=Video framerate must be between 23 and 60 FPS."),
            l.Localize("$$$/Vekta/PostProcess/TikTok/BadFormatMessage=TikTok does not work with this format."),
            l.Localize("$$$/Vekta/PostProcess/TikTok/NoPrivacySetMessage=A Privacy setting must be selected before "
                       "publishing to TikTok."),
        };
    }();
    return messages;
}

}  // namespace Vekta
