// How the TikTok group follows the instance and the signed-in account: refreshes, value changes,
// and the completions of the sign-in and of the creator-info query.
#pragma once

#include <cstdint>
#include <string_view>

#include "ExportParamSuite.h"
#include "PostProcessSDK.h"

namespace Vekta {

class TikTokUploader;

// [main-thread] `uploader` may be null (no instance): the parts that need none are done and the
// result is 1. May block on the network (creator information).
std::int32_t RefreshTikTokParameters(const LuSDKExportParamSuite& suite, const HostInstanceRecord& record,
                                     TikTokUploader* uploader);

// [main-thread] Reacts to a change of `parameterID`; a press of the sign-in button runs the whole
// sign-in, modal prompt included, inside this call.
void TikTokParameterChanged(const LuSDKExportParamSuite& suite, const HostInstanceRecord& record,
                            TikTokUploader& uploader, std::string_view parameterID);

// [any-thread] Writes a refresh token that TikTok rotated in during a refresh into the hidden
// refresh-token parameter, as the end of a sign-in does, so that the host keeps the one that is
// still valid. The settings callbacks do this themselves; Execute calls it after the upload.
void HandOverRotatedRefreshToken(const LuSDKExportParamSuite& suite, const HostInstanceRecord& record,
                                 TikTokUploader& uploader);

}  // namespace Vekta
