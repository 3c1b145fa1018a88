// The callbacks whose bodies live with the settings, the publish run and the output checks.
#pragma once

#include <cstdint>

#include "PostProcessSDK.h"

namespace Vekta {

std::int32_t AddParameters(HostInstanceRecord* record);
std::int32_t RefreshParameters(HostInstanceRecord* record);
std::int32_t ParameterChanged(HostInstanceRecord* record, const char* parameterID);
std::int32_t Execute(HostInstanceRecord* record, std::int32_t selector);
std::int32_t CheckOutputFormat(HostInstanceRecord* record, const ExportVideoInfo* format);

}  // namespace Vekta
