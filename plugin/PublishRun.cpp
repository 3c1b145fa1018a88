// Execute: the host asks for a finished export to be published with the settings the user chose.
#include <cstring>

#include "plugin/InstanceLookup.h"
#include "plugin/PluginCallbacks.h"
#include "settings/ParameterAccess.h"
#include "settings/SettingsBehaviour.h"
#include "settings/TikTokParameterTables.h"
#include "talcore/string/Unicode.h"

namespace Vekta {
namespace {

constexpr std::int32_t kPublishSelector = 5;

// A value record is zeroed first, so a failed read gives 0.
std::int32_t ReadInteger(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, const char* parameterID) {
    ParamValue value;
    std::memset(&value, 0, sizeof value);
    suite->GetValue(instanceID, 0, parameterID, &value);
    return value.value.intValue;
}

}  // namespace

std::int32_t Execute(HostInstanceRecord* record, std::int32_t selector) {
    if (selector != kPublishSelector) return 0;
    const auto uploader = LookupInstance(record);
    if (!uploader) return 1;
    const LuSDKExportParamSuite* suite = AcquireExportParamSuite(record);
    if (!suite) return 1;
    if (!IsGroupEnabled(record, kTikTokGroupID)) return 0;
    if (!uploader->IsFormatSupported()) return 0;

    const std::uint32_t instanceID = record->instanceID;
    uploader->SetDeleteLocalFile(ReadInteger(suite, instanceID, kTikTokDeleteLocalFileID) == 1);
    const bool draft = ReadInteger(suite, instanceID, kTikTokPublishTypeID) == kPublishTypeDraft;
    bool published = false;
    if (draft) {
        // A draft carries no post information; the last post's settings stay as they were.
        published = uploader->Publish(false);
    } else {
        std::string privacy = talcore::string::UTF16to8(GetArrayText(suite, instanceID, kTikTokPrivacyTokenID));
        std::string caption = talcore::string::UTF16to8(GetTextValue(suite, instanceID, kTikTokCaptionID));
        const bool comment = ReadInteger(suite, instanceID, kTikTokCommentPermissionID) != 0;
        const bool duet = ReadInteger(suite, instanceID, kTikTokDuetPermissionID) != 0;
        const bool stitch = ReadInteger(suite, instanceID, kTikTokStitchPermissionID) != 0;
        uploader->SetPublishSettings(std::move(privacy), std::move(caption), !comment, !duet, !stitch);
        published = uploader->Publish(true);
    }
    // The upload's refresh may have rotated the refresh token.
    HandOverRotatedRefreshToken(*suite, *record, *uploader);
    return published ? 0 : 1;
}

}  // namespace Vekta
