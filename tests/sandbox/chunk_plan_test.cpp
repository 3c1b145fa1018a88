// Pure rule tables: the numbers of source_info, Content-Range and redirect URIs. Chunk plans are
// checked through init, in ApiEndpoints_test.
#include <gtest/gtest.h>

#include "sandbox/ChunkPlan.h"
#include "sandbox/UploadEndpoint.h"
#include "sandbox/Url.h"

namespace vekta::sandbox {
namespace {

TEST(ChunkPlanTest, SourceNumbersAreIntegersOrDigitStrings) {
    const std::pair<nlohmann::json, std::optional<std::uint64_t>> cases[] = {
        {12, 12},
        {"12", 12},
        {"0012", 12},
        {-1, std::nullopt},
        {"-1", std::nullopt},
        {1.5, std::nullopt},
        {5.0, std::nullopt},
        {"1.5", std::nullopt},
        {"", std::nullopt},
        {" 12", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {true, std::nullopt},
        {nullptr, std::nullopt},
    };
    for (const auto& [value, expected] : cases) EXPECT_EQ(ParseSourceNumber(value), expected) << value.dump();
}

TEST(ChunkPlanTest, ContentRangeMustBeExact) {
    EXPECT_EQ(ParseContentRange("bytes 5-9/10")->range, (ChunkRange{5, 9}));
    EXPECT_EQ(ParseContentRange("bytes 5-9/10")->total, 10u);
    for (const char* bad : {"bytes=0-9/10", "bytes 0-9", "0-9/10", "bytes 0-9/*", "bytes */10", "bytes 9-0/10",
                            "bytes 0-10/10", "bytes  0-9/10", "Bytes 0-9/10", "bytes -1-9/10"}) {
        EXPECT_FALSE(ParseContentRange(bad).has_value()) << bad;
    }
}

TEST(RedirectUriTest, OnlyLoopbackHttpWithPortAndPath) {
    const std::pair<const char*, bool> cases[] = {
        {"http://127.0.0.1:8080/callback", true},       {"http://localhost:8080/callback", true},
        {"http://127.0.0.1/callback", false},           {"http://127.0.0.1:8080", false},
        {"https://127.0.0.1:8080/callback", false},     {"http://127.0.0.2:8080/callback", false},
        {"http://127.0.0.1:8080/callback?x=1", false},  {"http://127.0.0.1:8080/callback#f", false},
        {"http://user@127.0.0.1:8080/callback", false}, {"http://127.0.0.1:0/callback", false},
    };
    for (const auto& [uri, valid] : cases) EXPECT_EQ(IsLoopbackRedirectUri(uri), valid) << uri;
}

}  // namespace
}  // namespace vekta::sandbox
