// Loads a post-process module by path, calls its entry point and checks what it described, as a
// careful host does before it trusts a plug-in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "PostProcessSDK.h"

namespace vekta::host {

class PluginModule {
public:
    // The value the host leaves in slot 12, to see that the module did not touch it.
    static constexpr std::uintptr_t kHostSlot12Marker = 0x5107'1200;

    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // Loads the module at `path` with the system's loader, calls PostProcessEntry and checks the
    // description and table. Returns null with `error` set when any of that fails.
    static std::unique_ptr<PluginModule> Load(const std::string& path, std::string& error);

    const PostProcessDescription& Description() const noexcept { return description_; }
    const PostProcessCallbacks& Callbacks() const noexcept { return callbacks_; }
    // The display name as UTF-8, up to its first zero or 255 units.
    std::string DisplayName() const;
    // The identifier as four characters, most significant byte first.
    std::string IdentifierText() const;
    // Problems a careful host would report (wrong version, empty slots); empty when all is well.
    const std::vector<std::string>& Warnings() const noexcept { return warnings_; }
    // The entry point itself, to call it again.
    PostProcessEntryFunction Entry() const noexcept { return entry_; }

private:
    PluginModule() = default;
    void* handle_ = nullptr;
    PostProcessEntryFunction entry_ = nullptr;
    PostProcessDescription description_{};
    PostProcessCallbacks callbacks_{};
    std::vector<std::string> warnings_;
};

// The slot names of the callback table, in slot order.
const char* CallbackSlotName(int slot);

}  // namespace vekta::host
