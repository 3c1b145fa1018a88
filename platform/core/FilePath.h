// For the POSIX files: a UTF-16 path as the file system's path type (UTF-8 on POSIX).
#pragma once

#include <filesystem>
#include <string>

#include "talcore/string/Unicode.h"

namespace talcore::filesupport {

inline std::filesystem::path ToFilesystemPath(const std::u16string& path) {
    return std::filesystem::path(string::UTF16to8(path));
}

}  // namespace talcore::filesupport
