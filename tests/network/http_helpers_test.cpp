#include <gtest/gtest.h>

#include <any>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "talnet/http/HttpHelpers.h"
#include "talnet/http/OriginMap.h"

namespace {

using namespace std::chrono_literals;
using namespace talnet::http;
using Clock = std::chrono::steady_clock;

TEST(QuoteURL, EncodesFormPairsInOrder) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> pairs;
        std::string expected;
    };
    const Case cases[] = {
        {{}, ""},
        {{{"a", "b"}}, "a=b"},
        {{{"grant_type", "authorization_code"}, {"code", "x y"}}, "grant_type=authorization_code&code=x+y"},
        {{{"keep", "AZaz09-._~"}}, "keep=AZaz09-._~"},
        {{{"redirect_uri", "http://127.0.0.1:55980/VektaAuthTikTok"}},
         "redirect_uri=http%3A%2F%2F127.0.0.1%3A55980%2FVektaAuthTikTok"},
        {{{"scope", "user.info.basic,video.upload"}}, "scope=user.info.basic%2Cvideo.upload"},
        {{{"s", "+&=%?#/"}}, "s=%2B%26%3D%25%3F%23%2F"},
        {{{"u", "\xC3\xA9\x01\xFF"}}, "u=%C3%A9%01%FF"},
        {{{"", ""}, {"e", ""}}, "=&e="},
    };
    for (const auto& c : cases) EXPECT_EQ(QuoteURL(c.pairs), c.expected);
}

TEST(PassGateTimeout, ReturnsTrueWhenTheGateOpensInTime) {
    auto gate = std::make_shared<talcore::threads::Gate>();
    std::thread opener([gate] {
        std::this_thread::sleep_for(50ms);
        gate->Open();
    });
    const auto start = Clock::now();
    EXPECT_TRUE(PassGateTimeout(gate, 5, 500));
    EXPECT_LT(Clock::now() - start, 2s);  // woken, not left to the end of a poll slice
    opener.join();
    EXPECT_TRUE(PassGateTimeout(*gate, 0, 500));  // already open: no wait at all
}

TEST(PassGateTimeout, ReturnsFalseAfterTheTimeout) {
    talcore::threads::Gate gate;
    const auto start = Clock::now();
    EXPECT_FALSE(PassGateTimeout(gate, 1, 100));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 1s);
    EXPECT_LT(waited, 3s);
    EXPECT_FALSE(PassGateTimeout(std::shared_ptr<talcore::threads::Gate>(), 1, 100));
}

TEST(HandleBody, GivesTheBodyWithoutAByteOrderMark) {
    Response response;
    response.body = "\xEF\xBB\xBF{\"a\":1}";
    EXPECT_EQ(HandleBody(RequestID(), response), "{\"a\":1}");
    EXPECT_EQ(HandleBody(RequestID(), std::shared_ptr<Response>()), "");
}

TEST(GetItemFor, GivesAStringMemberAsUTF16) {
    const auto root = talcore::serialization::JSONParse(R"({"open_id":"caf\u00e9 \ud83d\ude00","n":1})");
    EXPECT_EQ(GetItemFor(root, "open_id"), u"caf\u00e9 \U0001F600");
    EXPECT_THROW(GetItemFor(root, "n"), std::bad_any_cast);
    EXPECT_THROW(GetItemFor(root, "missing"), std::bad_any_cast);
    EXPECT_THROW(GetItemFor(talcore::serialization::JSONParse("[]"), "open_id"), std::bad_any_cast);
}

TEST(OriginMap, ReplacesOnlyAMappedOrigin) {
    ClearOriginMappings();
    SetOriginMapping("https://open.example.test", "http://127.0.0.1:8080/");
    EXPECT_EQ(MapOrigin("https://open.example.test/v2/oauth/token/?a=b"), "http://127.0.0.1:8080/v2/oauth/token/?a=b");
    // The same origin written differently maps too.
    EXPECT_EQ(MapOrigin("HTTPS://Open.Example.Test:443/x"), "http://127.0.0.1:8080/x");
    EXPECT_EQ(MapOrigin("https://open.example.test"), "http://127.0.0.1:8080");
    EXPECT_EQ(MapOrigin("https://open.example.test?q"), "http://127.0.0.1:8080?q");
    // Another port, scheme or host is another origin.
    EXPECT_EQ(MapOrigin("https://open.example.test:8443/x"), "https://open.example.test:8443/x");
    EXPECT_EQ(MapOrigin("http://open.example.test/x"), "http://open.example.test/x");
    EXPECT_EQ(MapOrigin("https://open.example.testing/x"), "https://open.example.testing/x");
    EXPECT_EQ(MapOrigin("not a url"), "not a url");

    SetOriginMapping("https://open.example.test", "");  // removes it
    EXPECT_EQ(MapOrigin("https://open.example.test/x"), "https://open.example.test/x");
    ClearOriginMappings();
}

TEST(OriginMap, IsReadFromTheEnvironmentAtStartUp) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the child starts afresh and reads it
    ::setenv("VEKTA_HOST_ORIGIN_MAP", " https://a.example=http://127.0.0.1:1 ; junk ;https://b.example:443=http://h:2", 1);
    EXPECT_EXIT(
        {
            const bool mapped = MapOrigin("https://a.example/p") == "http://127.0.0.1:1/p" &&
                                MapOrigin("https://b.example/q") == "http://h:2/q" &&
                                MapOrigin("https://c.example/r") == "https://c.example/r";
            std::exit(mapped ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    ::unsetenv("VEKTA_HOST_ORIGIN_MAP");
}

}  // namespace
