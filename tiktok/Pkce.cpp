#include "tiktok/Pkce.h"

#include <array>
#include <cassert>

#include "talcore/crypto/SHA256.h"
#include "talcore/crypto/SecureRandom.h"
#include "tiktok/LowerHex.h"

namespace Vekta {
namespace {

constexpr char kVerifierAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
constexpr std::uint32_t kAlphabetSize = sizeof kVerifierAlphabet - 1;  // 66

// A uniform draw below `bound` from the secure generator (rejection avoids the modulo bias).
std::uint32_t SecureBelow(std::uint32_t bound) {
    const std::uint32_t limit = UINT32_MAX - UINT32_MAX % bound;
    for (;;) {
        std::uint32_t value = 0;
        talcore::crypto::FillSecureRandom(&value, sizeof value);
        if (value < limit) return value % bound;
    }
}

}  // namespace

std::string GetCodeVerifier() {
    const std::uint32_t currentRandomCodeChallengeLength =
        SecureBelow(maxCodeChallengeLength - minCodeChallengeLength + 1) + minCodeChallengeLength;
    assert(currentRandomCodeChallengeLength >= minCodeChallengeLength &&
           currentRandomCodeChallengeLength <= maxCodeChallengeLength && "TikTok Code verifier - Invalid length");
    std::string verifier;
    verifier.reserve(currentRandomCodeChallengeLength);
    for (std::uint32_t i = 0; i < currentRandomCodeChallengeLength; ++i) {
        verifier.push_back(kVerifierAlphabet[SecureBelow(kAlphabetSize)]);
    }
    return verifier;
}

void MakeCodeChallenge(const std::string& verifier, std::string& challenge, std::string& method) {
    talcore::crypto::SHA256HashState state;
    talcore::crypto::UpdateHashState(state, verifier.data(), verifier.size());
    const auto digest = talcore::crypto::GetHashResult(state);
    challenge = LowerHex(digest);
    method = "S256";
}

}  // namespace Vekta
