#include <windows.h>

#include <bcrypt.h>

#include <stdexcept>

#include "talcore/crypto/SHA256.h"

namespace talcore::crypto {

namespace {

// One provider for the process: opening it is the expensive part, and it is safe on any thread.
BCRYPT_ALG_HANDLE Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
            handle = nullptr;
        }
        return handle;
    }();
    return provider;
}

}  // namespace

struct SHA256HashState::Impl {
    BCRYPT_HASH_HANDLE hash = nullptr;

    Impl() { Reset(); }
    ~Impl() {
        if (hash) BCryptDestroyHash(hash);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // A finished hash object cannot take more data: the next message gets a fresh one.
    void Reset() {
        if (hash) BCryptDestroyHash(hash);
        hash = nullptr;
        if (!Provider() || !BCRYPT_SUCCESS(BCryptCreateHash(Provider(), &hash, nullptr, 0, nullptr, 0, 0))) {
            throw std::runtime_error("SHA-256: cannot initialise the digest");
        }
    }
};

SHA256HashState::SHA256HashState() : impl_(std::make_unique<Impl>()) {}
SHA256HashState::~SHA256HashState() = default;

void UpdateHashState(SHA256HashState& state, const void* data, std::size_t size) {
    // BCryptHashData takes a 32-bit length: a large buffer goes in pieces.
    auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(BCryptHashData(state.impl_->hash, const_cast<PUCHAR>(bytes), chunk, 0))) {
            throw std::runtime_error("SHA-256: update failed");
        }
        bytes += chunk;
        size -= chunk;
    }
}

std::array<std::uint8_t, 32> GetHashResult(SHA256HashState& state) {
    std::array<std::uint8_t, 32> digest{};
    if (!BCRYPT_SUCCESS(BCryptFinishHash(state.impl_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        throw std::runtime_error("SHA-256: finishing the digest failed");
    }
    state.impl_->Reset();
    return digest;
}

}  // namespace talcore::crypto
