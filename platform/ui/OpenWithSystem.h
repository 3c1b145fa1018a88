// Handing an address (a URL or a file's path, UTF-8) to the system's default application; one
// implementation per system beside this header.
#pragma once

#include <string>

namespace talcore::utility::detail {

// True when the system took it; false when no application could be started.
bool OpenWithSystem(const std::string& address);

}  // namespace talcore::utility::detail
