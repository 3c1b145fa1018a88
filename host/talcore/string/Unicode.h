// UTF-8 / UTF-16 conversion. Invalid sequences (lone surrogates, bad or overlong UTF-8) become
// U+FFFD; nothing is dropped silently and nothing reads past the input.
#pragma once

#include <string>
#include <string_view>

#include "talcore/TalExport.h"

namespace talcore::string {

TAL_API std::string UTF16to8(std::u16string_view text);
TAL_API std::u16string UTF8to16(std::string_view text);

}  // namespace talcore::string
