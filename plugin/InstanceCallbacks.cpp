#include "plugin/InstanceCallbacks.h"

#include "plugin/InstanceLookup.h"
#include "settings/HostRecordAccess.h"
#include "settings/ParameterAccess.h"
#include "settings/TikTokParameterTables.h"

namespace Vekta {

std::int32_t CreateInstance(HostInstanceRecord* record, PostProcessStatusCallback status,
                            AccountStatusCallback account) {
    if (!record) return kCallbackFailed;
    talcore::utility::RefCountedPtr<TikTokUploader> uploader(new TikTokUploader(*record, status, account));
    uploader->AddUseCount();
    WriteInstanceKey(record, uploader->GetWeakKey());
    return kCallbackDone;
}

std::int32_t DestroyInstance(HostInstanceRecord* record) {
    if (auto uploader = LookupInstance(record)) {
        uploader->StopAndWait(false);
        uploader->ReleaseUseCount();
    }
    return kCallbackDone;
}

std::int32_t QueryHasCredentials(HostInstanceRecord* record, std::uint8_t* hasCredentials) {
    if (hasCredentials) *hasCredentials = 0;
    const auto uploader = LookupInstance(record);
    if (!uploader) return kCallbackFailed;
    if (hasCredentials) *hasCredentials = uploader->HasCredentials() ? 1 : 0;
    return kCallbackDone;
}

std::int32_t ReceiveOutputFiles(HostInstanceRecord* record, std::uint32_t count, const OutputFileEntry* entries) {
    const auto uploader = LookupInstance(record);
    if (!uploader) return kCallbackFailed;
    uploader->SetOutputFiles(entries ? count : 0, entries);
    return kCallbackDone;
}

std::int32_t SendCommand(HostInstanceRecord* record, std::uint32_t command) {
    const auto uploader = LookupInstance(record);
    if (!uploader) return kCallbackFailed;
    switch (command) {
        case kSendCommandAbort:
            uploader->Abort();
            break;
        case kSendCommandArm:
            uploader->SetArmed(true);
            break;
        case kSendCommandIdle:
            uploader->SetArmed(false);
            break;
        default:
            break;
    }
    return kCallbackDone;
}

std::int32_t QueryStatus(HostInstanceRecord* record) {
    const auto uploader = LookupInstance(record);
    if (!uploader) return kCallbackFailed;
    return static_cast<std::int32_t>(uploader->GetState());
}

std::int32_t ReceiveVideoInfo(HostInstanceRecord* record, const ExportVideoInfo* info) {
    if (!record || !IsGroupEnabled(record, kTikTokGroupID)) return kCallbackDone;
    const auto uploader = LookupInstance(record);
    if (!uploader) return kCallbackFailed;
    if (info) uploader->SetVideoInfo(*info);
    return AcquireExportParamSuite(record) ? kCallbackDone : kCallbackFailed;
}

}  // namespace Vekta
