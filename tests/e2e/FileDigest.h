// The SHA-256 of a file, as lower-case hex: what the sandbox reports of an upload it received.
#pragma once

#include <boost/algorithm/hex.hpp>
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
    const auto digest = talcore::crypto::GetHashResult(state);
    std::string hex;
    boost::algorithm::hex_lower(digest.begin(), digest.end(), std::back_inserter(hex));
    return hex;
}

}  // namespace vekta::test
