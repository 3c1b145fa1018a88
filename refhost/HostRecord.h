#pragma once

#include <cstdint>
#include <string_view>

#include "PostProcessSDK.h"

namespace vekta::host {

// A fresh instance record: zero except its instance id, the parent group id (cut to fit) and the
// basic-suite accessor.
HostInstanceRecord MakeHostInstanceRecord(std::uint32_t instanceID, std::string_view parentGroupID,
                                          BasicSuiteAccessor basicSuite);

// The plug-in's private slot, read as the host would see it.
std::uint64_t ReadPluginPrivate(const HostInstanceRecord& record);

}  // namespace vekta::host
