#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "talcore/TalExport.h"

namespace talcore::utility {

// [any-thread] Opens a file or URL (UTF-8) with the system's default application: the program named
// by the BROWSER environment variable when set, else the desktop's opener. The host's origin map
// applies to URLs. Returns false when nothing could be started; the host's fallback (see below) has
// then been told, so that it can show the address to the user.
TAL_API bool OpenFileInDefaultApplication(std::string_view pathOrURL);

// [any-thread] The address that the system browser is to be sent to for `url` (UTF-8), with the
// host's network configuration applied as OpenFileInDefaultApplication applies it: for an address
// the browser reaches by a redirect instead of being opened with it.
TAL_API std::string BrowserAddress(std::string_view url);

// Host side. Called with the address when no program could open it.
TAL_API void SetOpenFileFallback(std::function<void(const std::string& address)> fallback);

}  // namespace talcore::utility
