// Reads and writes of the host record's unaligned fields.
#pragma once

#include <cstdint>
#include <cstring>

#include "PostProcessSDK.h"

namespace Vekta {

inline std::uint64_t ReadInstanceKey(const HostInstanceRecord* record) {
    std::uint64_t key = 0;
    std::memcpy(&key, reinterpret_cast<const std::uint8_t*>(record) + offsetof(HostInstanceRecord, pluginPrivate),
                sizeof key);
    return key;
}

inline void WriteInstanceKey(HostInstanceRecord* record, std::uint64_t key) {
    std::memcpy(reinterpret_cast<std::uint8_t*>(record) + offsetof(HostInstanceRecord, pluginPrivate), &key,
                sizeof key);
}

inline std::uint32_t ReadInstanceID(const HostInstanceRecord* record) {
    std::uint32_t id = 0;
    std::memcpy(&id, reinterpret_cast<const std::uint8_t*>(record) + offsetof(HostInstanceRecord, instanceID),
                sizeof id);
    return id;
}

}  // namespace Vekta
