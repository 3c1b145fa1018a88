// Reading the process environment as UTF-8; one implementation per system beside this header
// (Windows keeps it as UTF-16, and its narrow copy is in the ANSI code page, which loses text).
#pragma once

#include <optional>
#include <string>

namespace talcore::system::detail {

// The variable's value as UTF-8; empty when it is not set.
std::optional<std::string> EnvironmentValue(const char* name);

}  // namespace talcore::system::detail
