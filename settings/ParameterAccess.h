// Free functions over the host's export-parameter suite, used instead of calling the suite
// directly. They turn the suite's fixed records into UTF-16 strings, booleans and descriptors.
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

}  // namespace Vekta
