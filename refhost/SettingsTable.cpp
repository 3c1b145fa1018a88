#include "refhost/SettingsTable.h"

#include <algorithm>
#include <charconv>

#include "talcore/string/Unicode.h"

namespace vekta::host {
namespace {

constexpr std::size_t kIndentPerLevel = 2;
constexpr std::size_t kTypeColumnWidth = 10;
constexpr std::size_t kMaxLabelColumnWidth = 48;

struct Row {
    std::string left;  // indentation and label
    std::string type;
    std::string value;
    std::string state;
    std::string choices;  // a popup's entries, on their own line
};

std::size_t DisplayWidth(std::string_view utf8) {
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void PadTo(std::string& text, std::size_t width) {
    const std::size_t current = DisplayWidth(text);
    if (current < width) text.append(width - current, ' ');
}

// Control characters would break the table's lines; show them as escapes.
std::string Printable(std::u16string_view text) {
    std::string out;
    for (const char c : talcore::string::UTF16to8(text)) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            out += '?';
        } else {
            out += c;
        }
    }
    return out;
}

std::string Characters(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " character" : " characters");
}

// A byte array holds UTF-16 text plus one NUL; only its length is shown.
std::string ByteArrayLength(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return "empty";
    if (bytes.size() % 2 != 0) return std::to_string(bytes.size()) + " bytes";
    std::size_t units = bytes.size() / 2;
    if (bytes[bytes.size() - 1] == 0 && bytes[bytes.size() - 2] == 0) --units;
    return Characters(units);
}

std::string FormatDouble(double value) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::string TypeName(const EntrySnapshot& entry) {
    if (entry.type == kParamTypeInteger && !entry.choices.empty()) return "popup";
    return std::string(ParamTypeName(entry.type));
}

std::string ValueText(const EntrySnapshot& entry) {
    switch (entry.type) {
        case kParamTypeCheckbox:
            return entry.value.intValue != 0 ? "[x]" : "[ ]";
        case kParamTypeInteger: {
            if (entry.choices.empty()) return std::to_string(entry.value.intValue);
            const auto chosen = std::find_if(entry.choices.begin(), entry.choices.end(), [&](const Choice& choice) {
                return choice.value.intValue == entry.value.intValue;
            });
            if (chosen == entry.choices.end()) return std::to_string(entry.value.intValue) + " (not an entry)";
            return Printable(chosen->label);
        }
        case kParamTypeFloat:
            return FormatDouble(entry.value.floatValue);
        case kParamTypeTime:
        case kParamTypeHiddenInt64:
            return std::to_string(entry.value.timeValue);
        case kParamTypeText:
            return entry.hidden ? Characters(entry.text.size()) : "\"" + Printable(entry.text) + "\"";
        case kParamTypeByteArray:
            return ByteArrayLength(entry.bytes);
        default:
            return {};
    }
}

std::string ChoicesText(const EntrySnapshot& entry) {
    if (entry.type != kParamTypeInteger || entry.choices.empty()) return {};
    std::string out = "choices:";
    for (std::size_t i = 0; i < entry.choices.size(); ++i) {
        out += i == 0 ? " " : " | ";
        out += std::to_string(entry.choices[i].value.intValue) + " " + Printable(entry.choices[i].label);
    }
    return out;
}

std::string Label(const EntrySnapshot& entry) {
    if (!entry.name.empty()) return Printable(entry.name);
    return entry.kind == EntryKind::Group ? "(" + entry.id + ")" : entry.id;
}

std::string StateText(const EntrySnapshot& entry, const SettingsTableOptions& options) {
    std::string state;
    if (entry.disabled) state += "(disabled)";
    if (entry.hidden) state += state.empty() ? "(hidden)" : " (hidden)";
    if (options.showIDs) state += (state.empty() ? "" : " ") + std::string("[") + entry.id + "]";
    return state;
}

void CollectRows(const std::vector<EntrySnapshot>& entries, const EntrySnapshot& group, std::size_t depth,
                 const SettingsTableOptions& options, std::vector<Row>& rows) {
    rows.push_back({std::string(depth * kIndentPerLevel, ' ') + Label(group), {}, {}, StateText(group, options), {}});
    for (const EntrySnapshot& entry : entries) {
        if (entry.parentID != group.id || (entry.hidden && !options.showHidden)) continue;
        if (entry.kind == EntryKind::Group) {
            CollectRows(entries, entry, depth + 1, options, rows);
            continue;
        }
        rows.push_back({std::string((depth + 1) * kIndentPerLevel, ' ') + Label(entry), TypeName(entry),
                        ValueText(entry), StateText(entry, options), ChoicesText(entry)});
    }
}

std::string RightTrimmed(std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

}  // namespace

std::string FormatSettingsTable(const std::vector<EntrySnapshot>& entries, std::string_view rootGroupID,
                                const SettingsTableOptions& options) {
    std::vector<Row> rows;
    for (const EntrySnapshot& entry : entries) {
        if (entry.kind != EntryKind::Group) continue;
        const bool isRoot = rootGroupID.empty() ? entry.parentID.empty() : entry.id == rootGroupID;
        if (isRoot && (!entry.hidden || options.showHidden)) CollectRows(entries, entry, 0, options, rows);
    }
    std::size_t labelWidth = 0;
    for (const Row& row : rows)
        if (!row.type.empty()) labelWidth = std::max(labelWidth, DisplayWidth(row.left));
    labelWidth = std::min(labelWidth, kMaxLabelColumnWidth) + 2;

    std::string out;
    for (Row& row : rows) {
        std::string line = row.left;
        if (!row.type.empty()) {
            PadTo(line, labelWidth);
            line += row.type;
            PadTo(line, labelWidth + kTypeColumnWidth);
            line += row.value;
        }
        if (!row.state.empty()) {
            line += "  ";
            line += row.state;
        }
        out += RightTrimmed(std::move(line)) + "\n";
        if (!row.choices.empty()) {
            std::string choices(labelWidth + kTypeColumnWidth, ' ');
            out += choices + row.choices + "\n";
        }
    }
    return out;
}

std::string FormatSettingsTable(std::uint32_t instanceID, std::string_view rootGroupID,
                                const SettingsTableOptions& options) {
    const auto entries = ExportParamHost::Get().Snapshot(instanceID);
    return entries ? FormatSettingsTable(*entries, rootGroupID, options) : std::string();
}

}  // namespace vekta::host
