#include "sandbox/Sha256.h"

#include <openssl/evp.h>

#include <array>
#include <boost/algorithm/hex.hpp>
#include <stdexcept>

namespace vekta::sandbox {

void Sha256::Free::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 initialisation failed");
    }
}

Sha256::Sha256(const Sha256& other) : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_MD_CTX_copy_ex(ctx_.get(), other.ctx_.get()) != 1) {
        throw std::runtime_error("SHA-256 copy failed");
    }
}

Sha256& Sha256::operator=(const Sha256& other) {
    if (this != &other) *this = Sha256(other);
    return *this;
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t length) {
    if (EVP_DigestUpdate(ctx_.get(), data, length) != 1) {
        throw std::runtime_error("SHA-256 update failed");
    }
}

std::string Sha256::FinishHex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(ctx_.get(), digest.data(), &length) != 1) {
        throw std::runtime_error("SHA-256 final failed");
    }
    std::string hex;
    boost::algorithm::hex_lower(digest.begin(), digest.begin() + length, std::back_inserter(hex));
    return hex;
}

std::string Sha256Hex(std::string_view data) {
    Sha256 hasher;
    hasher.Update(data.data(), data.size());
    return hasher.FinishHex();
}

}  // namespace vekta::sandbox
