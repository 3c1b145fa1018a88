// Setting and removing an environment variable in a test, on either system.
#pragma once

#include <cstdlib>
#include <string>

namespace vekta::test {

inline void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnvironment(const char* name) {
#if defined(_WIN32)
    ::_putenv_s(name, "");  // an empty value removes the variable on Windows
#else
    ::unsetenv(name);
#endif
}

}  // namespace vekta::test
