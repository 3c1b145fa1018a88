#include "talcore/utility/Guid.h"
#include <boost/algorithm/hex.hpp>

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
    std::string out;
    out.reserve(36);
    std::size_t start = 0;
    for (const std::size_t end : {4, 6, 8, 10, 16}) {
        if (start > 0) out.push_back('-');
        boost::algorithm::hex_lower(bytes_.begin() + start, bytes_.begin() + end, std::back_inserter(out));
        start = end;
    }
    return out;
}

bool Guid::IsNull() const noexcept {
    for (auto b : bytes_)
        if (b != 0) return false;
    return true;
}

}  // namespace talcore::utility
