// An instance of the reference host's export-parameter suite for one test, with the record a
// plug-in receives for it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string_view>

#include "ExportParamSuite.h"
#include "refhost/BasicSuiteHost.h"
#include "refhost/ExportParamHost.h"
#include "refhost/HostRecord.h"

namespace vekta::test {

class SuiteInstance {
public:
    explicit SuiteInstance(std::uint32_t instanceID, std::string_view hostGroupID = host::kDefaultHostGroupID)
        : id(instanceID), record(host::MakeHostInstanceRecord(instanceID, hostGroupID, host::kBasicSuiteAccessor)) {
        host::ExportParamHost::Get().ResetInstance(instanceID, hostGroupID);
    }
    ~SuiteInstance() { host::ExportParamHost::Get().RemoveInstance(id); }
    SuiteInstance(const SuiteInstance&) = delete;
    SuiteInstance& operator=(const SuiteInstance&) = delete;

    // The entry as the host holds it; an empty one (and a test failure) when it is missing.
    host::EntrySnapshot Entry(std::string_view entryID) const {
        auto entry = host::ExportParamHost::Get().Find(id, entryID);
        if (!entry) ADD_FAILURE() << "no entry " << entryID;
        return entry.value_or(host::EntrySnapshot{});
    }

    // Added through the suite itself, as a plug-in adds them.
    std::int32_t AddParameter(const char* parameterID, std::int32_t type,
                              const char* parentID = host::kDefaultHostGroupID) const {
        ParamInfo info;
        std::memset(&info, 0, sizeof info);
        info.structVersion = info.value.structVersion = kParamStructVersion;
        std::strncpy(info.identifier, parameterID, sizeof info.identifier - 1);
        info.type = type;
        return suite->AddParameter(id, 0, parentID, &info);
    }
    std::int32_t AddGroup(const char* groupID) const {
        return suite->AddGroup(id, 0, host::kDefaultHostGroupID, groupID, u"", 0, 0, 0);
    }

    std::uint32_t id;
    HostInstanceRecord record;
    const LuSDKExportParamSuite* suite = host::ExportParamHost::Suite();
};

}  // namespace vekta::test
