#include "ModuleLocation.h"

#include <algorithm>
#include <system_error>

#include "SharedLibrary.h"
#include "talcore/string/Unicode.h"

#ifndef VEKTA_INSTALLED_MODULE_FOLDER
#error "VEKTA_INSTALLED_MODULE_FOLDER: the module's folder relative to the programs' (cmake/Install.cmake)"
#endif

namespace vekta::host {

std::string ModuleFileName() { return std::string("TikTokPostProcess") + kModuleFileSuffix; }

std::vector<std::filesystem::path> ModuleFolders(const std::filesystem::path& programFolder) {
    std::vector<std::filesystem::path> folders;
    for (const char* relative : {".", "../lib", VEKTA_INSTALLED_MODULE_FOLDER}) {
        // Where the install puts the module beside the programs (Windows), that is one folder.
        const std::filesystem::path folder = (programFolder / relative).lexically_normal();
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    }
    return folders;
}

std::string DefaultModulePath(const std::filesystem::path& programFolder) {
    const std::filesystem::path name = talcore::string::UTF8to16(ModuleFileName());
    for (const auto& folder : ModuleFolders(programFolder)) {
        std::error_code error;
        if (std::filesystem::is_regular_file(folder / name, error)) {
            return talcore::string::UTF16to8((folder / name).u16string());
        }
    }
    // Not the last folder searched: where the install puts the module beside the program
    // (Windows), the build tree's ../lib comes after it.
    const std::filesystem::path installed = programFolder / VEKTA_INSTALLED_MODULE_FOLDER / name;
    return talcore::string::UTF16to8(installed.lexically_normal().u16string());
}

}  // namespace vekta::host
