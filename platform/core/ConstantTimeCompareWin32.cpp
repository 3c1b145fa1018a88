#include "talcore/crypto/ConstantTimeCompare.h"

namespace talcore::crypto {

// No OpenSSL in the Windows build and no such function in Windows: every byte is compared, and the
// volatile accumulator keeps the compiler from stopping at the first difference.
bool ConstantTimeEquals(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    volatile unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference = static_cast<unsigned char>(difference |
                                                (static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i])));
    }
    return difference == 0;
}

}  // namespace talcore::crypto
