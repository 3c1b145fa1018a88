#include "talcore/utility/Guid.h"

#include "talcore/crypto/SecureRandom.h"

namespace talcore::utility {

Guid Guid::CreateUnique() {
    Guid g;
    talcore::crypto::FillSecureRandom(g.bytes_.data(), g.bytes_.size());
    g.bytes_[6] = static_cast<std::uint8_t>((g.bytes_[6] & 0x0F) | 0x40);
    g.bytes_[8] = static_cast<std::uint8_t>((g.bytes_[8] & 0x3F) | 0x80);
    return g;
}

std::string Guid::AsUTF8String() const {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(kHex[bytes_[i] >> 4]);
        out.push_back(kHex[bytes_[i] & 0x0F]);
    }
    return out;
}

bool Guid::IsNull() const noexcept {
    for (auto b : bytes_)
        if (b != 0) return false;
    return true;
}

}  // namespace talcore::utility
