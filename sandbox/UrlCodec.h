#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vekta::sandbox {

struct FormField {
    std::string name;
    std::string value;
};
using FormFields = std::vector<FormField>;

// Percent-encodes every byte outside [A-Za-z0-9-._~].
std::string PercentEncode(std::string_view text);
// Nothing when an escape is malformed; in forms and queries '+' stands for a space.
std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace);

// application/x-www-form-urlencoded (also a query string), in order, duplicates kept.
std::optional<FormFields> ParseUrlEncoded(std::string_view text);
std::string EncodeUrlEncoded(const FormFields& fields);

std::vector<std::string> FieldNames(const FormFields& fields);
// The value of a field that occurs exactly once; nothing when it is missing or repeated.
std::optional<std::string> SingleValue(const FormFields& fields, std::string_view name);
bool HasRepeatedField(const FormFields& fields);

// The part of a request target after '?', or empty.
std::string_view QueryOf(std::string_view target);

}  // namespace vekta::sandbox
