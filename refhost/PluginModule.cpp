#include "refhost/PluginModule.h"

#include <cstring>

#include "talcore/string/Unicode.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vekta::host {
namespace {

void* OpenLibrary(const std::string& path, std::string& error) {
#if defined(_WIN32)
    const std::u16string wide = talcore::string::UTF8to16(path);
    HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
    if (!module) error = "cannot load " + path;
    return module;
#else
    // RTLD_LOCAL: the module's own symbols stay out of the host's namespace. RTLD_NODELETE: the
    // platform's threads may still hold the module's callables (a completion being destroyed) when
    // the host lets go of it, so its code stays mapped until the process ends.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) error = dlerror();
    return handle;
#endif
}

void* FindSymbol(void* handle, const char* name) {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

void CloseLibrary(void* handle) {
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
}

constexpr const char* kSlotNames[14] = {
    "CreateInstance",     "DestroyInstance", "AddParameters",     "QueryHasCredentials", "RefreshParameters",
    "ParameterChanged",   "ReceiveOutputFiles", "Execute",        "NoOperation",         "CheckOutputFormat",
    "SendCommand",        "QueryStatus",     "(host slot 12)",    "ReceiveVideoInfo"};

}  // namespace

const char* CallbackSlotName(int slot) { return slot >= 0 && slot < 14 ? kSlotNames[slot] : "?"; }

PluginModule::~PluginModule() {
    if (handle_) CloseLibrary(handle_);
}

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string& error) {
    std::unique_ptr<PluginModule> module(new PluginModule);
    module->handle_ = OpenLibrary(path, error);
    if (!module->handle_) return nullptr;
    void* entry = FindSymbol(module->handle_, VEKTA_POSTPROCESS_ENTRY_NAME);
    if (!entry) {
        error = path + " has no " VEKTA_POSTPROCESS_ENTRY_NAME;
        return nullptr;
    }
    std::memcpy(&module->entry_, &entry, sizeof entry);

    auto& table = module->callbacks_;
    std::memset(&table, 0, sizeof table);
    table.hostSlot12 = reinterpret_cast<void*>(kHostSlot12Marker);
    std::memset(&module->description_, 0, sizeof module->description_);
    const std::int32_t result = module->entry_(0, 0, 0, &module->description_, &table);
    if (result != 0) module->warnings_.push_back("PostProcessEntry returned " + std::to_string(result));
    if (module->description_.version != 1) {
        error = "unsupported description version " + std::to_string(module->description_.version);
        return nullptr;
    }
    void* slots[14];
    std::memcpy(slots, &table, sizeof slots);
    for (int slot = 0; slot < 14; ++slot) {
        if (slot == 12) {
            if (slots[12] != reinterpret_cast<void*>(kHostSlot12Marker)) {
                module->warnings_.push_back("the module wrote into host slot 12");
            }
        } else if (!slots[slot]) {
            module->warnings_.push_back(std::string("callback slot ") + std::to_string(slot) + " (" +
                                        kSlotNames[slot] + ") is empty");
        }
    }
    if (!table.createInstance || !table.destroyInstance) {
        error = "the module offers no way to create or destroy instances";
        return nullptr;
    }
    return module;
}

std::string PluginModule::DisplayName() const {
    std::size_t units = 0;
    while (units < 255 && description_.displayName[units] != 0) ++units;
    return talcore::string::UTF16to8(std::u16string_view(description_.displayName, units));
}

std::string PluginModule::IdentifierText() const {
    const std::uint32_t id = description_.identifier;
    return {static_cast<char>(id >> 24), static_cast<char>((id >> 16) & 0xFF), static_cast<char>((id >> 8) & 0xFF),
            static_cast<char>(id & 0xFF)};
}

}  // namespace vekta::host
