// The plug-in's static description of one export parameter, the data from which a host parameter
// record (ParamInfo) is built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ExportParamSuite.h"

namespace Vekta {

// One value slot of a descriptor. All three members are kept; the parameter's type says which one
// counts: intValue for checkboxes and integers/popups, floatValue for floats, timeValue for time
// and hidden 64-bit integers.
struct ParamDescriptorValue {
    std::int32_t intValue = 0;
    double floatValue = 0.0;
    std::int64_t timeValue = 0;
};

struct ParamDescriptor {
    char identifier[kParamIdentifierSize] = {};  // NUL-terminated ASCII, at most 255 characters
    std::int32_t type = 0;                       // kParamType...
    std::int32_t flags = 0;                      // host flags, passed through unchanged
    ParamDescriptorValue minimum;
    ParamDescriptorValue maximum;
    ParamDescriptorValue defaultValue;
    std::int32_t disabled = 0;                      // 0 or 1
    std::int32_t hidden = 0;                        // 0 or 1
    char parentGroupID[kParamIdentifierSize] = {};  // NUL-terminated ASCII, at most 255 characters
    const char* label = nullptr;                    // localisation key or plain text
    const char* tooltip = nullptr;                  // localisation key, or null when there is none
};

// Fills a fixed identifier field with `text` and NULs. A text that would leave no room for its NUL
// is refused (false, field untouched) rather than cut, so two long identifiers can never collide.
template <std::size_t N>
constexpr bool CopyIdentifier(char (&field)[N], std::string_view text) {
    if (text.size() >= N) return false;
    for (std::size_t i = 0; i < text.size(); ++i) field[i] = text[i];
    for (std::size_t i = text.size(); i < N; ++i) field[i] = '\0';
    return true;
}

}  // namespace Vekta
