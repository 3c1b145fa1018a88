// A preset's text applied to the TikTok settings of a host instance, then shown as the host's
// settings table: the values a preset can carry (any text, any bytes) must keep the table one row
// per line, free of control characters, and never show what the hidden refresh token holds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "refhost/BasicSuiteHost.h"
#include "refhost/ExportParamHost.h"
#include "refhost/HostRecord.h"
#include "refhost/PresetFile.h"
#include "refhost/SettingsTable.h"
#include "settings/ParameterAccess.h"
#include "settings/TikTokParameterTables.h"
#include "settings/TikTokParameters.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace vekta::host;

namespace {

constexpr std::uint32_t kInstanceID = 5150;
// Stands for a refresh token; no input can hold it, since it is taken out of the input first.
constexpr std::u16string_view kHiddenMarker = u"rft.HiddenMarker";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t options = data[0];
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (text.find("HiddenMarker") != std::string::npos) return 0;
    InstanceSettings settings;
    std::string error;
    if (!ParsePreset(text, settings, error)) return 0;

    auto& host = ExportParamHost::Get();
    host.ResetInstance(kInstanceID);
    const HostInstanceRecord record = MakeHostInstanceRecord(kInstanceID, kDefaultHostGroupID, kBasicSuiteAccessor);
    FUZZ_CHECK(Vekta::AddTikTokParameters(&record) == 0);
    const auto* suite = ExportParamHost::Suite();
    for (std::size_t i = 0; i < Vekta::kTikTokParamDescriptors.size(); ++i) {
        Vekta::ApplyParameterTexts(suite, kInstanceID, i, Vekta::kTikTokParamDescriptors);
    }
    (void)host.ApplySettings(kInstanceID, settings);
    Vekta::SetArrayText(std::u16string(kHiddenMarker), suite, kInstanceID, Vekta::kTikTokRefreshTokenID);

    const SettingsTableOptions tableOptions{.showHidden = (options & 1) != 0, .showIDs = (options & 2) != 0};
    const std::string table =
        FormatSettingsTable(kInstanceID, (options & 4) ? "" : Vekta::kTikTokGroupID, tableOptions);
    FUZZ_CHECK(table.empty() || table.back() == '\n');
    for (const char c : table) FUZZ_CHECK(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F));
    FUZZ_CHECK(table.find("HiddenMarker") == std::string::npos);
    host.RemoveInstance(kInstanceID);
    return 0;
}
