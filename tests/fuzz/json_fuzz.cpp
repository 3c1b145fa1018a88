// Text into the host's JSON parser, as every answer of TikTok goes. Malformed text must fail with
// the parser's own error and nothing else; what it reads must print to text that reads back to
// the same print.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "talcore/serialization/JSON.h"
#include "tests/fuzz/FuzzCheck.h"

namespace json = talcore::serialization;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    json::JSONNode root;
    try {
        root = json::JSONParse(text);
    } catch (const std::runtime_error&) {
        return 0;
    }
    FUZZ_CHECK(root);
    const std::string printed = json::GetJSONUTF8String(root);
    json::JSONNode again;
    try {
        again = json::JSONParse(printed);
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "printed text does not read back: %s\n", e.what());
        FUZZ_CHECK(false);
    }
    FUZZ_CHECK(json::GetJSONUTF8String(again) == printed);

    // The handlers' ways in: a member of an object, a string member as UTF-16.
    if (root->type() == typeid(json::JSONObject)) {
        for (const char* key : {"data", "access_token", "error", ""}) (void)json::GetVariantInObject(root, key);
    } else {
        bool refused = false;
        try {
            (void)json::GetVariantInObject(root, "data");
        } catch (const std::bad_any_cast&) {
            refused = true;
        }
        FUZZ_CHECK(refused);
    }
    return 0;
}
