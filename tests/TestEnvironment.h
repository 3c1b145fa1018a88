// Setting and removing an environment variable in a test, on either system. Values are UTF-8;
// Windows gets them as UTF-16, as the programs under test read them.
#pragma once

#include <cstdlib>
#include <string>

#include "talcore/string/Unicode.h"

namespace vekta::test {

#if defined(_WIN32)
inline std::wstring WideText(const std::string& text) {
    const std::u16string wide = talcore::string::UTF8to16(text);
    return std::wstring(wide.begin(), wide.end());
}
#endif

inline void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    ::_wputenv_s(WideText(name).c_str(), WideText(value).c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnvironment(const char* name) {
#if defined(_WIN32)
    ::_wputenv_s(WideText(name).c_str(), L"");  // an empty value removes the variable on Windows
#else
    ::unsetenv(name);
#endif
}

}  // namespace vekta::test
