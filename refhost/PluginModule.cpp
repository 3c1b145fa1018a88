#include "refhost/PluginModule.h"

#include <cstring>

#include "refhost/SharedLibrary.h"
#include "talcore/string/Unicode.h"

namespace vekta::host {
namespace {

constexpr const char* kSlotNames[kPostProcessCallbackSlotCount] = {
    "CreateInstance",   "DestroyInstance",    "AddParameters",  "QueryHasCredentials", "RefreshParameters",
    "ParameterChanged", "ReceiveOutputFiles", "Execute",        "NoOperation",         "CheckOutputFormat",
    "SendCommand",      "QueryStatus",        "(host slot 12)", "ReceiveVideoInfo"};

}  // namespace

const char* CallbackSlotName(int slot) {
    return slot >= 0 && slot < kPostProcessCallbackSlotCount ? kSlotNames[slot] : "?";
}

PluginModule::~PluginModule() {
    if (handle_) CloseSharedLibrary(handle_);
}

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string& error) {
    std::unique_ptr<PluginModule> module(new PluginModule);
    module->handle_ = OpenSharedLibrary(path, error);
    if (!module->handle_) return nullptr;
    void* entry = FindSharedLibrarySymbol(module->handle_, VEKTA_POSTPROCESS_ENTRY_NAME);
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
    if (result != kCallbackDone) module->warnings_.push_back("PostProcessEntry returned " + std::to_string(result));
    if (module->description_.version != kPostProcessDescriptionVersion) {
        error = "unsupported description version " + std::to_string(module->description_.version);
        return nullptr;
    }
    void* slots[kPostProcessCallbackSlotCount];
    std::memcpy(slots, &table, sizeof slots);
    for (int slot = 0; slot < kPostProcessCallbackSlotCount; ++slot) {
        if (slot == kPostProcessHostSlot) {
            if (slots[kPostProcessHostSlot] != reinterpret_cast<void*>(kHostSlot12Marker)) {
                module->warnings_.push_back("the module wrote into host slot 12");
            }
        } else if (!slots[slot]) {
            module->warnings_.push_back(std::string("callback slot ") + std::to_string(slot) + " (" + kSlotNames[slot] +
                                        ") is empty");
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
    while (units < kPostProcessDisplayNameMaxCopied && description_.displayName[units] != 0) ++units;
    return talcore::string::UTF16to8(std::u16string_view(description_.displayName, units));
}

std::string PluginModule::IdentifierText() const {
    const std::uint32_t id = description_.identifier;
    return {static_cast<char>(id >> 24), static_cast<char>((id >> 16) & 0xFF), static_cast<char>((id >> 8) & 0xFF),
            static_cast<char>(id & 0xFF)};
}

}  // namespace vekta::host
