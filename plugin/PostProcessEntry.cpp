// The module's one exported function.
#include <algorithm>
#include <cstring>
#include <string>

#include "PostProcessSDK.h"
#include "plugin/CallbackTable.h"
#include "talcore/config/Localizer.h"

namespace {

constexpr std::uint32_t kPluginIdentifier = VEKTA_FOURCC('Q', 'V', 'R', 'X');

}  // namespace

VEKTA_PLUGIN_EXPORT int32_t PostProcessEntry(uint64_t, uint64_t, uint64_t, PostProcessDescription* description,
                                             PostProcessCallbacks* callbacks) {
    try {
        // The name comes first, so a module that cannot even name itself offers no callbacks.
        if (description) {
            const std::u16string name =
                talcore::config::Localizer::Get().Localize("$$$/Vekta/PostProcess/TikTok/PluginName=TikTok");
            // No terminator is written after the copied units.
            const std::size_t units = std::min<std::size_t>(name.size(), kPostProcessDisplayNameMaxCopied);
            std::memcpy(description->displayName, name.data(), units * sizeof(char16_t));
            description->identifier = kPluginIdentifier;
            description->version = kPostProcessDescriptionVersion;
        }
        if (callbacks) Vekta::FillCallbackTable(*callbacks);
    } catch (...) {
        // The entry has no failure result: the description and the table stay as the host gave
        // them, so the host finds no version it knows and no callbacks and does not go on.
    }
    return kCallbackDone;
}
