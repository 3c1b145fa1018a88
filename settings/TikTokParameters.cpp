#include "settings/TikTokParameters.h"

#include <cstring>
#include <string>

#include "settings/HostRecordAccess.h"
#include "settings/ParameterAccess.h"
#include "settings/TikTokParameterTables.h"

namespace Vekta {
namespace {

void AddGroup(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, const std::string& hostGroupID,
              const TikTokGroupDescriptor& group) {
    const char* parent = group.parentGroupID != nullptr ? group.parentGroupID : hostGroupID.c_str();
    const char16_t* title = group.title != nullptr ? group.title().c_str() : u"";
    suite->AddGroup(instanceID, kParamGroupIndex, parent, group.identifier, title, group.flags1, group.flags2,
                    group.flags3);
}

}  // namespace

std::int32_t AddTikTokParameters(const HostInstanceRecord* record) {
    const LuSDKExportParamSuite* suite = AcquireExportParamSuite(record);
    if (suite == nullptr || suite->AddGroup == nullptr) return kCallbackFailed;
    const std::uint32_t instanceID = ReadInstanceID(record);
    const std::string hostGroupID = ReadParentGroupID(record);

    for (const TikTokGroupDescriptor& group : kTikTokGroups)
        if (group.firstMemberID == nullptr) AddGroup(suite, instanceID, hostGroupID, group);
    for (std::size_t position = 0; position < kTikTokParamDescriptors.size(); ++position) {
        const char* identifier = kTikTokParamDescriptors[position].identifier;
        for (const TikTokGroupDescriptor& group : kTikTokGroups)
            if (group.firstMemberID != nullptr && std::strcmp(group.firstMemberID, identifier) == 0)
                AddGroup(suite, instanceID, hostGroupID, group);
        AddParameterFromDescriptor(suite, instanceID, position, kTikTokParamDescriptors);
    }
    return kCallbackDone;
}

}  // namespace Vekta
