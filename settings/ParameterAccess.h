// The one way the plug-in reads and writes its parameters: free functions over the host's
// export-parameter suite, and InstanceParameters, which binds the suite to one instance for the
// settings behaviour and the publish run. They turn the suite's fixed records into UTF-16 strings,
// integers, booleans and descriptors.
//
// Every function takes the acquired suite, which may be null: then it does nothing and returns its
// empty result. None reports an error: a failing suite call gives empty text, false or no change.
// None reads or writes past a buffer, whatever sizes the suite reports. [any-thread], as the suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "ExportParamSuite.h"
#include "PostProcessSDK.h"
#include "settings/ParamDescriptor.h"

namespace Vekta {

// The export-parameter suite through the record's basic-suite accessor; null when the record, the
// accessor or the suite is missing.
const LuSDKExportParamSuite* AcquireExportParamSuite(const HostInstanceRecord* record) noexcept;

// Adds table[position] as a parameter under its group. A position outside the table, or an
// identifier that is not NUL-terminated within its field, adds nothing.
void AddParameterFromDescriptor(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, std::size_t position,
                                std::span<const ParamDescriptor> table);

// Sets the label of table[position] to its localised text and its tooltip to the localised
// tooltip, or to empty text when it has none.
void ApplyParameterTexts(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, std::size_t position,
                         std::span<const ParamDescriptor> table);

// Text stored in a byte-array parameter as UTF-16 characters plus one NUL (2n+2 bytes; empty text
// is size 0). The NUL is not part of the result; a text stored without it is returned whole.
std::u16string GetArrayText(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, const char* parameterID);
void SetArrayText(const std::u16string& text, const LuSDKExportParamSuite* suite, std::uint32_t instanceID,
                  const char* parameterID);
void ClearArrayValue(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, const char* parameterID);

// The text of a text parameter, inline or, when it is longer than the record holds, from its
// array form.
std::u16string GetTextValue(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, const char* parameterID);

// True only when the group can be read and is not disabled; acquires the suite itself.
bool IsGroupEnabled(const HostInstanceRecord* record, const char* groupID);

// The parameters of one instance: the suite and the instance identifier bound together, with the
// read-change-write steps every setting goes through. Copyable and cheap; the suite is the host's.
// A null suite, or one without the operation a step needs, reads as zero or empty text and changes
// nothing. `table` tells which parameters are texts, whose whole form a flag change must keep.
class InstanceParameters {
public:
    InstanceParameters(const LuSDKExportParamSuite* suite, std::uint32_t instanceID,
                       std::span<const ParamDescriptor> table = {}) noexcept
        : suite_(suite), instanceID_(instanceID), table_(table) {}
    // The suite acquired through `record`'s accessor and the record's instance identifier; no suite
    // for a null record.
    static InstanceParameters ForRecord(const HostInstanceRecord* record,
                                        std::span<const ParamDescriptor> table = {}) noexcept;

    const LuSDKExportParamSuite* Suite() const noexcept { return suite_; }
    std::uint32_t InstanceID() const noexcept { return instanceID_; }

    // The value record, all zero when it cannot be read.
    ParamValue Read(const char* id) const;
    std::int32_t ReadInteger(const char* id) const { return Read(id).value.intValue; }
    std::int64_t ReadTime(const char* id) const { return Read(id).value.timeValue; }
    // True only when the parameter or group can be read and is not disabled.
    bool IsEnabled(const char* id) const;
    std::u16string ReadText(const char* id) const { return GetTextValue(suite_, instanceID_, id); }
    std::u16string ReadArrayText(const char* id) const { return GetArrayText(suite_, instanceID_, id); }

    void SetInteger(const char* id, std::int32_t value) const;
    void SetTime(const char* id, std::int64_t value) const;
    // The inline text, cut to what the record holds with its NUL.
    void SetInlineText(const char* id, const std::u16string& text) const;
    void SetDisabled(const char* id, bool disabled) const;
    void SetHidden(const char* id, bool hidden) const;
    void SetArrayText(const char* id, const std::u16string& text) const {
        Vekta::SetArrayText(text, suite_, instanceID_, id);
    }
    void ClearArray(const char* id) const { ClearArrayValue(suite_, instanceID_, id); }
    void SetName(const char* id, const std::u16string& text) const;
    void SetDescription(const char* id, const std::u16string& text) const;
    void ClearChoices(const char* id) const;
    void AddChoice(const char* id, std::int32_t value, const std::u16string& label) const;

private:
    // Reads the record, lets `change` edit it and writes it back to the same parameter; nothing
    // when it cannot be read.
    template <class Change>
    void Update(const char* id, Change&& change) const;
    // As Update, for a change of a flag only: a text longer than the record's inline field comes
    // back cut there, and a host may store the record's text as given, so the whole text is
    // written again.
    template <class Change>
    void UpdateFlag(const char* id, Change&& change) const;
    bool IsTextParameter(const char* id) const;

    const LuSDKExportParamSuite* suite_;
    std::uint32_t instanceID_;
    std::span<const ParamDescriptor> table_;
};

}  // namespace Vekta
