#include "plugin/InstanceCallbacks.h"

#include "plugin/HostRecordAccess.h"
#include "plugin/InstanceLookup.h"
#include "settings/ParameterAccess.h"

namespace Vekta {
namespace {

constexpr std::int32_t kDone = 0;
constexpr std::int32_t kFailure = 1;

enum HostCommand : std::uint32_t { kCommandAbort = 1, kCommandArm = 3, kCommandIdle = 4 };

}  // namespace

std::int32_t CreateInstance(HostInstanceRecord* record, PostProcessStatusCallback status,
                            AccountStatusCallback account) {
    if (!record) return kFailure;
    talcore::utility::RefCountedPtr<TikTokUploader> uploader(new TikTokUploader(*record, status, account));
    uploader->AddUseCount();
    WriteInstanceKey(record, uploader->GetWeakKey());
    return kDone;
}

std::int32_t DestroyInstance(HostInstanceRecord* record) {
    if (auto uploader = LookupInstance(record)) {
        uploader->StopAndWait(false);
        uploader->ReleaseUseCount();
    }
    return kDone;
}

std::int32_t QueryHasCredentials(HostInstanceRecord* record, std::uint8_t* hasCredentials) {
    if (hasCredentials) *hasCredentials = 0;
    const auto uploader = LookupInstance(record);
    if (!uploader) return kFailure;
    if (hasCredentials) *hasCredentials = uploader->HasCredentials() ? 1 : 0;
    return kDone;
}

std::int32_t ReceiveOutputFiles(HostInstanceRecord* record, std::uint32_t count, const OutputFileEntry* entries) {
    const auto uploader = LookupInstance(record);
    if (!uploader) return kFailure;
    uploader->SetOutputFiles(entries ? count : 0, entries);
    return kDone;
}

std::int32_t SendCommand(HostInstanceRecord* record, std::uint32_t command) {
    const auto uploader = LookupInstance(record);
    if (!uploader) return kFailure;
    switch (command) {
        case kCommandAbort:
            uploader->Abort();
            break;
        case kCommandArm:
            uploader->SetArmed(true);
            break;
        case kCommandIdle:
            uploader->SetArmed(false);
            break;
        default:
            break;
    }
    return kDone;
}

std::int32_t QueryStatus(HostInstanceRecord* record) {
    const auto uploader = LookupInstance(record);
    if (!uploader) return 1;
    return static_cast<std::int32_t>(uploader->GetState());
}

std::int32_t ReceiveVideoInfo(HostInstanceRecord* record, const ExportVideoInfo* info) {
    if (!record || !IsGroupEnabled(record, "VOXATikTokGroup")) return kDone;
    const auto uploader = LookupInstance(record);
    if (!uploader) return kFailure;
    if (info) uploader->SetVideoInfo(*info);
    return AcquireExportParamSuite(record) ? kDone : kFailure;
}

}  // namespace Vekta
