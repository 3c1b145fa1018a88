#include <windows.h>

#include <bcrypt.h>

#include <stdexcept>

#include "talcore/crypto/SecureRandom.h"

namespace talcore::crypto {

void FillSecureRandom(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            throw std::runtime_error("the secure random generator failed");
        }
        bytes += chunk;
        size -= chunk;
    }
}

}  // namespace talcore::crypto
