#pragma once

#include <string_view>

#include "talcore/TalExport.h"

namespace talcore::crypto {

// [any-thread] Whether `a` and `b` hold the same bytes. Texts of equal length are compared in a
// time that does not depend on where they differ, so a secret (an OAuth state) cannot be guessed
// byte by byte from answer times; a length that differs answers false at once.
TAL_API bool ConstantTimeEquals(std::string_view a, std::string_view b) noexcept;

}  // namespace talcore::crypto
