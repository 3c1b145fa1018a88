#include "talcore/crypto/ConstantTimeCompare.h"

#include <openssl/crypto.h>

namespace talcore::crypto {

bool ConstantTimeEquals(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    return a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace talcore::crypto
