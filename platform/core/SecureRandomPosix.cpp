#include "talcore/crypto/SecureRandom.h"

#include <openssl/rand.h>

#include <climits>
#include <stdexcept>

namespace talcore::crypto {

void FillSecureRandom(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
        if (RAND_bytes(bytes, chunk) != 1) throw std::runtime_error("the secure random generator failed");
        bytes += chunk;
        size -= static_cast<std::size_t>(chunk);
    }
}

}  // namespace talcore::crypto
