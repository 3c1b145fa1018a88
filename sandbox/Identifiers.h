#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace vekta::sandbox {

// Clients treat an answer that contains "error" as a failure, so nothing the sandbox generates
// may spell it: the alphabet of random identifiers has no 'r' in either case.
std::string RandomIdentifier(std::size_t length);
// Decimal digits without a leading zero.
std::string RandomDigits(std::size_t length);

std::string NewAccessToken();
std::string NewRefreshToken();
// Shaped like TikTok's codes, with '*', '!' and '.' that a form body must percent-encode.
std::string NewAuthorizationCode();
std::string NewOpenId();
std::string NewConsentId();
// A timestamp followed by random upper-case hex, as TikTok's log ids look.
std::string NewLogId(std::chrono::system_clock::time_point now);

}  // namespace vekta::sandbox
