#pragma once

#include <string_view>

#include "talcore/TalExport.h"

namespace talappsupport::feature {

// [any-thread] Whether the host allows the named regulated feature ("tiktok" is on by default).
TAL_API bool IsRegulatedFeatureEnabled(std::string_view feature);
// Host side. [any-thread]
TAL_API void SetRegulatedFeatureEnabled(std::string_view feature, bool enabled);

}  // namespace talappsupport::feature
