// The reference host's export-parameter suite ("Tessel Export Param Suite", version 7): the export
// settings of every post-process instance, reached by plug-ins through the C table of Suite() and by
// the host program and tests through the C++ methods below.
//
// Process-wide, because the suite table carries no context: its functions find the one host through
// ExportParamHost::Get(). Thread-safe: every operation, C or C++, runs under one lock, so a sign-in
// completion may write parameters from a worker thread while the main thread reads them.
//
// Rules the suite enforces (each refusal returns a negative kSuite... code and is kept as
// LastRefusal() for diagnosis):
//  - An instance exists once the host has called ResetInstance for it; it starts with one host
//    group (the group named in the instance record). Every operation on another instance fails.
//  - Identifiers are 1 to 255 printable ASCII characters without spaces; groups and parameters share
//    one namespace per instance and are added once each, under a parent group that exists.
//  - Texts are NUL-terminated UTF-16 of at most kMaxTextUnits units; a null text counts as empty.
//  - A text parameter's GetValue carries the text inline when it fits with its NUL; a longer text is
//    cut to kParamInlineTextUnits - 1 units plus NUL and arraySize gives the byte size (2n+2) of its
//    whole form, readable with GetArrayValue. ChangeValue with such a record, unchanged in its text
//    (same cut text, same arraySize), keeps the whole text: a GetValue/ChangeValue round trip that
//    only flips a flag must not cut a long caption. SetLongTextRecords(TakenAsGiven) makes the
//    suite behave like a host that stores the record's inline text as given instead.
//  - Byte arrays hold at most kMaxArrayBytes; GetArrayValue never writes more than the caller's
//    size, SetArrayValue never reads more than its size; negative sizes are refused.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "ExportParamSuite.h"

namespace vekta::host {

// Results of the suite's operations.
enum : std::int32_t {
    kSuiteOK = kSuiteSuccess,
    kSuiteUnknownInstance = -1,
    kSuiteUnknownID = -2,
    kSuiteBadArgument = -3,
    kSuiteDuplicateID = -4,
    kSuiteWrongType = -5,
    kSuiteInternalError = -6,
};

// The host group an instance starts with unless the host names another.
inline constexpr char kDefaultHostGroupID[] = "VektaPostProcessGroup";

inline constexpr std::size_t kMaxTextUnits = 1 << 20;
inline constexpr std::int32_t kMaxArrayBytes = 64 << 20;

enum class EntryKind { Group, Parameter };

struct Choice {
    ParamValueUnion value{};
    std::u16string label;
};

// A group or a parameter as the suite holds it.
struct EntrySnapshot {
    EntryKind kind = EntryKind::Parameter;
    std::string id;
    std::string parentID;                      // empty for the instance's host group
    std::u16string name;                       // group title, parameter label or button caption
    std::u16string description;                // tooltip
    std::int32_t type = 0;                     // parameters: kParamType...
    std::int32_t flags = 0;                    // parameters: host flags
    std::array<std::int32_t, 3> groupFlags{};  // groups: the three host flags
    ParamValueUnion minimum{};
    ParamValueUnion maximum{};
    ParamValueUnion value{};
    std::u16string text;              // text parameters
    std::vector<std::uint8_t> bytes;  // byte-array parameters
    bool disabled = false;
    bool hidden = false;
    std::vector<Choice> choices;  // popups
};

// A parameter's value as the host program sets it: int32_t for checkboxes and integers/popups,
// double for floats, int64_t for time and hidden 64-bit integers, UTF-16 text for text parameters,
// bytes for byte arrays.
using ParameterValue = std::variant<std::int32_t, double, std::int64_t, std::u16string, std::vector<std::uint8_t>>;

// The user's settings of one instance, as a preset keeps them: the disabled state of each group
// (the host's switch for a plug-in's group) and the value of each parameter that has one.
struct GroupSetting {
    std::string id;
    bool disabled = false;
};
struct ParameterSetting {
    std::string id;
    std::int32_t type = 0;
    ParameterValue value;
};
struct InstanceSettings {
    std::vector<GroupSetting> groups;
    std::vector<ParameterSetting> parameters;
};

// What ChangeValue makes of a text parameter's record that carries a long text cut to its inline
// field, unchanged since GetValue.
enum class LongTextRecords {
    KeptWhenUnchanged,  // the whole stored text stays
    TakenAsGiven,       // the cut replaces it, as a host that reads only the inline field does
};

struct ApplyResult {
    bool ok = false;
    std::string error;                    // why nothing was applied
    std::string failedID;                 // the setting that caused it, when one did
    std::vector<std::string> ignoredIDs;  // settings for groups or parameters the instance does not have
};

class ExportParamHost {
public:
    // The process-wide host; never destroyed, so late calls from other threads at exit stay safe.
    static ExportParamHost& Get();

    // The C table handed to plug-ins; lives as long as the process.
    static const LuSDKExportParamSuite* Suite();

    // Makes `instanceID` exist with nothing but the host group `hostGroupID`; an existing instance
    // loses all its groups, parameters and values.
    void ResetInstance(std::uint32_t instanceID, std::string_view hostGroupID = kDefaultHostGroupID);
    void RemoveInstance(std::uint32_t instanceID);
    bool HasInstance(std::uint32_t instanceID) const;

    // All groups and parameters of the instance in the order they were added; null for an unknown
    // instance.
    std::optional<std::vector<EntrySnapshot>> Snapshot(std::uint32_t instanceID) const;
    std::optional<EntrySnapshot> Find(std::uint32_t instanceID, std::string_view id) const;

    // Sets a parameter's value; the alternative must match its type (see ParameterValue). For a
    // byte array, the bytes are stored as given.
    std::int32_t SetValue(std::uint32_t instanceID, std::string_view id, const ParameterValue& value);
    std::int32_t SetDisabled(std::uint32_t instanceID, std::string_view id, bool disabled);
    std::int32_t SetHidden(std::uint32_t instanceID, std::string_view id, bool hidden);

    // The user's settings (see InstanceSettings), in the order the entries were added. Buttons carry
    // no value and are left out.
    std::optional<InstanceSettings> ReadSettings(std::uint32_t instanceID) const;
    // Applies settings all at once or not at all: every setting is checked first (a known parameter
    // must have the stored type); ids the instance does not have are skipped and listed. Readers on
    // other threads see either the old or the new settings, never a mixture.
    ApplyResult ApplySettings(std::uint32_t instanceID, const InstanceSettings& settings);

    // The most recent refusal of a suite operation, for diagnosis: operation, id and reason.
    std::string LastRefusal() const;

    // For every instance; KeptWhenUnchanged until set otherwise.
    void SetLongTextRecords(LongTextRecords rule);

    ExportParamHost(const ExportParamHost&) = delete;
    ExportParamHost& operator=(const ExportParamHost&) = delete;

    // The suite's operations; the C table forwards here. Public so that the table's functions, which
    // must have plain C signatures, can reach them; everything else uses the methods above.
    struct Operations;

private:
    ExportParamHost() = default;
    ~ExportParamHost() = default;

    struct Instance {
        std::vector<EntrySnapshot> entries;
        std::unordered_map<std::string, std::size_t> index;
        EntrySnapshot* Find(std::string_view id);
        const EntrySnapshot* Find(std::string_view id) const;
    };

    Instance* FindInstance(std::uint32_t instanceID);
    const Instance* FindInstance(std::uint32_t instanceID) const;
    std::int32_t Refuse(std::int32_t code, std::string_view operation, std::string_view id, std::string_view reason);
    // Finds the group or parameter `id` of the instance for a suite operation; a refusal code when
    // there is none. Called under mutex_.
    std::int32_t Lookup(std::uint32_t instanceID, const char* id, std::string_view operation, EntrySnapshot*& entry);

    mutable std::mutex mutex_;
    std::unordered_map<std::uint32_t, Instance> instances_;
    std::string lastRefusal_;
    LongTextRecords longTextRecords_ = LongTextRecords::KeptWhenUnchanged;
};

// Name of a parameter type code ("checkbox", "popup", ...), for messages and tables.
std::string_view ParamTypeName(std::int32_t type);

}  // namespace vekta::host
