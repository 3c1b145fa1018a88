#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "talcore/crypto/SHA256.h"
#include "talcore/utility/Guid.h"

namespace {

using namespace talcore::crypto;
using talcore::utility::Guid;

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

TEST(GuidTest, UniqueVersionFourGuidsInCanonicalForm) {
    EXPECT_TRUE(Guid().IsNull());
    EXPECT_EQ(Guid().AsUTF8String(), "00000000-0000-0000-0000-000000000000");
    // xxxxxxxx-xxxx-4xxx-[89ab]xxx-xxxxxxxxxxxx in lower-case hex
    const auto wellFormed = [](const std::string& s) {
        if (s.size() != 36 || s[14] != '4' || std::string_view("89ab").find(s[19]) == std::string_view::npos) return false;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
            if (dash ? s[i] != '-' : std::string_view("0123456789abcdef").find(s[i]) == std::string_view::npos) return false;
        }
        return true;
    };
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const auto text = Guid::CreateUnique().AsUTF8String();
        ASSERT_TRUE(wellFormed(text)) << text;
        ASSERT_TRUE(seen.insert(text).second) << "repeated " << text;
    }
}

}  // namespace
