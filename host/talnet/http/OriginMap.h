// Host network configuration: requests and opened addresses for one origin go to another (as a
// proxy setting would). Read once from VEKTA_HOST_ORIGIN_MAP ("from=to;from=to") at start-up and
// changeable through this API. Plug-ins know nothing of it, but for the one question below that
// tells a loopback target of the host's own from an address that came from outside.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "talcore/TalExport.h"

namespace talnet::http {

// Host side. [any-thread] Maps origin `from` (scheme://host[:port]) to `to`; an empty `to` removes
// it. A target on plain http must be a loopback host (127.0.0.1, [::1] or localhost), since
// whatever the mapped origin carries (tokens, uploads) would otherwise cross a network in clear;
// such a target, a `from` or `to` that is not an http(s) origin, is refused: nothing changes and
// the result is false with the reason in `problem` (when given).
TAL_API bool SetOriginMapping(std::string_view from, std::string_view to, std::string* problem = nullptr);
TAL_API void ClearOriginMappings();
// Host side. [any-thread] Applies mappings written as VEKTA_HOST_ORIGIN_MAP holds them: entries
// "from=to" separated by ";", blanks around an entry ignored, an empty entry skipped. Returns the
// entries it refused, each as "'<entry>': <reason>"; the others are in force.
TAL_API std::vector<std::string> SetOriginMappings(std::string_view text);
// Host side. The entries of VEKTA_HOST_ORIGIN_MAP that were refused at start-up, each as
// "'<entry>': <reason>", for the host to report before it goes on.
TAL_API std::vector<std::string> RefusedOriginMappings();
// Host side. The mappings in force, as (from, to), in the order they were made.
TAL_API std::vector<std::pair<std::string, std::string>> ActiveOriginMappings();
// [any-thread] `url` with its origin replaced when it is mapped, else unchanged.
TAL_API std::string MapOrigin(std::string_view url);
// [any-thread] Whether `url` is on plain http to the origin of a mapping's loopback target, that
// is, to a stand-in the host itself sends traffic to.
TAL_API bool IsMappedLoopbackTarget(std::string_view url);

}  // namespace talnet::http
