#pragma once

#include <string>
#include <string_view>

namespace vekta::sandbox {

// 43..128 characters of [A-Za-z0-9-._~].
bool IsWellFormedCodeVerifier(std::string_view verifier);
// TikTok's desktop flow takes the challenge as the lower-case hex SHA-256 of the verifier.
bool IsWellFormedCodeChallenge(std::string_view challenge);
std::string CodeChallengeFor(std::string_view verifier);

}  // namespace vekta::sandbox
