// AddParameters of the TikTok settings: creates the TikTok group and its 22 parameters.
#pragma once

#include <cstdint>

#include "PostProcessSDK.h"

namespace Vekta {

// [main-thread] Adds kTikTokGroupID under the host group named in `record`, its sub-groups and
// the parameters of kTikTokParamDescriptors, in table order; each sub-group is created right before
// its first member. Returns 1 without adding anything when the export-parameter suite cannot be
// acquired (or `record` is null), else 0. Individual suite refusals (for instance a group that
// already exists) are not reported: the host's settings are left as the suite accepted them.
std::int32_t AddTikTokParameters(const HostInstanceRecord* record);

}  // namespace Vekta
