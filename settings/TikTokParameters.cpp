#include "settings/TikTokParameters.h"

#include <cstring>
#include <string>

#include "settings/ParameterAccess.h"
#include "settings/TikTokParameterTables.h"

namespace Vekta {
namespace {

constexpr std::int32_t kGroupIndex = 0;
constexpr std::size_t kRecordGroupIDSize = sizeof(HostInstanceRecord::parentGroupID);

// The record's group id, never read beyond its field even when the host left it unterminated.
std::string HostParentGroupID(const HostInstanceRecord* record) {
    const char* field = reinterpret_cast<const char*>(record) + offsetof(HostInstanceRecord, parentGroupID);
    return std::string(field, ::strnlen(field, kRecordGroupIDSize));
}

void AddGroup(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, const std::string& hostGroupID,
              const TikTokGroupDescriptor& group) {
    const char* parent = group.parentGroupID != nullptr ? group.parentGroupID : hostGroupID.c_str();
    const char16_t* title = group.title != nullptr ? group.title().c_str() : u"";
    suite->AddGroup(instanceID, kGroupIndex, parent, group.identifier, title, group.flags1, group.flags2, group.flags3);
}

}  // namespace

std::int32_t AddTikTokParameters(const HostInstanceRecord* record) {
    const LuSDKExportParamSuite* suite = AcquireExportParamSuite(record);
    if (suite == nullptr || suite->AddGroup == nullptr) return 1;
    std::uint32_t instanceID = 0;
    std::memcpy(&instanceID, reinterpret_cast<const unsigned char*>(record) + offsetof(HostInstanceRecord, instanceID),
                sizeof instanceID);
    const std::string hostGroupID = HostParentGroupID(record);

    for (const TikTokGroupDescriptor& group : kTikTokGroups)
        if (group.firstMemberID == nullptr) AddGroup(suite, instanceID, hostGroupID, group);
    for (std::size_t position = 0; position < kTikTokParamDescriptors.size(); ++position) {
        const char* identifier = kTikTokParamDescriptors[position].identifier;
        for (const TikTokGroupDescriptor& group : kTikTokGroups)
            if (group.firstMemberID != nullptr && std::strcmp(group.firstMemberID, identifier) == 0)
                AddGroup(suite, instanceID, hostGroupID, group);
        AddParameterFromDescriptor(suite, instanceID, position, kTikTokParamDescriptors);
    }
    return 0;
}

}  // namespace Vekta
