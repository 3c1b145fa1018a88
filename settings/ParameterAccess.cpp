#include "settings/ParameterAccess.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "settings/HostRecordAccess.h"
#include "talcore/config/Localizer.h"

namespace Vekta {
namespace {

bool IsTerminated(const char (&field)[kParamIdentifierSize]) {
    return std::memchr(field, '\0', sizeof field) != nullptr;
}

constexpr int kArrayReadAttempts = 6;
// After a full buffer, the next one is at least this many units, and then four times as large.
constexpr std::int32_t kArrayRegrowUnits = 1024;
// Larger values are not texts this plug-in ever stores; reading them would only cost memory.
constexpr std::int32_t kMaxArrayTextBytes = 1 << 28;

// Reads an array value of about `storedBytes` bytes as UTF-16 units. The size and the bytes come
// from two calls, and a sign-in completion may store a new value from another thread in between.
// The buffer is always one unit larger than the value expected, so a value that fits it with room
// to spare is whole (the suite copies it in one go), and an odd size never lets the suite write
// past it. A value that fills it may have grown: it is read again into a buffer at least four times
// as large (and as large as the size now reported), so that two values taking turns cannot keep it
// out. Null when the suite fails or the value kept changing: never a value cut short or mixed from
// two. (A suite that fills every byte offered without saying how many it copied looks full each
// time; its value is taken at the size it keeps reporting.)
std::optional<std::u16string> ReadArrayUnits(const LuSDKExportParamSuite* suite, std::uint32_t instanceID,
                                             const char* parameterID, std::int32_t storedBytes) {
    std::int32_t units = 0;
    bool sizeChanged = false;
    std::vector<char16_t> buffer;
    std::int32_t copied = 0;
    for (int attempt = 1; attempt <= kArrayReadAttempts; ++attempt) {
        if (storedBytes < 2 || storedBytes > kMaxArrayTextBytes) return std::u16string();
        // A full buffer says the value was larger when it was copied, whatever the size says now:
        // values taking turns may report the same size at every query.
        const std::int32_t regrown =
            attempt == 1 ? 0 : std::min(std::max(units * 4, kArrayRegrowUnits), kMaxArrayTextBytes / 2);
        units = std::max({units, storedBytes / 2, regrown});
        buffer.assign(static_cast<std::size_t>(units) + 1, u'\0');
        const std::int32_t offered = (units + 1) * 2;
        std::int32_t size = offered;
        if (suite->GetArrayValue(instanceID, kParamGroupIndex, parameterID, &size, buffer.data()) != 0)
            return std::nullopt;
        copied = std::clamp(size, 0, offered);
        if (copied < offered) return std::u16string(buffer.data(), static_cast<std::size_t>(copied / 2));
        const std::int32_t expected = storedBytes;
        if (suite->GetArrayValue(instanceID, kParamGroupIndex, parameterID, &storedBytes, nullptr) != 0)
            return std::nullopt;
        sizeChanged = sizeChanged || storedBytes != expected;
    }
    // A suite that fills whatever it is offered and never says how much it copied, while the size
    // stays put: the value is the size's worth of what it gave.
    if (!sizeChanged) {
        return std::u16string(buffer.data(), static_cast<std::size_t>(std::min(copied, storedBytes) / 2));
    }
    return std::nullopt;
}

void DropTrailingNul(std::u16string& text) {
    if (!text.empty() && text.back() == u'\0') text.pop_back();
}

}  // namespace

const LuSDKExportParamSuite* AcquireExportParamSuite(const HostInstanceRecord* record) noexcept {
    if (record == nullptr) return nullptr;
    const BasicSuiteAccessor accessor = ReadBasicSuiteAccessor(record);
    if (accessor == nullptr) return nullptr;
    const BasicSuite* basic = accessor();
    if (basic == nullptr || basic->AcquireSuite == nullptr) return nullptr;
    const void* suite = nullptr;
    if (basic->AcquireSuite(kExportParamSuiteName, kExportParamSuiteVersion, &suite) != kSuiteSuccess) return nullptr;
    return static_cast<const LuSDKExportParamSuite*>(suite);
}

void AddParameterFromDescriptor(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, std::size_t position,
                                std::span<const ParamDescriptor> table) {
    if (suite == nullptr || suite->AddParameter == nullptr || position >= table.size()) return;
    const ParamDescriptor& descriptor = table[position];
    if (!IsTerminated(descriptor.identifier) || !IsTerminated(descriptor.parentGroupID)) return;

    ParamInfo info;
    std::memset(&info, 0, sizeof info);
    info.structVersion = kParamStructVersion;
    info.value.structVersion = kParamStructVersion;
    std::memcpy(info.identifier, descriptor.identifier, std::strlen(descriptor.identifier) + 1);
    info.type = descriptor.type;
    info.flags = descriptor.flags;
    info.value.disabled = descriptor.disabled;
    info.value.hidden = descriptor.hidden;
    switch (descriptor.type) {
        case kParamTypeCheckbox:
            info.value.value.intValue = descriptor.defaultValue.intValue;
            break;
        case kParamTypeInteger:
            info.value.minimum.intValue = descriptor.minimum.intValue;
            info.value.maximum.intValue = descriptor.maximum.intValue;
            info.value.value.intValue = descriptor.defaultValue.intValue;
            break;
        case kParamTypeFloat:
            info.value.minimum.floatValue = descriptor.minimum.floatValue;
            info.value.maximum.floatValue = descriptor.maximum.floatValue;
            info.value.value.floatValue = descriptor.defaultValue.floatValue;
            break;
        case kParamTypeTime:
        case kParamTypeHiddenInt64:
            info.value.minimum.timeValue = descriptor.minimum.timeValue;
            info.value.maximum.timeValue = descriptor.maximum.timeValue;
            info.value.value.timeValue = descriptor.defaultValue.timeValue;
            break;
        default:
            break;
    }
    suite->AddParameter(instanceID, kParamGroupIndex, descriptor.parentGroupID, &info);
}

void ApplyParameterTexts(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, std::size_t position,
                         std::span<const ParamDescriptor> table) {
    if (suite == nullptr || suite->SetName == nullptr || suite->SetDescription == nullptr || position >= table.size())
        return;
    const ParamDescriptor& descriptor = table[position];
    if (!IsTerminated(descriptor.identifier)) return;
    const auto& localizer = talcore::config::Localizer::Get();
    const std::u16string label = descriptor.label != nullptr ? localizer.Localize(descriptor.label) : std::u16string();
    const std::u16string tooltip =
        descriptor.tooltip != nullptr ? localizer.Localize(descriptor.tooltip) : std::u16string();
    suite->SetName(instanceID, kParamGroupIndex, descriptor.identifier, label.c_str());
    suite->SetDescription(instanceID, kParamGroupIndex, descriptor.identifier, tooltip.c_str());
}

std::u16string GetArrayText(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, const char* parameterID) {
    if (suite == nullptr || suite->GetArrayValue == nullptr || parameterID == nullptr) return {};
    std::int32_t storedBytes = 0;
    if (suite->GetArrayValue(instanceID, kParamGroupIndex, parameterID, &storedBytes, nullptr) != 0) return {};
    if (storedBytes < 1) return {};
    std::u16string text = ReadArrayUnits(suite, instanceID, parameterID, storedBytes).value_or(std::u16string());
    DropTrailingNul(text);
    return text;
}

void SetArrayText(const std::u16string& text, const LuSDKExportParamSuite* suite, std::uint32_t instanceID,
                  const char* parameterID) {
    if (suite == nullptr || suite->SetArrayValue == nullptr || parameterID == nullptr) return;
    // A text whose byte size does not fit the suite's 32-bit size is not stored at all rather than cut.
    constexpr std::size_t kMaxUnits = (std::numeric_limits<std::int32_t>::max() - 2) / 2;
    if (text.size() > kMaxUnits) return;
    const auto size = text.empty() ? 0 : static_cast<std::int32_t>(2 * text.size() + 2);
    // c_str() ends in the NUL that the stored form carries.
    suite->SetArrayValue(instanceID, kParamGroupIndex, parameterID, size, text.c_str());
}

void ClearArrayValue(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, const char* parameterID) {
    if (suite == nullptr || suite->SetArrayValue == nullptr || parameterID == nullptr) return;
    const char16_t empty[1] = {u'\0'};
    suite->SetArrayValue(instanceID, kParamGroupIndex, parameterID, 0, empty);
}

std::u16string GetTextValue(const LuSDKExportParamSuite* suite, std::uint32_t instanceID, const char* parameterID) {
    if (suite == nullptr || suite->GetValue == nullptr || parameterID == nullptr) return {};
    ParamValue record;
    std::memset(&record, 0, sizeof record);
    if (suite->GetValue(instanceID, kParamGroupIndex, parameterID, &record) < 0) return {};

    // The inline text need not be terminated: it then fills the whole field and no more.
    std::size_t inlineUnits = 0;
    while (inlineUnits < kParamInlineTextUnits && record.textValue[inlineUnits] != u'\0') ++inlineUnits;
    std::u16string text(record.textValue, inlineUnits);

    if (record.arraySize > 0 && suite->GetArrayValue != nullptr) {
        // A text longer than the record holds: its whole form replaces the cut inline copy. If the
        // copy fails, the inline part is still better than nothing.
        if (auto whole = ReadArrayUnits(suite, instanceID, parameterID, record.arraySize)) text = std::move(*whole);
    }
    DropTrailingNul(text);
    return text;
}

bool IsGroupEnabled(const HostInstanceRecord* record, const char* groupID) {
    return InstanceParameters::ForRecord(record).IsEnabled(groupID);
}

InstanceParameters InstanceParameters::ForRecord(const HostInstanceRecord* record,
                                                 std::span<const ParamDescriptor> table) noexcept {
    if (record == nullptr) return InstanceParameters(nullptr, 0, table);
    return InstanceParameters(AcquireExportParamSuite(record), ReadInstanceID(record), table);
}

ParamValue InstanceParameters::Read(const char* id) const {
    ParamValue value;
    std::memset(&value, 0, sizeof value);
    if (suite_ == nullptr || suite_->GetValue == nullptr || id == nullptr) return value;
    if (suite_->GetValue(instanceID_, kParamGroupIndex, id, &value) < 0) std::memset(&value, 0, sizeof value);
    return value;
}

bool InstanceParameters::IsEnabled(const char* id) const {
    if (suite_ == nullptr || suite_->GetValue == nullptr || id == nullptr) return false;
    ParamValue value;
    std::memset(&value, 0, sizeof value);
    return suite_->GetValue(instanceID_, kParamGroupIndex, id, &value) == kSuiteSuccess && value.disabled == 0;
}

template <class Change>
void InstanceParameters::Update(const char* id, Change&& change) const {
    if (suite_ == nullptr || suite_->GetValue == nullptr || suite_->ChangeValue == nullptr || id == nullptr) return;
    ParamValue value;
    std::memset(&value, 0, sizeof value);
    if (suite_->GetValue(instanceID_, kParamGroupIndex, id, &value) < 0) return;
    change(value);
    suite_->ChangeValue(instanceID_, kParamGroupIndex, id, &value);
}

template <class Change>
void InstanceParameters::UpdateFlag(const char* id, Change&& change) const {
    std::optional<std::u16string> wholeText;
    Update(id, [&](ParamValue& value) {
        if (value.arraySize > 0 && IsTextParameter(id)) wholeText = ReadText(id);
        change(value);
    });
    if (wholeText) SetArrayText(id, *wholeText);
}

bool InstanceParameters::IsTextParameter(const char* id) const {
    return std::any_of(table_.begin(), table_.end(), [id](const ParamDescriptor& descriptor) {
        return descriptor.type == kParamTypeText && std::strcmp(id, descriptor.identifier) == 0;
    });
}

void InstanceParameters::SetInteger(const char* id, std::int32_t v) const {
    Update(id, [v](ParamValue& value) { value.value.intValue = v; });
}

void InstanceParameters::SetTime(const char* id, std::int64_t v) const {
    Update(id, [v](ParamValue& value) { value.value.timeValue = v; });
}

void InstanceParameters::SetInlineText(const char* id, const std::u16string& text) const {
    Update(id, [&text](ParamValue& value) {
        const std::size_t units = std::min<std::size_t>(text.size(), kParamInlineTextUnits - 1);
        std::memset(value.textValue, 0, sizeof value.textValue);
        std::memcpy(value.textValue, text.data(), units * sizeof(char16_t));
    });
}

void InstanceParameters::SetDisabled(const char* id, bool disabled) const {
    UpdateFlag(id, [disabled](ParamValue& value) { value.disabled = disabled ? 1 : 0; });
}

void InstanceParameters::SetHidden(const char* id, bool hidden) const {
    UpdateFlag(id, [hidden](ParamValue& value) { value.hidden = hidden ? 1 : 0; });
}

void InstanceParameters::SetName(const char* id, const std::u16string& text) const {
    if (suite_ == nullptr || suite_->SetName == nullptr || id == nullptr) return;
    suite_->SetName(instanceID_, kParamGroupIndex, id, text.c_str());
}

void InstanceParameters::SetDescription(const char* id, const std::u16string& text) const {
    if (suite_ == nullptr || suite_->SetDescription == nullptr || id == nullptr) return;
    suite_->SetDescription(instanceID_, kParamGroupIndex, id, text.c_str());
}

void InstanceParameters::ClearChoices(const char* id) const {
    if (suite_ == nullptr || suite_->ClearChoices == nullptr || id == nullptr) return;
    suite_->ClearChoices(instanceID_, kParamGroupIndex, id);
}

void InstanceParameters::AddChoice(const char* id, std::int32_t v, const std::u16string& label) const {
    if (suite_ == nullptr || suite_->AddChoice == nullptr || id == nullptr) return;
    ParamValueUnion value;
    std::memset(&value, 0, sizeof value);
    value.intValue = v;
    suite_->AddChoice(instanceID_, kParamGroupIndex, id, value, label.c_str());
}

}  // namespace Vekta
