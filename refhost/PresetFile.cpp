#include "refhost/PresetFile.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include <boost/algorithm/hex.hpp>

#include "refhost/PrivateFile.h"
#include "talcore/string/Unicode.h"

namespace vekta::host {
namespace {

constexpr std::string_view kMagic = "VektaExportPreset";
constexpr std::uintmax_t kMaxPresetBytes = 512u << 20;  // hex of the largest byte arrays the suite keeps

bool IsValidIdentifier(std::string_view id) {
    return !id.empty() && id.size() < kParamIdentifierSize &&
           std::all_of(id.begin(), id.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// ---- writing ----

void AppendUnitEscape(std::string& out, char16_t unit) {
    out += "\\u";
    boost::algorithm::hex_lower(&unit, &unit + 1, std::back_inserter(out));
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The escapes of one letter after a backslash, and the characters they stand for.
constexpr std::pair<char, char16_t> kShortEscapes[] = {
    {'"', u'"'}, {'\\', u'\\'}, {'n', u'\n'}, {'r', u'\r'}, {'t', u'\t'}};

const std::pair<char, char16_t>* FindShortEscape(auto matches) {
    const auto* found = std::find_if(std::begin(kShortEscapes), std::end(kShortEscapes), matches);
    return found == std::end(kShortEscapes) ? nullptr : found;
}

// UTF-16 to quoted UTF-8. Unpaired surrogates are escaped, not replaced, so they survive; runs of
// plain text go through the platform's conversion.
void AppendQuotedText(std::string& out, std::u16string_view text) {
    out.push_back('"');
    std::size_t plain = 0;  // start of the run not yet written
    const auto flush = [&](std::size_t end) {
        out += talcore::string::UTF16to8(text.substr(plain, end - plain));
        plain = end + 1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            ++i;
            continue;
        }
        const auto* escape = FindShortEscape([u](const auto& entry) { return entry.second == u; });
        const bool unitEscape = !escape && (IsHighSurrogate(u) || IsLowSurrogate(u) || u < 0x20 || u == 0x7F);
        if (!escape && !unitEscape) continue;
        flush(i);
        if (escape) {
            out.push_back('\\');
            out.push_back(escape->first);
        } else {
            AppendUnitEscape(out, u);
        }
    }
    if (plain < text.size()) flush(text.size());
    out.push_back('"');
}

template <typename Number>
void AppendNumber(std::string& out, Number number) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number);
    out.append(buffer, error == std::errc() ? end : buffer);
}

void AppendValue(std::string& out, const ParameterValue& value) {
    if (const auto* i = std::get_if<std::int32_t>(&value)) {
        AppendNumber(out, *i);
    } else if (const auto* d = std::get_if<double>(&value)) {
        AppendNumber(out, *d);
    } else if (const auto* t = std::get_if<std::int64_t>(&value)) {
        AppendNumber(out, *t);
    } else if (const auto* s = std::get_if<std::u16string>(&value)) {
        AppendQuotedText(out, *s);
    } else if (const auto* b = std::get_if<std::vector<std::uint8_t>>(&value)) {
        if (b->empty()) out.push_back('-');
        boost::algorithm::hex_lower(b->begin(), b->end(), std::back_inserter(out));
    }
}

// ---- reading ----

struct ParseError {
    std::size_t line;
    std::string message;
};

template <typename Number>
std::optional<Number> ParseNumber(std::string_view field) {
    Number number{};
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), number);
    if (error != std::errc() || end != field.data() + field.size()) return std::nullopt;
    return number;
}

std::optional<std::u16string> ParseQuotedText(std::string_view field, std::string& why) {
    if (field.size() < 2 || field.front() != '"') {
        why = "text value must be in double quotes";
        return std::nullopt;
    }
    std::u16string text;
    std::size_t i = 1;
    while (true) {
        if (i >= field.size()) {
            why = "text value has no closing quote";
            return std::nullopt;
        }
        const char c = field[i];
        if (c == '"') {
            if (i + 1 != field.size()) {
                why = "characters after the closing quote";
                return std::nullopt;
            }
            return text;
        }
        if (c == '\\') {
            if (i + 1 >= field.size()) {
                why = "text value ends inside an escape";
                return std::nullopt;
            }
            const char e = field[i + 1];
            i += 2;
            if (const auto* escape = FindShortEscape([e](const auto& entry) { return entry.first == e; })) {
                text.push_back(escape->second);
                continue;
            }
            if (e != 'u') {
                why = std::string("unknown escape \\") + e;
                return std::nullopt;
            }
            unsigned unit = 0;
            const char* digits = field.data() + i;
            const auto [end, error] =
                std::from_chars(digits, digits + std::min<std::size_t>(4, field.size() - i), unit, 16);
            if (error != std::errc() || end != digits + 4) {
                why = "\\u needs four hex digits";
                return std::nullopt;
            }
            text.push_back(static_cast<char16_t>(unit));
            i += 4;
            continue;
        }
        if (static_cast<std::uint8_t>(c) < 0x20 || c == 0x7F) {
            why = "raw control character in text value";
            return std::nullopt;
        }
        // A run of plain characters up to the next quote, escape or control character.
        std::size_t end = i + 1;
        while (end < field.size() && field[end] != '"' && field[end] != '\\' &&
               static_cast<std::uint8_t>(field[end]) >= 0x20 && field[end] != 0x7F) {
            ++end;
        }
        // The platform's conversion replaces whatever is not well-formed UTF-8, so only well-formed
        // text converts back unchanged.
        const std::string_view run = field.substr(i, end - i);
        const std::u16string units = talcore::string::UTF8to16(run);
        if (talcore::string::UTF16to8(units) != run) {
            why = "text value is not valid UTF-8";
            return std::nullopt;
        }
        text += units;
        i = end;
    }
}

std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view field, std::string& why) {
    std::vector<std::uint8_t> bytes;
    if (field == "-") return bytes;
    if (field.empty() || field.size() % 2 != 0) {
        why = "byte array must be an even number of hex digits, or \"-\" when empty";
        return std::nullopt;
    }
    bytes.reserve(field.size() / 2);
    try {
        boost::algorithm::unhex(field.begin(), field.end(), std::back_inserter(bytes));
    } catch (const boost::algorithm::hex_decode_error&) {
        why = "byte array has a character that is not a hex digit";
        return std::nullopt;
    }
    return bytes;
}

bool ParseValue(std::int32_t type, std::string_view field, ParameterValue& value, std::string& why) {
    switch (type) {
        case kParamTypeCheckbox:
        case kParamTypeInteger:
            if (auto number = ParseNumber<std::int32_t>(field)) return value.emplace<std::int32_t>(*number), true;
            why = "expected a 32-bit integer";
            return false;
        case kParamTypeFloat:
            if (auto number = ParseNumber<double>(field)) return value.emplace<double>(*number), true;
            why = "expected a number";
            return false;
        case kParamTypeTime:
        case kParamTypeHiddenInt64:
            if (auto number = ParseNumber<std::int64_t>(field)) return value.emplace<std::int64_t>(*number), true;
            why = "expected a 64-bit integer";
            return false;
        case kParamTypeText:
            if (auto text = ParseQuotedText(field, why)) return value.emplace<std::u16string>(std::move(*text)), true;
            return false;
        case kParamTypeByteArray:
            if (auto bytes = ParseHex(field, why))
                return value.emplace<std::vector<std::uint8_t>>(std::move(*bytes)), true;
            return false;
        default:
            why = "type " + std::to_string(type) + " carries no value";
            return false;
    }
}

// Splits off the next space-separated field; the rest stays in `rest`.
std::string_view NextField(std::string_view& rest) {
    const std::size_t space = rest.find(' ');
    const std::string_view field = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    return field;
}

std::optional<ParseError> Parse(std::string_view text, InstanceSettings& settings,
                                std::unordered_map<std::string, std::size_t>& lineOfID) {
    std::size_t lineNumber = 0;
    bool ended = false;
    std::size_t entries = 0;
    std::unordered_set<std::string> seen;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t newline = text.find('\n');
        if (newline == std::string_view::npos) return ParseError{lineNumber, "truncated: the line has no line end"};
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        if (ended) return ParseError{lineNumber, "text after the end line"};
        std::string_view rest = line;
        const std::string_view keyword = NextField(rest);
        if (lineNumber == 1) {
            if (keyword != kMagic) return ParseError{1, "not a preset file (expected \"VektaExportPreset 1\")"};
            const auto version = ParseNumber<int>(rest);
            if (!version) return ParseError{1, "bad format version \"" + std::string(rest) + "\""};
            if (*version != kPresetFormatVersion)
                return ParseError{1, "format version " + std::to_string(*version) + " is not supported (reads " +
                                         std::to_string(kPresetFormatVersion) + ")"};
            continue;
        }
        if (keyword == "end") {
            const auto count = ParseNumber<std::size_t>(rest);
            if (!count) return ParseError{lineNumber, "bad entry count \"" + std::string(rest) + "\""};
            if (*count != entries)
                return ParseError{lineNumber, "end line counts " + std::to_string(*count) + " entries, the file has " +
                                                  std::to_string(entries)};
            ended = true;
            continue;
        }
        if (keyword != "group" && keyword != "param")
            return ParseError{lineNumber, "unknown entry \"" + std::string(keyword) + "\""};
        const std::string id(NextField(rest));
        if (!IsValidIdentifier(id)) return ParseError{lineNumber, "bad identifier \"" + id + "\""};
        if (!seen.insert(id).second) return ParseError{lineNumber, "identifier \"" + id + "\" appears twice"};
        if (keyword == "group") {
            if (rest != "0" && rest != "1")
                return ParseError{lineNumber, "group \"" + id + "\": disabled flag must be 0 or 1"};
            settings.groups.push_back({id, rest == "1"});
        } else {
            const auto type = ParseNumber<std::int32_t>(NextField(rest));
            if (!type) return ParseError{lineNumber, "parameter \"" + id + "\": bad type code"};
            std::string why;
            ParameterSetting& parameter = settings.parameters.emplace_back();
            if (!ParseValue(*type, rest, parameter.value, why))
                return ParseError{lineNumber, "parameter \"" + id + "\": " + why};
            parameter.id = id;
            parameter.type = *type;
        }
        lineOfID[id] = lineNumber;
        ++entries;
    }
    if (lineNumber == 0) return ParseError{1, "empty file"};
    if (!ended) return ParseError{lineNumber + 1, "truncated: the end line is missing"};
    return std::nullopt;
}

}  // namespace

std::string FormatPreset(const InstanceSettings& settings) {
    std::string out;
    out.append(kMagic).append(" ").append(std::to_string(kPresetFormatVersion)).append("\n");
    for (const GroupSetting& group : settings.groups)
        out.append("group ").append(group.id).append(group.disabled ? " 1\n" : " 0\n");
    for (const ParameterSetting& parameter : settings.parameters) {
        out.append("param ").append(parameter.id).append(" ").append(std::to_string(parameter.type)).append(" ");
        AppendValue(out, parameter.value);
        out.push_back('\n');
    }
    out.append("end ").append(std::to_string(settings.groups.size() + settings.parameters.size())).append("\n");
    return out;
}

bool ParsePreset(std::string_view text, InstanceSettings& settings, std::string& error) {
    InstanceSettings parsed;
    std::unordered_map<std::string, std::size_t> lineOfID;
    if (const auto failure = Parse(text, parsed, lineOfID)) {
        error = "line " + std::to_string(failure->line) + ": " + failure->message;
        return false;
    }
    settings = std::move(parsed);
    return true;
}

PresetResult SavePreset(const std::filesystem::path& path, std::uint32_t instanceID) {
    const auto settings = ExportParamHost::Get().ReadSettings(instanceID);
    if (!settings) {
        PresetResult result;
        result.error = "unknown instance " + std::to_string(instanceID);
        return result;
    }
    return SavePreset(path, *settings);
}

PresetResult SavePreset(const std::filesystem::path& path, const InstanceSettings& settings) {
    PresetResult result;
    const std::string text = FormatPreset(settings);

    result.error = ReplacePrivateFile(path, text);
    result.ok = result.error.empty();
    return result;
}

PresetResult LoadPreset(const std::filesystem::path& path, std::uint32_t instanceID) {
    PresetResult result;
    std::error_code sizeError;
    const auto size = std::filesystem::file_size(path, sizeError);
    if (sizeError) {
        result.error = "cannot read " + path.string() + ": " + sizeError.message();
        return result;
    }
    if (size > kMaxPresetBytes) {
        result.error = path.string() + " is too large for a preset";
        return result;
    }
    std::ifstream file(path, std::ios::binary);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!file || !file.read(text.data(), static_cast<std::streamsize>(text.size()))) {
        result.error = "cannot read " + path.string();
        return result;
    }

    InstanceSettings settings;
    std::unordered_map<std::string, std::size_t> lineOfID;
    if (const auto failure = Parse(text, settings, lineOfID)) {
        result.error = path.string() + ": line " + std::to_string(failure->line) + ": " + failure->message;
        return result;
    }
    ApplyResult applied = ExportParamHost::Get().ApplySettings(instanceID, settings);
    if (!applied.ok) {
        const auto line = lineOfID.find(applied.failedID);
        result.error = path.string() + ": " +
                       (line != lineOfID.end() ? "line " + std::to_string(line->second) + ": " : std::string()) +
                       applied.error;
        return result;
    }
    result.ok = true;
    result.ignoredIDs = std::move(applied.ignoredIDs);
    return result;
}

}  // namespace vekta::host
