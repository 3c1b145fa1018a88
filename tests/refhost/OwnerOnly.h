// Whether only the file's owner may read and write it, by the system's own rules; one
// implementation per system beside this header.
#pragma once

#include <filesystem>

namespace vekta::test {

bool OnlyOwnerHasAccess(const std::filesystem::path& file);

// Gives everyone read access, as a file left by another program might.
void OpenToEveryone(const std::filesystem::path& file);

}  // namespace vekta::test
