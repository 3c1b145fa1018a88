// Loading a module with the system's loader; one implementation per system beside this header.
#pragma once

#include <string>

namespace vekta::host {

// How the system names a module file ("TikTokPostProcess" + this).
extern const char* const kModuleFileSuffix;

// Loads the module at `path` (UTF-8). Its code stays mapped until the process ends: the
// platform's threads may still hold the module's callables (a completion being destroyed) when the
// host lets go of it. Null with `error` set when the loader refused it.
void* OpenSharedLibrary(const std::string& path, std::string& error);
void* FindSharedLibrarySymbol(void* library, const char* name);
void CloseSharedLibrary(void* library);

}  // namespace vekta::host
