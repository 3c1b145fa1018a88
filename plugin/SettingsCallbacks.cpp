// The settings callbacks: each acquires the export-parameter suite afresh and hands over to the
// settings code.
#include "plugin/InstanceLookup.h"
#include "plugin/PluginCallbacks.h"
#include "settings/ParameterAccess.h"
#include "settings/SettingsBehaviour.h"
#include "settings/TikTokParameters.h"

namespace Vekta {

std::int32_t AddParameters(HostInstanceRecord* record) { return AddTikTokParameters(record); }

std::int32_t RefreshParameters(HostInstanceRecord* record) {
    const LuSDKExportParamSuite* suite = AcquireExportParamSuite(record);
    if (!suite) return kCallbackFailed;
    const auto uploader = LookupInstance(record);
    return RefreshTikTokParameters(*suite, *record, uploader.Get());
}

std::int32_t ParameterChanged(HostInstanceRecord* record, const char* parameterID) {
    const auto uploader = LookupInstance(record);
    if (!uploader) return kCallbackFailed;
    const LuSDKExportParamSuite* suite = AcquireExportParamSuite(record);
    if (!suite) return kCallbackFailed;
    if (parameterID) TikTokParameterChanged(*suite, *record, *uploader, parameterID);
    return kCallbackDone;
}

}  // namespace Vekta
