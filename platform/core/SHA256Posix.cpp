#include "talcore/crypto/SHA256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace talcore::crypto {

struct SHA256HashState::Impl {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(), &EVP_MD_CTX_free};

    void Reset() {
        if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
            throw std::runtime_error("SHA-256: cannot initialise the digest");
        }
    }
};

SHA256HashState::SHA256HashState() : impl_(std::make_unique<Impl>()) { impl_->Reset(); }
SHA256HashState::~SHA256HashState() = default;

void UpdateHashState(SHA256HashState& state, const void* data, std::size_t size) {
    if (size == 0) return;
    if (EVP_DigestUpdate(state.impl_->context.get(), data, size) != 1) {
        throw std::runtime_error("SHA-256: update failed");
    }
}

std::array<std::uint8_t, 32> GetHashResult(SHA256HashState& state) {
    std::array<std::uint8_t, 32> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state.impl_->context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        throw std::runtime_error("SHA-256: finishing the digest failed");
    }
    state.impl_->Reset();
    return digest;
}

}  // namespace talcore::crypto
