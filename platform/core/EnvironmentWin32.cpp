#include <cstdlib>
#include <string>

#include "Environment.h"
#include "talcore/string/Unicode.h"

namespace talcore::system::detail {

std::optional<std::string> EnvironmentValue(const char* name) {
    // Names are ASCII: widened unit by unit.
    std::wstring wideName;
    for (const char* c = name; *c; ++c) wideName.push_back(static_cast<unsigned char>(*c));
    const wchar_t* value = ::_wgetenv(wideName.c_str());
    if (!value) return std::nullopt;
    const std::wstring_view wide(value);
    return string::UTF16to8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace talcore::system::detail
