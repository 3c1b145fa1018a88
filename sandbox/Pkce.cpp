#include "sandbox/Pkce.h"

#include <algorithm>

#include "sandbox/Sha256.h"

namespace vekta::sandbox {

bool IsWellFormedCodeVerifier(std::string_view verifier) {
    if (verifier.size() < 43 || verifier.size() > 128) return false;
    return std::all_of(verifier.begin(), verifier.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
               c == '_' || c == '~';
    });
}

bool IsWellFormedCodeChallenge(std::string_view challenge) {
    return challenge.size() == 64 && std::all_of(challenge.begin(), challenge.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string CodeChallengeFor(std::string_view verifier) { return Sha256Hex(verifier); }

}  // namespace vekta::sandbox
