// The one way the plug-in reads and writes the host's instance record. Some fields sit unaligned in
// the packed record, so every access copies bytes at the field's offset instead of dereferencing a
// member; the group identifier is never read beyond its field, terminated or not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "PostProcessSDK.h"

namespace Vekta {

namespace detail {

template <class Field>
Field ReadRecordField(const HostInstanceRecord* record, std::size_t offset) {
    Field value{};
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

}  // namespace detail

inline std::uint64_t ReadInstanceKey(const HostInstanceRecord* record) {
    return detail::ReadRecordField<std::uint64_t>(record, offsetof(HostInstanceRecord, pluginPrivate));
}

inline void WriteInstanceKey(HostInstanceRecord* record, std::uint64_t key) {
    std::memcpy(reinterpret_cast<unsigned char*>(record) + offsetof(HostInstanceRecord, pluginPrivate), &key,
                sizeof key);
}

inline std::uint32_t ReadInstanceID(const HostInstanceRecord* record) {
    return detail::ReadRecordField<std::uint32_t>(record, offsetof(HostInstanceRecord, instanceID));
}

inline BasicSuiteAccessor ReadBasicSuiteAccessor(const HostInstanceRecord* record) {
    return detail::ReadRecordField<BasicSuiteAccessor>(record, offsetof(HostInstanceRecord, getBasicSuite));
}

inline std::string ReadParentGroupID(const HostInstanceRecord* record) {
    const char* field = reinterpret_cast<const char*>(record) + offsetof(HostInstanceRecord, parentGroupID);
    const void* end = std::memchr(field, '\0', kHostGroupIDSize);
    return std::string(field, end ? static_cast<const char*>(end) - field : std::size_t{kHostGroupIDSize});
}

}  // namespace Vekta
