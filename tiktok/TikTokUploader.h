// The TikTok destination: account, settings hand-over and the upload of one export.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PostProcessSDK.h"
#include "talcore/filesupport/ByteStream.h"
#include "talcore/filesupport/File.h"
#include "talcore/messaging/Messaging.h"
#include "talcore/string/ImmutableString.h"
#include "talcore/utility/Guid.h"
#include "tiktok/PublishSettings.h"
#include "tiktok/TikTokCreatorInfo.h"
#include "uploader/BaseUploader.h"

namespace Vekta {

class TikTokUploader : public BaseUploader, public talcore::messaging::Listener {
public:
    TikTokUploader(const HostInstanceRecord& record, PostProcessStatusCallback statusCallback,
                   AccountStatusCallback accountCallback);

    // Offered exactly while nobody is signed in.
    bool IsLoginOffered() const override;

    void SetVideoInfo(const ExportVideoInfo& info);
    const ExportVideoInfo& GetVideoInfo() const noexcept { return videoInfo; }
    void SetPublishSettings(std::string privacyLevel, std::string title, bool disableComment, bool disableDuet,
                            bool disableStitch);
    const PublishSettings& GetPublishSettings() const noexcept { return publishSettings; }

    // [main-thread] Messages of the login time-out.
    void ReceiveMessage(const talcore::messaging::Message& message) override;

protected:
    ~TikTokUploader() override;

private:
    TikTokCreatorInfo creatorInfo;
    std::function<void(const TikTokCreatorInfo&)> creatorInfoCallback;
    std::u16string profileDeepLink;
    ExportVideoInfo videoInfo{};
    PublishSettings publishSettings;

    // The upload session of one transfer.
    std::u16string uploadURL;
    talcore::filesupport::File exportedFile;
    talcore::utility::ImmutableString mimeType;
    std::unique_ptr<talcore::filesupport::IPlatformByteStream> sourceStream;
    std::uint64_t bytesSent = 0;
    std::uint64_t bufferSize = 0;
    std::shared_ptr<std::vector<std::uint8_t>> chunkBuffer;
    std::uint64_t chunkSize = 0;
    std::uint64_t chunkCount = 0;
    double lastActivity;  // seconds of the host clock
    talcore::utility::Guid currentRequest;

    // The sign-in in progress.
    talcore::utility::Guid oauthState;
    std::string codeVerifier;
    std::function<void(bool authorized, const std::u16string& refreshToken)> loginCallback;
};

}  // namespace Vekta
