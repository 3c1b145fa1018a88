#include "tiktok/TikTokUploader.h"

#include <cstring>

#include "brimkit/IdleCountdownTimer.h"
#include "talcore/utility/HighPrecisionTime.h"
#include "talui/MessageBox.h"
#include "tiktok/AuthServer.h"

namespace Vekta {

TikTokUploader::TikTokUploader(const HostInstanceRecord& record, PostProcessStatusCallback statusCallback,
                               AccountStatusCallback accountCallback)
    : BaseUploader(record, statusCallback, accountCallback, kTikTokDestination),
      lastActivity(static_cast<double>(talcore::utility::HighPrecisionTime::NowNanoseconds()) / 1'000'000'000.0) {
    requestTimeout = 30;
    authorizedByRefreshToken = true;
}

TikTokUploader::~TikTokUploader() {
    StopLoginTimeout();
    authServer.reset();
}

bool TikTokUploader::IsLoginOffered() const { return !HasCredentials(); }

void TikTokUploader::SetVideoInfo(const ExportVideoInfo& info) {
    UnderHandOverLock([&] { std::memcpy(&videoInfo, &info, sizeof videoInfo); });
}

ExportVideoInfo TikTokUploader::GetVideoInfo() const {
    ExportVideoInfo copy{};
    UnderHandOverLock([&] { copy = videoInfo; });
    return copy;
}

void TikTokUploader::SetPublishSettings(std::string privacyLevel, std::string title, bool disableComment,
                                        bool disableDuet, bool disableStitch) {
    publishSettings.privacyLevel = std::move(privacyLevel);
    publishSettings.title = std::move(title);
    publishSettings.disableComment = disableComment;
    publishSettings.disableDuet = disableDuet;
    publishSettings.disableStitch = disableStitch;
}

}  // namespace Vekta
