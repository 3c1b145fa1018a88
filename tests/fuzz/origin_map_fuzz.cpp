// Text in the form of VEKTA_HOST_ORIGIN_MAP into the host's origin map. Whatever it says, a
// mapping in force sends plain http only to a loopback host, maps its own origin to its target,
// and the host tells that target as its own loopback stand-in exactly when it is plain http.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "talnet/http/OriginMap.h"
#include "tests/fuzz/FuzzCheck.h"

namespace http = talnet::http;

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The host of a plain-http target: what follows the scheme up to a port, path or the end.
std::string PlainHttpHost(const std::string& lowerTarget) {
    const std::string_view rest = std::string_view(lowerTarget).substr(std::string_view("http://").size());
    const std::string_view authority = rest.substr(0, rest.find('/'));
    if (authority.starts_with("[")) return std::string(authority.substr(0, authority.find(']') + 1));
    return std::string(authority.substr(0, authority.find(':')));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    http::ClearOriginMappings();
    const auto refused = http::SetOriginMappings(text);
    const auto active = http::ActiveOriginMappings();
    const auto entries = static_cast<std::size_t>(std::count(text.begin(), text.end(), ';')) + 1;
    FUZZ_CHECK(refused.size() + active.size() <= entries);

    for (const auto& [from, to] : active) {
        const std::string target = Lower(to);
        const bool plain = target.starts_with("http://");
        FUZZ_CHECK(plain || target.starts_with("https://"));
        if (plain) {
            const std::string host = PlainHttpHost(target);
            FUZZ_CHECK(host == "127.0.0.1" || host == "[::1]" || host == "localhost");
        }
        FUZZ_CHECK(http::MapOrigin(from + "/v2/oauth/token/?x=1") == to + "/v2/oauth/token/?x=1");
        FUZZ_CHECK(http::IsMappedLoopbackTarget(to + "/upload") == plain);
    }
    // Any text as an address: mapped or left alone, never a crash.
    (void)http::MapOrigin(text);
    (void)http::IsMappedLoopbackTarget(text);
    http::ClearOriginMappings();
    return 0;
}
