#include "tiktok/TikTokUploader.h"

#include <cstring>

namespace Vekta {

TikTokUploader::TikTokUploader(const HostInstanceRecord& record, PostProcessStatusCallback statusCallback,
                               AccountStatusCallback accountCallback)
    : BaseUploader(record, statusCallback, accountCallback, kTikTokDestination) {
    requestTimeout_ = 30;
    authorizedByRefreshToken_ = true;
}

TikTokUploader::~TikTokUploader() {
    StopLoginTimeout();
    signIn_.ReleaseListener();
}

bool TikTokUploader::IsLoginOffered() const { return !HasCredentials(); }

void TikTokUploader::SetVideoInfo(const ExportVideoInfo& info) {
    UnderHandOverLock([&] { std::memcpy(&videoInfo_, &info, sizeof videoInfo_); });
}

ExportVideoInfo TikTokUploader::GetVideoInfo() const {
    ExportVideoInfo copy{};
    UnderHandOverLock([&] { copy = videoInfo_; });
    return copy;
}

void TikTokUploader::SetPublishSettings(std::string privacyLevel, std::string title, bool disableComment,
                                        bool disableDuet, bool disableStitch) {
    publishSettings_.privacyLevel = std::move(privacyLevel);
    publishSettings_.title = std::move(title);
    publishSettings_.disableComment = disableComment;
    publishSettings_.disableDuet = disableDuet;
    publishSettings_.disableStitch = disableStitch;
}

}  // namespace Vekta
