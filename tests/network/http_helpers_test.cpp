#include <gtest/gtest.h>

#include <cstdlib>

#include "talnet/http/HttpHelpers.h"
#include "talnet/http/OriginMap.h"
#include "tests/TestEnvironment.h"

namespace {

using namespace talnet::http;

TEST(QuoteURL, FormEncodesPairsInOrder) {
    const std::pair<std::vector<std::pair<std::string, std::string>>, std::string> cases[] = {
        {{}, ""},
        {{{"grant_type", "authorization_code"}, {"code", "x y"}}, "grant_type=authorization_code&code=x+y"},
        {{{"keep", "AZaz09-._~"}}, "keep=AZaz09-._~"},
        {{{"redirect_uri", "http://127.0.0.1:55980/VektaAuthTikTok"}}, "redirect_uri=http%3A%2F%2F127.0.0.1%3A55980%2FVektaAuthTikTok"},
        {{{"s", "+&=%?#,"}}, "s=%2B%26%3D%25%3F%23%2C"},
        {{{"u", "\xC3\xA9\x01\xFF"}, {"", ""}}, "u=%C3%A9%01%FF&="},
    };
    for (const auto& [pairs, expected] : cases) EXPECT_EQ(QuoteURL(pairs), expected);
}

TEST(OriginMap, ReplacesOnlyTheMappedOrigin) {
    SetOriginMapping("https://open.example.test", "http://127.0.0.1:8080/");
    const std::pair<const char*, const char*> cases[] = {
        {"https://open.example.test/v2/oauth/token/?a=b", "http://127.0.0.1:8080/v2/oauth/token/?a=b"},
        {"HTTPS://Open.Example.Test:443/x", "http://127.0.0.1:8080/x"},  // the same origin written otherwise
        {"https://open.example.test:8443/x", "https://open.example.test:8443/x"},
        {"http://open.example.test/x", "http://open.example.test/x"},
        {"https://open.example.testing/x", "https://open.example.testing/x"},
    };
    for (const auto& [url, mapped] : cases) EXPECT_EQ(MapOrigin(url), mapped);
    SetOriginMapping("https://open.example.test", "");  // removes it
    EXPECT_EQ(MapOrigin("https://open.example.test/x"), "https://open.example.test/x");
    ClearOriginMappings();
}

TEST(OriginMap, IsReadFromTheEnvironmentAtStartUp) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the child starts afresh and reads it
    vekta::test::SetEnvironment("VEKTA_HOST_ORIGIN_MAP",
                                " https://a.example=http://127.0.0.1:1 ; junk ;https://b.example:443=http://h:2");
    EXPECT_EXIT(std::exit(MapOrigin("https://a.example/p") == "http://127.0.0.1:1/p" &&
                                  MapOrigin("https://b.example/q") == "http://h:2/q"
                              ? 0
                              : 1),
                ::testing::ExitedWithCode(0), "");
    vekta::test::UnsetEnvironment("VEKTA_HOST_ORIGIN_MAP");
}

}  // namespace
