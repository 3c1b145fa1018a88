// The SHA-256 of a file, as lower-case hex: what the sandbox reports of an upload it received.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "talcore/crypto/SHA256.h"

namespace vekta::test {

inline std::string Sha256Hex(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    talcore::crypto::SHA256HashState state;
    std::vector<char> buffer(1 << 16);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        talcore::crypto::UpdateHashState(state, buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    std::string hex;
    for (const unsigned char b : talcore::crypto::GetHashResult(state)) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += {kDigits[b >> 4], kDigits[b & 0xF]};
    }
    return hex;
}

}  // namespace vekta::test
