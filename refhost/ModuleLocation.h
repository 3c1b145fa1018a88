// Where a host program finds the module it came with, in the build tree and once installed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vekta::host {

// The module's file name on this system ("TikTokPostProcess" + kModuleFileSuffix).
std::string ModuleFileName();

// The folders a program in `programFolder` looks in for its module, in order: its own folder (the
// Windows layout), ../lib (the build tree), then the installed module folder (../lib/vekta).
std::vector<std::filesystem::path> ModuleFolders(const std::filesystem::path& programFolder);

// The module in the first of those folders that holds it, as UTF-8. When none does, the installed
// location, so that the loader's refusal names where the module belongs.
std::string DefaultModulePath(const std::filesystem::path& programFolder);

}  // namespace vekta::host
