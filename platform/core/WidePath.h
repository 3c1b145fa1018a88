// For the Win32 files: a UTF-16 path as the wide string Windows' own functions take. wchar_t is
// 16 bits there, so the code units pass unchanged (no conversion, nothing lost).
#pragma once

#include <string>

namespace talcore::filesupport {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 code units");

inline std::wstring ToWide(const std::u16string& path) { return std::wstring(path.begin(), path.end()); }

}  // namespace talcore::filesupport
