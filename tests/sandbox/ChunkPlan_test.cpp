// Pure rule tables: chunk plans, the numbers of source_info, Content-Range, redirect URIs and
// the form codec.
#include <gtest/gtest.h>

#include "sandbox/ChunkPlan.h"
#include "sandbox/Pkce.h"
#include "sandbox/UploadEndpoint.h"
#include "sandbox/Url.h"
#include "sandbox/UrlCodec.h"

namespace tiktok_sandbox {
namespace {

constexpr std::uint64_t MB = kMiB;

struct PlanCase {
  const char* name;
  std::uint64_t videoSize, chunkSize, chunkCount;
  bool valid;
};

TEST(ChunkPlanTest, AcceptsOnlyPlansTikTokAccepts) {
  const PlanCase cases[] = {
      {"tiny single chunk", 1, 1, 1, true},
      {"under 5 MB single chunk", 5 * MB - 1, 5 * MB - 1, 1, true},
      {"under 5 MB split", 4 * MB, 2 * MB, 2, false},
      {"under 5 MB chunk larger than video", 4 * MB, 5 * MB, 1, false},
      {"zero size", 0, 0, 0, false},
      {"exactly 5 MB one chunk", 5 * MB, 5 * MB, 1, true},
      {"whole 64 MB file as one chunk", 64 * MB, 64 * MB, 1, true},
      {"whole 65 MB file as one chunk", 65 * MB, 65 * MB, 1, false},
      {"remainder goes to last chunk", 12 * MB + 7, 5 * MB, 2, true},
      {"count rounded up", 12 * MB + 7, 5 * MB, 3, false},
      {"chunk below 5 MB", 20 * MB, 5 * MB - 1, 4, false},
      {"chunk above 64 MB", 200 * MB, 64 * MB + 1, 2, false},
      {"chunk larger than video", 10 * MB, 20 * MB, 0, false},
      {"4 GB in 64 MB chunks", 4096 * MB, 64 * MB, 64, true},
      {"over 4 GB", 4096 * MB + 1, 64 * MB, 64, false},
      {"819 chunks of 5 MB", 819 * 5 * MB + 1, 5 * MB, 819, true},
  };
  for (const auto& c : cases) {
    const auto plan = MakeChunkPlan(c.videoSize, c.chunkSize, c.chunkCount);
    EXPECT_EQ(std::holds_alternative<ChunkPlan>(plan), c.valid) << c.name;
  }
}

TEST(ChunkPlanTest, LastChunkCarriesTheRemainder) {
  const auto plan = std::get<ChunkPlan>(MakeChunkPlan(17 * MB + 3, 5 * MB, 3));
  EXPECT_EQ(plan.Chunk(0), (ChunkRange{0, 5 * MB - 1}));
  EXPECT_EQ(plan.Chunk(1), (ChunkRange{5 * MB, 10 * MB - 1}));
  EXPECT_EQ(plan.Chunk(2), (ChunkRange{10 * MB, 17 * MB + 2}));
}

TEST(ChunkPlanTest, SourceNumbersAreIntegersOrDigitStrings) {
  const std::pair<nlohmann::json, std::optional<std::uint64_t>> cases[] = {
      {12, 12},          {"12", 12},      {"0012", 12},      {0, 0},
      {-1, std::nullopt}, {"-1", std::nullopt}, {1.5, std::nullopt}, {5.0, std::nullopt},
      {"1.5", std::nullopt}, {"", std::nullopt}, {" 12", std::nullopt}, {"12a", std::nullopt},
      {"99999999999999999999", std::nullopt}, {true, std::nullopt}, {nullptr, std::nullopt},
  };
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(ParseSourceNumber(value), expected) << value.dump();
  }
}

TEST(ChunkPlanTest, ContentRangeMustBeExact) {
  EXPECT_EQ(ParseContentRange("bytes 0-9/10")->range, (ChunkRange{0, 9}));
  EXPECT_EQ(ParseContentRange("bytes 5-9/10")->total, 10u);
  for (const char* bad : {"bytes=0-9/10", "bytes 0-9", "0-9/10", "bytes 0-9/*", "bytes */10", "bytes 9-0/10",
                          "bytes 0-10/10", "bytes  0-9/10", "bytes 0 - 9/10", "Bytes 0-9/10", "bytes -1-9/10"}) {
    EXPECT_FALSE(ParseContentRange(bad).has_value()) << bad;
  }
}

TEST(RedirectUriTest, OnlyLoopbackHttpWithPortAndPath) {
  const std::pair<const char*, bool> cases[] = {
      {"http://127.0.0.1:8080/callback", true},  {"http://localhost:8080/callback", true},
      {"http://127.0.0.1:8080/", true},          {"http://127.0.0.1/callback", false},
      {"http://127.0.0.1:8080", false},          {"https://127.0.0.1:8080/callback", false},
      {"http://example.com:8080/callback", false}, {"http://127.0.0.2:8080/callback", false},
      {"http://127.0.0.1:8080/callback?x=1", false}, {"http://127.0.0.1:8080/callback#f", false},
      {"http://user@127.0.0.1:8080/callback", false}, {"http://127.0.0.1:0/callback", false},
      {"http://127.0.0.1:70000/callback", false},  {"http://[::1]:8080/callback", false},
  };
  for (const auto& [uri, valid] : cases) EXPECT_EQ(IsLoopbackRedirectUri(uri), valid) << uri;
}

TEST(UrlCodecTest, DecodesFormsStrictlyAndEncodesAllButUnreserved) {
  EXPECT_EQ(PercentEncode("a*b!c.d~e f"), "a%2Ab%21c.d~e%20f");
  EXPECT_EQ(PercentDecode("a%2Ab+c", true), "a*b c");
  EXPECT_EQ(PercentDecode("a+b", false), "a+b");
  EXPECT_FALSE(PercentDecode("%2", true).has_value());
  EXPECT_FALSE(PercentDecode("%zz", true).has_value());
  const auto form = ParseUrlEncoded("a=1&b=&c&a=2");
  ASSERT_TRUE(form.has_value());
  EXPECT_EQ(FieldNames(*form), (std::vector<std::string>{"a", "b", "c", "a"}));
  EXPECT_EQ(SingleValue(*form, "a"), std::nullopt);  // repeated
  EXPECT_EQ(SingleValue(*form, "b"), "");
  EXPECT_TRUE(HasRepeatedField(*form));
}

TEST(PkceTest, VerifierAndChallengeShapes) {
  EXPECT_TRUE(IsWellFormedCodeVerifier(std::string(43, 'a')));
  EXPECT_TRUE(IsWellFormedCodeVerifier(std::string(128, '~')));
  EXPECT_FALSE(IsWellFormedCodeVerifier(std::string(42, 'a')));
  EXPECT_FALSE(IsWellFormedCodeVerifier(std::string(129, 'a')));
  EXPECT_FALSE(IsWellFormedCodeVerifier(std::string(43, 'a') + "+"));
  // Lower-case hex of SHA-256, not base64url.
  EXPECT_EQ(CodeChallengeFor("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_FALSE(IsWellFormedCodeChallenge("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"));
}

}  // namespace
}  // namespace tiktok_sandbox
