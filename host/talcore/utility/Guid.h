#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "talcore/TalExport.h"

namespace talcore::utility {

// A 128-bit identifier. A default-made Guid is all zero; CreateUnique draws one from the system's
// cryptographically secure generator (version 4 layout).
class TAL_API Guid {
public:
    Guid() = default;
    static Guid CreateUnique();

    // "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower-case hex.
    std::string AsUTF8String() const;
    bool IsNull() const noexcept;

    const std::array<std::uint8_t, 16>& Bytes() const noexcept { return bytes_; }
    friend bool operator==(const Guid& a, const Guid& b) noexcept { return a.bytes_ == b.bytes_; }
    friend bool operator<(const Guid& a, const Guid& b) noexcept { return a.bytes_ < b.bytes_; }

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace talcore::utility

template <>
struct std::hash<talcore::utility::Guid> {
    std::size_t operator()(const talcore::utility::Guid& g) const noexcept {
        std::size_t h = 1469598103934665603ull;
        for (auto b : g.Bytes()) h = (h ^ b) * 1099511628211ull;
        return h;
    }
};
