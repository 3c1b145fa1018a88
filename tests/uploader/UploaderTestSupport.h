#pragma once

#include <cstdint>
#include <string>

#include "refhost/HostRecord.h"
#include "refhost/StatusRecorder.h"
#include "talcore/threads/MainThread.h"
#include "talcore/utility/RefCounted.h"
#include "uploader/BaseUploader.h"
#include "uploader/UploadRegistries.h"

namespace vekta::test {

// An uploader of any destination, built the way the plug-in builds its own.
class TestUploader : public Vekta::BaseUploader {
public:
    TestUploader(std::uint32_t instanceID, Vekta::DestinationIndex destination)
        : BaseUploader(host::MakeHostInstanceRecord(instanceID, "HostGroup", nullptr), &host::StatusRecorder::StatusCallback,
                       &host::StatusRecorder::AccountCallback, destination) {}
    using BaseUploader::SetBusy;
    void SetTokens(std::u16string refresh, std::u16string access) {
        refreshToken = std::move(refresh);
        accessToken = std::move(access);
    }
    void UseRefreshToken(bool use) { authorizedByRefreshToken = use; }
};

inline talcore::utility::RefCountedPtr<TestUploader> MakeUploader(std::uint32_t instanceID,
                                                                  Vekta::DestinationIndex destination = 9) {
    return talcore::utility::RefCountedPtr<TestUploader>(new TestUploader(instanceID, destination));
}

// Module-wide flags outlive a test; every test starts and ends with them clear.
inline void ClearRegistries() {
    for (Vekta::DestinationIndex i = 0; i < Vekta::kDestinationCount; ++i) {
        Vekta::UploadBusyRegistry::SetBusy(i, false);
        Vekta::DeleteRequestRegistry::SetDeleteRequested(i, false);
    }
}

inline std::uint32_t NextInstanceID() {
    static std::uint32_t next = 1000;
    return ++next;
}

}  // namespace vekta::test
