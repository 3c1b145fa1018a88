#include <gtest/gtest.h>

#include <algorithm>
#include <boost/algorithm/hex.hpp>
#include <tuple>

#include "talcore/crypto/ConstantTimeCompare.h"
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
        const auto result = GetHashResult(state);
        std::string hex;
        boost::algorithm::hex_lower(result.begin(), result.end(), std::back_inserter(hex));
        EXPECT_EQ(hex, digest) << input.substr(0, 60);
    }
}

TEST(ConstantTimeEqualsTest, EqualOnlyForTheSameBytesOfTheSameLength) {
    const std::string state = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"", "", true},
        {state, state, true},
        {state, state.substr(0, state.size() - 1), false},  // a prefix
        {state, state + "0", false},
        {state, "1" + state.substr(1), false},                    // first byte
        {state, state.substr(0, state.size() - 1) + "1", false},  // last byte
        {std::string("a\0b", 3), std::string("a\0c", 3), false},  // bytes after a NUL count
        {"", "x", false},
    };
    for (const auto& [a, b, equal] : cases) {
        EXPECT_EQ(ConstantTimeEquals(a, b), equal) << a << " / " << b;
        EXPECT_EQ(ConstantTimeEquals(b, a), equal) << b << " / " << a;
    }
}

}  // namespace
