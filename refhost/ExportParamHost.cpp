#include "refhost/ExportParamHost.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

namespace vekta::host {
namespace {

constexpr std::size_t kInlineUnits = kParamInlineTextUnits;

bool IsIdentifierChar(char c) { return c > 0x20 && c < 0x7F; }

bool IsValidIdentifier(std::string_view id) {
    return !id.empty() && id.size() < kParamIdentifierSize && std::all_of(id.begin(), id.end(), IsIdentifierChar);
}

// A NUL-terminated identifier from the plug-in, read no further than an identifier may reach.
std::optional<std::string_view> ReadIdentifier(const char* id) {
    if (id == nullptr) return std::nullopt;
    const std::size_t length = ::strnlen(id, kParamIdentifierSize);
    const std::string_view view(id, length);
    if (!IsValidIdentifier(view)) return std::nullopt;
    return view;
}

// A NUL-terminated UTF-16 text from the plug-in; null counts as empty, an unterminated or
// oversized one is refused.
std::optional<std::u16string> ReadText(const VektaUTF16Char* text) {
    if (text == nullptr) return std::u16string();
    std::size_t length = 0;
    while (text[length] != u'\0') {
        if (++length > kMaxTextUnits) return std::nullopt;
    }
    return std::u16string(text, length);
}

// The inline text of a value record: up to its first NUL, or the whole field when it has none.
std::u16string InlineText(const ParamValue& record) {
    std::size_t length = 0;
    while (length < kInlineUnits && record.textValue[length] != u'\0') ++length;
    return std::u16string(record.textValue, length);
}

bool FitsInline(const std::u16string& text) { return text.size() + 1 <= kInlineUnits; }

std::int32_t WholeTextBytes(const std::u16string& text) {
    return text.empty() ? 0 : static_cast<std::int32_t>((text.size() + 1) * 2);
}

bool HasNumericValue(std::int32_t type) { return type >= kParamTypeCheckbox && type <= kParamTypeHiddenInt64; }

bool TypeAccepts(std::int32_t type, const ParameterValue& value) {
    switch (type) {
        case kParamTypeCheckbox:
        case kParamTypeInteger:
            return std::holds_alternative<std::int32_t>(value);
        case kParamTypeFloat:
            return std::holds_alternative<double>(value);
        case kParamTypeTime:
        case kParamTypeHiddenInt64:
            return std::holds_alternative<std::int64_t>(value);
        case kParamTypeText:
            return std::holds_alternative<std::u16string>(value);
        case kParamTypeByteArray:
            return std::holds_alternative<std::vector<std::uint8_t>>(value);
        default:
            return false;
    }
}

void StoreValue(EntrySnapshot& entry, const ParameterValue& value) {
    if (const auto* i = std::get_if<std::int32_t>(&value))
        entry.value.intValue = *i;
    else if (const auto* d = std::get_if<double>(&value))
        entry.value.floatValue = *d;
    else if (const auto* t = std::get_if<std::int64_t>(&value))
        entry.value.timeValue = *t;
    else if (const auto* s = std::get_if<std::u16string>(&value))
        entry.text = s->substr(0, s->find(u'\0'));
    else if (const auto* b = std::get_if<std::vector<std::uint8_t>>(&value))
        entry.bytes = *b;
}

std::optional<ParameterValue> ValueOf(const EntrySnapshot& entry) {
    switch (entry.type) {
        case kParamTypeCheckbox:
        case kParamTypeInteger:
            return ParameterValue(entry.value.intValue);
        case kParamTypeFloat:
            return ParameterValue(entry.value.floatValue);
        case kParamTypeTime:
        case kParamTypeHiddenInt64:
            return ParameterValue(entry.value.timeValue);
        case kParamTypeText:
            return ParameterValue(entry.text);
        case kParamTypeByteArray:
            return ParameterValue(entry.bytes);
        default:
            return std::nullopt;
    }
}

}  // namespace

std::string_view ParamTypeName(std::int32_t type) {
    switch (type) {
        case kParamTypeCheckbox:
            return "checkbox";
        case kParamTypeInteger:
            return "integer";
        case kParamTypeFloat:
            return "float";
        case kParamTypeTime:
            return "time";
        case kParamTypeHiddenInt64:
            return "int64";
        case kParamTypeText:
            return "text";
        case kParamTypeButton:
            return "button";
        case kParamTypeByteArray:
            return "bytes";
        default:
            return "unknown";
    }
}

EntrySnapshot* ExportParamHost::Instance::Find(std::string_view id) {
    const auto it = index.find(std::string(id));
    return it == index.end() ? nullptr : &entries[it->second];
}

const EntrySnapshot* ExportParamHost::Instance::Find(std::string_view id) const {
    const auto it = index.find(std::string(id));
    return it == index.end() ? nullptr : &entries[it->second];
}

ExportParamHost& ExportParamHost::Get() {
    static ExportParamHost* host = new ExportParamHost;
    return *host;
}

ExportParamHost::Instance* ExportParamHost::FindInstance(std::uint32_t instanceID) {
    const auto it = instances_.find(instanceID);
    return it == instances_.end() ? nullptr : &it->second;
}

const ExportParamHost::Instance* ExportParamHost::FindInstance(std::uint32_t instanceID) const {
    const auto it = instances_.find(instanceID);
    return it == instances_.end() ? nullptr : &it->second;
}

std::int32_t ExportParamHost::Refuse(std::int32_t code, std::string_view operation, std::string_view id,
                                     std::string_view reason) {
    lastRefusal_.assign(operation).append(" \"").append(id).append("\": ").append(reason);
    return code;
}

std::string ExportParamHost::LastRefusal() const {
    std::lock_guard lock(mutex_);
    return lastRefusal_;
}

void ExportParamHost::SetLongTextRecords(LongTextRecords rule) {
    std::lock_guard lock(mutex_);
    longTextRecords_ = rule;
}

void ExportParamHost::ResetInstance(std::uint32_t instanceID, std::string_view hostGroupID) {
    Instance instance;
    if (IsValidIdentifier(hostGroupID)) {
        EntrySnapshot group;
        group.kind = EntryKind::Group;
        group.id = std::string(hostGroupID);
        instance.index.emplace(group.id, 0);
        instance.entries.push_back(std::move(group));
    }
    std::lock_guard lock(mutex_);
    instances_[instanceID] = std::move(instance);
}

void ExportParamHost::RemoveInstance(std::uint32_t instanceID) {
    std::lock_guard lock(mutex_);
    instances_.erase(instanceID);
}

bool ExportParamHost::HasInstance(std::uint32_t instanceID) const {
    std::lock_guard lock(mutex_);
    return FindInstance(instanceID) != nullptr;
}

std::optional<std::vector<EntrySnapshot>> ExportParamHost::Snapshot(std::uint32_t instanceID) const {
    std::lock_guard lock(mutex_);
    const Instance* instance = FindInstance(instanceID);
    if (instance == nullptr) return std::nullopt;
    return instance->entries;
}

std::optional<EntrySnapshot> ExportParamHost::Find(std::uint32_t instanceID, std::string_view id) const {
    std::lock_guard lock(mutex_);
    const Instance* instance = FindInstance(instanceID);
    if (instance == nullptr) return std::nullopt;
    const EntrySnapshot* entry = instance->Find(id);
    if (entry == nullptr) return std::nullopt;
    return *entry;
}

std::int32_t ExportParamHost::SetValue(std::uint32_t instanceID, std::string_view id, const ParameterValue& value) {
    std::lock_guard lock(mutex_);
    Instance* instance = FindInstance(instanceID);
    if (instance == nullptr) return Refuse(kSuiteUnknownInstance, "SetValue", id, "unknown instance");
    EntrySnapshot* entry = instance->Find(id);
    if (entry == nullptr || entry->kind != EntryKind::Parameter)
        return Refuse(kSuiteUnknownID, "SetValue", id, "no such parameter");
    if (!TypeAccepts(entry->type, value)) return Refuse(kSuiteWrongType, "SetValue", id, "value does not fit its type");
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value);
        bytes != nullptr && bytes->size() > static_cast<std::size_t>(kMaxArrayBytes))
        return Refuse(kSuiteBadArgument, "SetValue", id, "byte array too large");
    if (const auto* text = std::get_if<std::u16string>(&value); text != nullptr && text->size() > kMaxTextUnits)
        return Refuse(kSuiteBadArgument, "SetValue", id, "text too long");
    StoreValue(*entry, value);
    return kSuiteOK;
}

std::int32_t ExportParamHost::SetDisabled(std::uint32_t instanceID, std::string_view id, bool disabled) {
    std::lock_guard lock(mutex_);
    Instance* instance = FindInstance(instanceID);
    if (instance == nullptr) return Refuse(kSuiteUnknownInstance, "SetDisabled", id, "unknown instance");
    EntrySnapshot* entry = instance->Find(id);
    if (entry == nullptr) return Refuse(kSuiteUnknownID, "SetDisabled", id, "no such group or parameter");
    entry->disabled = disabled;
    return kSuiteOK;
}

std::int32_t ExportParamHost::SetHidden(std::uint32_t instanceID, std::string_view id, bool hidden) {
    std::lock_guard lock(mutex_);
    Instance* instance = FindInstance(instanceID);
    if (instance == nullptr) return Refuse(kSuiteUnknownInstance, "SetHidden", id, "unknown instance");
    EntrySnapshot* entry = instance->Find(id);
    if (entry == nullptr) return Refuse(kSuiteUnknownID, "SetHidden", id, "no such group or parameter");
    entry->hidden = hidden;
    return kSuiteOK;
}

std::optional<InstanceSettings> ExportParamHost::ReadSettings(std::uint32_t instanceID) const {
    std::lock_guard lock(mutex_);
    const Instance* instance = FindInstance(instanceID);
    if (instance == nullptr) return std::nullopt;
    InstanceSettings settings;
    for (const EntrySnapshot& entry : instance->entries) {
        if (entry.kind == EntryKind::Group) {
            settings.groups.push_back({entry.id, entry.disabled});
        } else if (auto value = ValueOf(entry)) {
            settings.parameters.push_back({entry.id, entry.type, std::move(*value)});
        }
    }
    return settings;
}

ApplyResult ExportParamHost::ApplySettings(std::uint32_t instanceID, const InstanceSettings& settings) {
    ApplyResult result;
    std::lock_guard lock(mutex_);
    Instance* instance = FindInstance(instanceID);
    if (instance == nullptr) {
        result.error = "unknown instance " + std::to_string(instanceID);
        return result;
    }
    // Check everything before changing anything.
    std::vector<std::pair<EntrySnapshot*, const GroupSetting*>> groups;
    std::vector<std::pair<EntrySnapshot*, const ParameterSetting*>> parameters;
    for (const GroupSetting& setting : settings.groups) {
        EntrySnapshot* entry = instance->Find(setting.id);
        if (entry == nullptr) {
            result.ignoredIDs.push_back(setting.id);
        } else if (entry->kind != EntryKind::Group) {
            result.error = "\"" + setting.id + "\" is a parameter here, not a group";
            result.failedID = setting.id;
            return result;
        } else {
            groups.emplace_back(entry, &setting);
        }
    }
    for (const ParameterSetting& setting : settings.parameters) {
        EntrySnapshot* entry = instance->Find(setting.id);
        if (entry == nullptr) {
            result.ignoredIDs.push_back(setting.id);
        } else if (entry->kind != EntryKind::Parameter) {
            result.error = "\"" + setting.id + "\" is a group here, not a parameter";
            result.failedID = setting.id;
            return result;
        } else if (entry->type != setting.type || !TypeAccepts(entry->type, setting.value)) {
            result.error = "\"" + setting.id + "\" is of type " + std::string(ParamTypeName(entry->type)) +
                           " here, not " + std::string(ParamTypeName(setting.type));
            result.failedID = setting.id;
            return result;
        } else {
            parameters.emplace_back(entry, &setting);
        }
    }
    for (const auto& [entry, setting] : groups) entry->disabled = setting->disabled;
    for (const auto& [entry, setting] : parameters) StoreValue(*entry, setting->value);
    result.ok = true;
    return result;
}

// The suite's C table. Every function catches everything: nothing may unwind into a plug-in.
struct ExportParamHost::Operations {
    static std::int32_t AddParameter(std::uint32_t instanceID, std::int32_t, const char* parentGroupID,
                                     const ParamInfo* info) noexcept {
        try {
            auto& host = Get();
            std::lock_guard lock(host.mutex_);
            Instance* instance = host.FindInstance(instanceID);
            if (instance == nullptr) return host.Refuse(kSuiteUnknownInstance, "AddParameter", "", "unknown instance");
            if (info == nullptr) return host.Refuse(kSuiteBadArgument, "AddParameter", "", "no parameter record");
            if (std::memchr(info->identifier, '\0', sizeof info->identifier) == nullptr)
                return host.Refuse(kSuiteBadArgument, "AddParameter", "", "identifier not terminated");
            const std::string_view id(info->identifier);
            if (!IsValidIdentifier(id)) return host.Refuse(kSuiteBadArgument, "AddParameter", id, "bad identifier");
            if (info->structVersion != kParamStructVersion || info->value.structVersion != kParamStructVersion)
                return host.Refuse(kSuiteBadArgument, "AddParameter", id, "record version is not 1");
            if (info->type < kParamTypeCheckbox || info->type > kParamTypeByteArray)
                return host.Refuse(kSuiteBadArgument, "AddParameter", id, "unknown type code");
            const auto parent = ReadIdentifier(parentGroupID);
            if (!parent) return host.Refuse(kSuiteBadArgument, "AddParameter", id, "bad parent group identifier");
            const EntrySnapshot* parentEntry = instance->Find(*parent);
            if (parentEntry == nullptr || parentEntry->kind != EntryKind::Group)
                return host.Refuse(kSuiteUnknownID, "AddParameter", id, "parent group does not exist");
            if (instance->Find(id) != nullptr)
                return host.Refuse(kSuiteDuplicateID, "AddParameter", id, "identifier already in use");

            EntrySnapshot entry;
            entry.kind = EntryKind::Parameter;
            entry.id = std::string(id);
            entry.parentID = std::string(*parent);
            entry.type = info->type;
            entry.flags = info->flags;
            if (HasNumericValue(info->type)) {
                entry.minimum = info->value.minimum;
                entry.maximum = info->value.maximum;
                entry.value = info->value.value;
            }
            if (info->type == kParamTypeText) entry.text = InlineText(info->value);
            entry.disabled = info->value.disabled != 0;
            entry.hidden = info->value.hidden != 0;
            instance->index.emplace(entry.id, instance->entries.size());
            instance->entries.push_back(std::move(entry));
            return kSuiteOK;
        } catch (...) {
            return kSuiteInternalError;
        }
    }

    static std::int32_t AddGroup(std::uint32_t instanceID, std::int32_t, const char* parentGroupID, const char* groupID,
                                 const VektaUTF16Char* title, std::int32_t flags1, std::int32_t flags2,
                                 std::int32_t flags3) noexcept {
        try {
            auto& host = Get();
            std::lock_guard lock(host.mutex_);
            Instance* instance = host.FindInstance(instanceID);
            if (instance == nullptr) return host.Refuse(kSuiteUnknownInstance, "AddGroup", "", "unknown instance");
            const auto id = ReadIdentifier(groupID);
            if (!id) return host.Refuse(kSuiteBadArgument, "AddGroup", "", "bad group identifier");
            const auto parent = ReadIdentifier(parentGroupID);
            if (!parent) return host.Refuse(kSuiteBadArgument, "AddGroup", *id, "bad parent group identifier");
            const EntrySnapshot* parentEntry = instance->Find(*parent);
            if (parentEntry == nullptr || parentEntry->kind != EntryKind::Group)
                return host.Refuse(kSuiteUnknownID, "AddGroup", *id, "parent group does not exist");
            if (instance->Find(*id) != nullptr)
                return host.Refuse(kSuiteDuplicateID, "AddGroup", *id, "identifier already in use");
            auto titleText = ReadText(title);
            if (!titleText) return host.Refuse(kSuiteBadArgument, "AddGroup", *id, "title too long");

            EntrySnapshot entry;
            entry.kind = EntryKind::Group;
            entry.id = std::string(*id);
            entry.parentID = std::string(*parent);
            entry.name = std::move(*titleText);
            entry.groupFlags = {flags1, flags2, flags3};
            instance->index.emplace(entry.id, instance->entries.size());
            instance->entries.push_back(std::move(entry));
            return kSuiteOK;
        } catch (...) {
            return kSuiteInternalError;
        }
    }

    static std::int32_t ChangeValue(std::uint32_t instanceID, std::int32_t, const char* parameterID,
                                    const ParamValue* value) noexcept {
        try {
            auto& host = Get();
            std::lock_guard lock(host.mutex_);
            EntrySnapshot* entry = nullptr;
            if (const auto refused = host.Lookup(instanceID, parameterID, "ChangeValue", entry)) return refused;
            if (value == nullptr) return host.Refuse(kSuiteBadArgument, "ChangeValue", entry->id, "no value record");
            if (value->structVersion != kParamStructVersion)
                return host.Refuse(kSuiteBadArgument, "ChangeValue", entry->id, "record version is not 1");
            if (entry->kind == EntryKind::Parameter) {
                if (HasNumericValue(entry->type)) {
                    entry->minimum = value->minimum;
                    entry->maximum = value->maximum;
                    entry->value = value->value;
                } else if (entry->type == kParamTypeText) {
                    std::u16string text = InlineText(*value);
                    // The record of a GetValue that had to cut a long text still holds that cut;
                    // writing it back must not cut the stored text.
                    const bool unchangedCut = host.longTextRecords_ == LongTextRecords::KeptWhenUnchanged &&
                                              !FitsInline(entry->text) &&
                                              value->arraySize == WholeTextBytes(entry->text) &&
                                              text == std::u16string_view(entry->text).substr(0, kInlineUnits - 1);
                    if (!unchangedCut) entry->text = std::move(text);
                }
            }
            entry->disabled = value->disabled != 0;
            entry->hidden = value->hidden != 0;
            return kSuiteOK;
        } catch (...) {
            return kSuiteInternalError;
        }
    }

    static std::int32_t GetValue(std::uint32_t instanceID, std::int32_t, const char* parameterID,
                                 ParamValue* value) noexcept {
        try {
            auto& host = Get();
            std::lock_guard lock(host.mutex_);
            EntrySnapshot* entry = nullptr;
            if (const auto refused = host.Lookup(instanceID, parameterID, "GetValue", entry)) return refused;
            if (value == nullptr) return host.Refuse(kSuiteBadArgument, "GetValue", entry->id, "no value record");
            std::memset(value, 0, sizeof *value);
            value->structVersion = kParamStructVersion;
            value->disabled = entry->disabled ? 1 : 0;
            value->hidden = entry->hidden ? 1 : 0;
            if (entry->kind == EntryKind::Group) return kSuiteOK;
            if (HasNumericValue(entry->type)) {
                value->minimum = entry->minimum;
                value->maximum = entry->maximum;
                value->value = entry->value;
            } else if (entry->type == kParamTypeText) {
                const std::size_t units = std::min(entry->text.size(), kInlineUnits - 1);
                std::memcpy(value->textValue, entry->text.data(), units * sizeof(char16_t));
                value->textValue[units] = u'\0';
                if (!FitsInline(entry->text)) value->arraySize = WholeTextBytes(entry->text);
            } else if (entry->type == kParamTypeByteArray) {
                value->arraySize = static_cast<std::int32_t>(entry->bytes.size());
            }
            return kSuiteOK;
        } catch (...) {
            return kSuiteInternalError;
        }
    }

    static std::int32_t SetName(std::uint32_t instanceID, std::int32_t, const char* id,
                                const VektaUTF16Char* text) noexcept {
        try {
            auto& host = Get();
            std::lock_guard lock(host.mutex_);
            EntrySnapshot* entry = nullptr;
            if (const auto refused = host.Lookup(instanceID, id, "SetName", entry)) return refused;
            auto name = ReadText(text);
            if (!name) return host.Refuse(kSuiteBadArgument, "SetName", entry->id, "text too long");
            entry->name = std::move(*name);
            return kSuiteOK;
        } catch (...) {
            return kSuiteInternalError;
        }
    }

    static std::int32_t AddChoice(std::uint32_t instanceID, std::int32_t, const char* parameterID,
                                  ParamValueUnion choiceValue, const VektaUTF16Char* label) noexcept {
        try {
            auto& host = Get();
            std::lock_guard lock(host.mutex_);
            EntrySnapshot* entry = nullptr;
            if (const auto refused = host.Lookup(instanceID, parameterID, "AddChoice", entry)) return refused;
            if (entry->kind != EntryKind::Parameter || entry->type != kParamTypeInteger)
                return host.Refuse(kSuiteWrongType, "AddChoice", entry->id, "not an integer parameter");
            auto labelText = ReadText(label);
            if (!labelText) return host.Refuse(kSuiteBadArgument, "AddChoice", entry->id, "label too long");
            entry->choices.push_back({choiceValue, std::move(*labelText)});
            return kSuiteOK;
        } catch (...) {
            return kSuiteInternalError;
        }
    }

    static std::int32_t ClearChoices(std::uint32_t instanceID, std::int32_t, const char* parameterID) noexcept {
        try {
            auto& host = Get();
            std::lock_guard lock(host.mutex_);
            EntrySnapshot* entry = nullptr;
            if (const auto refused = host.Lookup(instanceID, parameterID, "ClearChoices", entry)) return refused;
            if (entry->kind != EntryKind::Parameter || entry->type != kParamTypeInteger)
                return host.Refuse(kSuiteWrongType, "ClearChoices", entry->id, "not an integer parameter");
            entry->choices.clear();
            return kSuiteOK;
        } catch (...) {
            return kSuiteInternalError;
        }
    }

    static std::int32_t GetArrayValue(std::uint32_t instanceID, std::int32_t, const char* parameterID,
                                      std::int32_t* size, void* buffer) noexcept {
        try {
            auto& host = Get();
            std::lock_guard lock(host.mutex_);
            EntrySnapshot* entry = nullptr;
            if (const auto refused = host.Lookup(instanceID, parameterID, "GetArrayValue", entry)) return refused;
            if (entry->kind != EntryKind::Parameter ||
                (entry->type != kParamTypeByteArray && entry->type != kParamTypeText))
                return host.Refuse(kSuiteWrongType, "GetArrayValue", entry->id, "neither byte array nor text");
            if (size == nullptr) return host.Refuse(kSuiteBadArgument, "GetArrayValue", entry->id, "no size");
            // A text's array form is its UTF-16 characters and one NUL.
            const void* stored = entry->type == kParamTypeText ? static_cast<const void*>(entry->text.c_str())
                                                               : static_cast<const void*>(entry->bytes.data());
            const std::int32_t storedSize = entry->type == kParamTypeText
                                                ? WholeTextBytes(entry->text)
                                                : static_cast<std::int32_t>(entry->bytes.size());
            if (buffer == nullptr) {
                *size = storedSize;
                return kSuiteOK;
            }
            if (*size < 0) return host.Refuse(kSuiteBadArgument, "GetArrayValue", entry->id, "negative size");
            const std::int32_t copied = std::min(*size, storedSize);
            if (copied > 0) std::memcpy(buffer, stored, static_cast<std::size_t>(copied));
            *size = copied;
            return kSuiteOK;
        } catch (...) {
            return kSuiteInternalError;
        }
    }

    static std::int32_t SetArrayValue(std::uint32_t instanceID, std::int32_t, const char* parameterID,
                                      std::int32_t size, const void* data) noexcept {
        try {
            auto& host = Get();
            std::lock_guard lock(host.mutex_);
            EntrySnapshot* entry = nullptr;
            if (const auto refused = host.Lookup(instanceID, parameterID, "SetArrayValue", entry)) return refused;
            if (entry->kind != EntryKind::Parameter ||
                (entry->type != kParamTypeByteArray && entry->type != kParamTypeText))
                return host.Refuse(kSuiteWrongType, "SetArrayValue", entry->id, "neither byte array nor text");
            if (size < 0) return host.Refuse(kSuiteBadArgument, "SetArrayValue", entry->id, "negative size");
            if (size > kMaxArrayBytes) return host.Refuse(kSuiteBadArgument, "SetArrayValue", entry->id, "too large");
            if (size > 0 && data == nullptr)
                return host.Refuse(kSuiteBadArgument, "SetArrayValue", entry->id, "no data");
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            if (entry->type == kParamTypeByteArray) {
                entry->bytes.assign(bytes, bytes + size);
                return kSuiteOK;
            }
            if (size % 2 != 0)
                return host.Refuse(kSuiteBadArgument, "SetArrayValue", entry->id, "odd size for a UTF-16 text");
            std::u16string text(static_cast<std::size_t>(size) / 2, u'\0');
            if (size > 0) std::memcpy(text.data(), bytes, static_cast<std::size_t>(size));
            text.resize(std::min(text.size(), text.find(u'\0')));  // up to its NUL, as a text is
            entry->text = std::move(text);
            return kSuiteOK;
        } catch (...) {
            return kSuiteInternalError;
        }
    }

    static std::int32_t SetDescription(std::uint32_t instanceID, std::int32_t, const char* parameterID,
                                       const VektaUTF16Char* text) noexcept {
        try {
            auto& host = Get();
            std::lock_guard lock(host.mutex_);
            EntrySnapshot* entry = nullptr;
            if (const auto refused = host.Lookup(instanceID, parameterID, "SetDescription", entry)) return refused;
            if (entry->kind != EntryKind::Parameter)
                return host.Refuse(kSuiteWrongType, "SetDescription", entry->id, "not a parameter");
            auto description = ReadText(text);
            if (!description) return host.Refuse(kSuiteBadArgument, "SetDescription", entry->id, "text too long");
            entry->description = std::move(*description);
            return kSuiteOK;
        } catch (...) {
            return kSuiteInternalError;
        }
    }
};

std::int32_t ExportParamHost::Lookup(std::uint32_t instanceID, const char* id, std::string_view operation,
                                     EntrySnapshot*& entry) {
    const auto identifier = ReadIdentifier(id);
    if (!identifier) return Refuse(kSuiteBadArgument, operation, "", "bad identifier");
    Instance* instance = FindInstance(instanceID);
    if (instance == nullptr) return Refuse(kSuiteUnknownInstance, operation, *identifier, "unknown instance");
    entry = instance->Find(*identifier);
    if (entry == nullptr) return Refuse(kSuiteUnknownID, operation, *identifier, "no such group or parameter");
    return kSuiteOK;
}

const LuSDKExportParamSuite* ExportParamHost::Suite() {
    static const LuSDKExportParamSuite suite = [] {
        LuSDKExportParamSuite table{};
        table.AddParameter = &Operations::AddParameter;
        table.AddGroup = &Operations::AddGroup;
        table.ChangeValue = &Operations::ChangeValue;
        table.GetValue = &Operations::GetValue;
        table.SetName = &Operations::SetName;
        table.AddChoice = &Operations::AddChoice;
        table.ClearChoices = &Operations::ClearChoices;
        table.GetArrayValue = &Operations::GetArrayValue;
        table.SetArrayValue = &Operations::SetArrayValue;
        table.SetDescription = &Operations::SetDescription;
        return table;
    }();
    return &suite;
}

}  // namespace vekta::host
