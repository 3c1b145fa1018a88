#include "sandbox/Identifiers.h"

#include <openssl/rand.h>

#include <array>
#include <ctime>
#include <stdexcept>
#include <string_view>

namespace vekta::sandbox {
namespace {

constexpr std::string_view kSafeAlphabet = "0123456789abcdefghijklmnopqstuvwxyzABCDEFGHIJKLMNOPQSTUVWXYZ";

std::string RandomFrom(std::string_view alphabet, std::size_t length) {
    std::string out;
    out.reserve(length);
    // Rejection sampling keeps every symbol equally likely.
    const unsigned limit = 256u - (256u % alphabet.size());
    std::array<unsigned char, 64> pool{};
    while (out.size() < length) {
        if (RAND_bytes(pool.data(), static_cast<int>(pool.size())) != 1) {
            throw std::runtime_error("RAND_bytes failed");
        }
        for (unsigned char byte : pool) {
            if (out.size() == length) break;
            if (byte < limit) out.push_back(alphabet[byte % alphabet.size()]);
        }
    }
    return out;
}

}  // namespace

std::string RandomIdentifier(std::size_t length) { return RandomFrom(kSafeAlphabet, length); }

std::string RandomDigits(std::size_t length) {
    if (length == 0) return {};
    return RandomFrom("123456789", 1) + RandomFrom("0123456789", length - 1);
}

std::string NewAccessToken() { return "act." + RandomIdentifier(48) + "!" + RandomDigits(4) + ".va"; }

std::string NewRefreshToken() { return "rft." + RandomIdentifier(48) + "!" + RandomDigits(4) + ".va"; }

std::string NewAuthorizationCode() { return RandomIdentifier(64) + "*3!" + RandomDigits(4) + ".va"; }

std::string NewOpenId() { return "-000" + RandomIdentifier(36); }

std::string NewConsentId() { return RandomIdentifier(32); }

std::string NewLogId(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    std::array<char, 16> stamp{};
    std::strftime(stamp.data(), stamp.size(), "%Y%m%d%H%M%S", &utc);
    return std::string(stamp.data()) + RandomFrom("0123456789ABCDEF", 18);
}

}  // namespace vekta::sandbox
