// Replacing a file whose content is private (hidden parameters may carry a refresh token), one
// implementation per system beside this header.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vekta::host {

// Writes `text` to a temporary file in the target's folder that only its owner can read, flushes
// it to disk and renames it over `path`, so a reader sees the old file or the new one, never a
// partial one. Returns what failed, or an empty string.
std::string ReplacePrivateFile(const std::filesystem::path& path, std::string_view text);

}  // namespace vekta::host
