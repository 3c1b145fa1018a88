// The PKCE pair of one sign-in: a random verifier that stays here and its challenge, the lower-case
// hex SHA-256 of the verifier, which goes to the authorization page.
#pragma once

#include <cstdint>
#include <string>

namespace Vekta {

inline constexpr std::uint32_t minCodeChallengeLength = 43;
inline constexpr std::uint32_t maxCodeChallengeLength = 128;

// 43 to 128 characters of A-Z a-z 0-9 - . _ ~, drawn from the system's secure generator.
std::string GetCodeVerifier();
// `challenge` becomes 64 lower-case hex digits, `method` "S256".
void MakeCodeChallenge(const std::string& verifier, std::string& challenge, std::string& method);

}  // namespace Vekta
