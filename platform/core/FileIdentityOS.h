// What the file services ask of the operating system beyond the standard library, on POSIX (the
// Windows file and stream ask the system directly, by handle).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "talcore/filesupport/File.h"

namespace talcore::filesupport::detail {

// The identity of the file `path` names now, links followed; empty when it names nothing.
std::optional<FileIdentity> IdentityOfPath(const std::filesystem::path& path);
// The identity and the size of the file open behind `file`; both throw std::runtime_error when the
// system cannot tell.
FileIdentity IdentityOfOpenFile(std::FILE* file);
std::uint64_t SizeOfOpenFile(std::FILE* file);

}  // namespace talcore::filesupport::detail
