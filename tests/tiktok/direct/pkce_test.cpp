#include "tiktok/Pkce.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(Pkce, VerifiersAreFrom43To128UnreservedCharactersAndNeverRepeat) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    std::set<std::string> seen;
    std::set<std::size_t> lengths;
    for (int i = 0; i < 500; ++i) {
        const std::string verifier = Vekta::GetCodeVerifier();
        ASSERT_GE(verifier.size(), 43u);
        ASSERT_LE(verifier.size(), 128u);
        ASSERT_EQ(verifier.find_first_not_of(alphabet), std::string::npos) << verifier;
        // Drawn from the secure generator: two logins in the same second get different verifiers.
        ASSERT_TRUE(seen.insert(verifier).second) << verifier;
        lengths.insert(verifier.size());
    }
    EXPECT_GT(lengths.size(), 1u);
}

TEST(Pkce, ChallengeIsTheLowerCaseHexSha256OfTheVerifier) {
    const struct {
        std::string verifier;
        std::string challenge;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        // Digest bytes below 16 keep their leading zero ("...b00361a3...").
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk",
         "13d31e961a1ad8ec2f16b10c4c982e0876a878ad6df144566ee1894acb70f9c3"},
    };
    for (const auto& v : vectors) {
        std::string challenge = "stale", method;
        Vekta::MakeCodeChallenge(v.verifier, challenge, method);
        EXPECT_EQ(challenge, v.challenge) << v.verifier;
        EXPECT_EQ(method, "S256");
    }
}

}  // namespace
