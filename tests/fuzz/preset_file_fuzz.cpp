// Text into the reference host's preset reader. A file it refuses leaves the settings as they
// were; one it reads saves to text that reads back to the same settings, whatever the values hold.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "refhost/PresetFile.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace vekta::host;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    InstanceSettings settings;
    settings.groups.push_back({"untouched", true});
    std::string error;
    if (!ParsePreset(text, settings, error)) {
        FUZZ_CHECK(error.starts_with("line "));
        FUZZ_CHECK(settings.groups.size() == 1 && settings.groups[0].id == "untouched" && settings.parameters.empty());
        return 0;
    }
    FUZZ_CHECK(error.empty());
    const std::string saved = FormatPreset(settings);
    InstanceSettings reread;
    FUZZ_CHECK(ParsePreset(saved, reread, error));
    FUZZ_CHECK(FormatPreset(reread) == saved);
    FUZZ_CHECK(reread.groups.size() == settings.groups.size() &&
               reread.parameters.size() == settings.parameters.size());
    return 0;
}
