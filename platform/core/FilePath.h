#pragma once

#include <filesystem>
#include <string>

#include "talcore/string/Unicode.h"

namespace talcore::filesupport {

// A UTF-16 path as the file system's path type (UTF-8 on POSIX, UTF-16 on Windows).
inline std::filesystem::path ToFilesystemPath(const std::u16string& path) {
#if defined(_WIN32)
    return std::filesystem::path(std::wstring(path.begin(), path.end()));
#else
    return std::filesystem::path(string::UTF16to8(path));
#endif
}

}  // namespace talcore::filesupport
