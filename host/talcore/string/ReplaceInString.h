#pragma once

#include <array>
#include <string>
#include <string_view>

#include "talcore/TalExport.h"

namespace talcore::string {

// Replaces each placeholder "@0".."@9" in `text` by the matching entry of `replacements`. "@@"
// stands for one "@"; an "@" followed by anything else is kept as it is.
TAL_API std::u16string ReplaceInString(std::u16string_view text, const std::array<std::u16string, 10>& replacements);

}  // namespace talcore::string
