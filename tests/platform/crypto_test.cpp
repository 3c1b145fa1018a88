#include <gtest/gtest.h>

#include <algorithm>

#include "talcore/crypto/SHA256.h"

namespace {

using namespace talcore::crypto;

TEST(SHA256Test, KnownVectorsFedInUnevenPieces) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    SHA256HashState state;  // reused: a result starts the state over
    for (const auto& [input, digest] : cases) {
        for (std::size_t at = 0, piece = 1; at < input.size(); at += piece, piece = piece * 3 % 4099 + 1)
            UpdateHashState(state, input.data() + at, std::min(piece, input.size() - at));
        std::string hex;
        for (const auto b : GetHashResult(state)) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0xF]};
        EXPECT_EQ(hex, digest) << input.substr(0, 60);
    }
}

}  // namespace
