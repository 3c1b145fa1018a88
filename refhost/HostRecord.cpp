#include "refhost/HostRecord.h"

#include <algorithm>
#include <cstring>

namespace vekta::host {

HostInstanceRecord MakeHostInstanceRecord(std::uint32_t instanceID, std::string_view parentGroupID,
                                          BasicSuiteAccessor basicSuite) {
    HostInstanceRecord record;
    std::memset(&record, 0, sizeof record);
    record.instanceID = instanceID;
    const std::size_t length = std::min(parentGroupID.size(), sizeof record.parentGroupID - 1);
    std::memcpy(record.parentGroupID, parentGroupID.data(), length);
    std::memcpy(reinterpret_cast<std::uint8_t*>(&record) + offsetof(HostInstanceRecord, getBasicSuite), &basicSuite,
                sizeof basicSuite);
    return record;
}

std::uint64_t ReadPluginPrivate(const HostInstanceRecord& record) {
    std::uint64_t key = 0;
    std::memcpy(&key, reinterpret_cast<const std::uint8_t*>(&record) + offsetof(HostInstanceRecord, pluginPrivate),
                sizeof key);
    return key;
}

}  // namespace vekta::host
