#include <dlfcn.h>

#include "refhost/SharedLibrary.h"

namespace vekta::host {

const char* const kModuleFileSuffix = ".so";

void* OpenSharedLibrary(const std::string& path, std::string& error) {
    // RTLD_LOCAL: the module's own symbols stay out of the host's namespace.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) error = dlerror();
    return handle;
}

void* FindSharedLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseSharedLibrary(void* library) { dlclose(library); }

}  // namespace vekta::host
