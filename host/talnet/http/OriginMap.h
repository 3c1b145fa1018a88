// Host network configuration: requests and opened addresses for one origin go to another (as a
// proxy setting would). Read once from VEKTA_HOST_ORIGIN_MAP ("from=to;from=to") at start-up and
// changeable through this API. Plug-ins know nothing of it.
#pragma once

#include <string>
#include <string_view>

#include "talcore/TalExport.h"

namespace talnet::http {

// Host side. [any-thread] Maps origin `from` (scheme://host[:port]) to `to`; an empty `to` removes it.
TAL_API void SetOriginMapping(std::string_view from, std::string_view to);
TAL_API void ClearOriginMappings();
// [any-thread] `url` with its origin replaced when it is mapped, else unchanged.
TAL_API std::string MapOrigin(std::string_view url);

}  // namespace talnet::http
