// Execute: the host asks for a finished export to be published with the settings the user chose.
#include "plugin/InstanceLookup.h"
#include "plugin/PluginCallbacks.h"
#include "settings/ParameterAccess.h"
#include "settings/SettingsBehaviour.h"
#include "settings/TikTokParameterTables.h"
#include "talcore/string/Unicode.h"

namespace Vekta {

std::int32_t Execute(HostInstanceRecord* record, std::int32_t selector) {
    if (selector != kExecuteSelectorPublish) return kCallbackDone;
    const auto uploader = LookupInstance(record);
    if (!uploader) return kCallbackFailed;
    const InstanceParameters p = InstanceParameters::ForRecord(record, kTikTokParamDescriptors);
    if (!p.Suite()) return kCallbackFailed;
    if (!IsGroupEnabled(record, kTikTokGroupID)) return kCallbackDone;
    if (!uploader->IsFormatSupported()) return kCallbackDone;

    // A value that cannot be read counts as 0: keep the file, a post, a permission not granted.
    uploader->SetDeleteLocalFile(p.ReadInteger(kTikTokDeleteLocalFileID) == 1);
    const bool draft = p.ReadInteger(kTikTokPublishTypeID) == kPublishTypeDraft;
    bool published = false;
    if (draft) {
        // A draft carries no post information; the last post's settings stay as they were.
        published = uploader->Publish(false);
    } else {
        std::string privacy = talcore::string::UTF16to8(p.ReadArrayText(kTikTokPrivacyTokenID));
        std::string caption = talcore::string::UTF16to8(p.ReadText(kTikTokCaptionID));
        const bool comment = p.ReadInteger(kTikTokCommentPermissionID) != 0;
        const bool duet = p.ReadInteger(kTikTokDuetPermissionID) != 0;
        const bool stitch = p.ReadInteger(kTikTokStitchPermissionID) != 0;
        uploader->SetPublishSettings(std::move(privacy), std::move(caption), !comment, !duet, !stitch);
        published = uploader->Publish(true);
    }
    // The upload's refresh may have rotated the refresh token.
    HandOverRotatedRefreshToken(*p.Suite(), *record, *uploader);
    return published ? kCallbackDone : kCallbackFailed;
}

}  // namespace Vekta
