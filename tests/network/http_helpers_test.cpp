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
        {{{"redirect_uri", "http://127.0.0.1:55980/VektaAuthTikTok"}},
         "redirect_uri=http%3A%2F%2F127.0.0.1%3A55980%2FVektaAuthTikTok"},
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

// A mapped origin carries tokens and uploads: in clear only to this machine.
TEST(OriginMap, APlainHttpTargetMustBeLoopbackAndEveryRefusalChangesNothing) {
    const struct {
        const char* from;
        const char* to;
        bool accepted;
    } cases[] = {
        {"https://a.example", "http://127.0.0.1:8080", true},
        {"https://a.example", "http://[::1]:8080/", true},
        {"https://a.example", "HTTP://LocalHost:1", true},
        {"https://a.example", "https://mirror.example:8443", true},
        {"https://a.example", "http://192.168.1.5:8080", false},
        {"https://a.example", "http://127.0.0.1.example", false},
        {"https://a.example", "http://127.0.0.1@evil.example", false},
        {"https://a.example", "http://localhost:80x", false},
        {"https://a.example", "ftp://127.0.0.1", false},
        {"https://a.example", "127.0.0.1:8080", false},
        {"a.example", "http://127.0.0.1:8080", false},
        {"https://a.example/path", "http://127.0.0.1:8080", false},
        // A host is a name or a bracketed IPv6 address: a blank or control character in it would
        // make an origin that no address ever matches, a byte beyond ASCII one no lookup can use.
        {"https://\n:443", "https://mirror.example", false},
        {"https://a b.example", "https://mirror.example", false},
        {"https://a.example", "https://\xff", false},
        {"https://a.example", "https://mirror.example\t:8443", false},
        {"https://a.example", "http://[::1\n]:8080", false},
        {"https://a.example", "http://[zz]:8080", false},
        {"https://Open_API-1.example~x", "https://[2001:db8::1]:8443", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.from) + "=" + c.to);
        ClearOriginMappings();
        std::string problem;
        EXPECT_EQ(SetOriginMapping(c.from, c.to, &problem), c.accepted);
        EXPECT_EQ(problem.empty(), c.accepted) << problem;
        EXPECT_EQ(ActiveOriginMappings().size(), c.accepted ? 1u : 0u);
    }
    ClearOriginMappings();
}

// Only the loopback target of a mapping in force counts as the host's own stand-in.
TEST(OriginMap, TellsAMappedLoopbackTargetFromOtherAddresses) {
    SetOriginMapping("https://open.example.test", "http://127.0.0.1:8080");
    SetOriginMapping("https://www.example.test", "https://mirror.example");
    const std::pair<const char*, bool> cases[] = {
        {"http://127.0.0.1:8080/upload/?upload_id=1", true},
        {"HTTP://127.0.0.1:8080", true},
        {"http://127.0.0.1:8081/upload/", false},
        {"http://localhost:8080/upload/", false},
        {"https://127.0.0.1:8080/upload/", false},  // https needs no such leave
        {"http://mirror.example/upload/", false},
        {"http://open.example.test/upload/", false},
        {"not a url", false},
    };
    for (const auto& [url, mapped] : cases) EXPECT_EQ(IsMappedLoopbackTarget(url), mapped) << url;
    ClearOriginMappings();
    EXPECT_FALSE(IsMappedLoopbackTarget("http://127.0.0.1:8080/upload/"));
}

// The text form of VEKTA_HOST_ORIGIN_MAP, given by the host at any time: entries apply in order,
// a later one for the same origin wins, an empty target removes, and refusals change nothing.
TEST(OriginMap, TheTextFormAppliesEntryByEntryAndReportsWhatItRefused) {
    ClearOriginMappings();
    const auto refused = SetOriginMappings(
        " https://a.example=http://127.0.0.1:1 ; junk ;https://b.example=http://h:2;;https://c.example=https://h:3;"
        "https://c.example=https://h:4;https://a.example=");
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0], "'junk': not of the form from=to");
    EXPECT_EQ(refused[1], "'https://b.example=http://h:2': a plain-http target must be 127.0.0.1, [::1] or localhost");
    const std::vector<std::pair<std::string, std::string>> expected{{"https://c.example", "https://h:4"}};
    EXPECT_EQ(ActiveOriginMappings(), expected);
    EXPECT_TRUE(SetOriginMappings("").empty());
    EXPECT_EQ(ActiveOriginMappings(), expected);
    ClearOriginMappings();
}

TEST(OriginMap, IsReadFromTheEnvironmentAtStartUpAndReportsWhatItRefused) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the child starts afresh and reads it
    vekta::test::SetEnvironment("VEKTA_HOST_ORIGIN_MAP",
                                " https://a.example=http://127.0.0.1:1 ; junk "
                                ";https://b.example:443=http://h:2;;https://c.example=https://h:3");
    EXPECT_EXIT(
        {
            const auto refused = RefusedOriginMappings();
            const bool ok =
                MapOrigin("https://a.example/p") == "http://127.0.0.1:1/p" &&
                MapOrigin("https://b.example/q") == "https://b.example/q" &&
                MapOrigin("https://c.example/r") == "https://h:3/r" && refused.size() == 2 &&
                refused[0] == "'junk': not of the form from=to" &&
                refused[1] ==
                    "'https://b.example:443=http://h:2': a plain-http target must be 127.0.0.1, [::1] or localhost";
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    vekta::test::UnsetEnvironment("VEKTA_HOST_ORIGIN_MAP");
}

}  // namespace
