#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

#include "talcore/string/ImmutableString.h"
#include "talcore/string/ReplaceInString.h"
#include "talcore/string/Unicode.h"

namespace {

using talcore::string::UTF16to8;
using talcore::string::UTF8to16;
using talcore::utility::ImmutableString;

TEST(UnicodeTest, InvalidSequencesBecomeReplacementCharacters) {
    const std::pair<std::string, std::u16string> toUTF16[] = {
        {std::string("a\0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 11), std::u16string(u"a\0\u00E9\u20AC\U0001F600", 6)},
        {"\xC0\xAF|\xE0\x80\xAF", u"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD"},        // overlong
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},                     // above U+10FFFF
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},                               // encoded surrogate
        {"a\x80\xF8\xFFz", u"a\uFFFD\uFFFD\uFFFDz"},                           // stray and invalid bytes
        {"x\xE2\x82", u"x\uFFFD\uFFFD"},                                       // truncated at the end
    };
    for (const auto& [utf8, utf16] : toUTF16) EXPECT_EQ(UTF8to16(utf8), utf16) << utf8;
    const std::pair<std::u16string, std::string> toUTF8[] = {
        {u"a\xD83D", "a\xEF\xBF\xBD"},                           // lone high surrogate at the end
        {u"\xD83Dz\xDE00", "\xEF\xBF\xBDz\xEF\xBF\xBD"},         // high without low, lone low
        {u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},           // reversed pair
    };
    for (const auto& [utf16, utf8] : toUTF8) EXPECT_EQ(UTF16to8(utf16), utf8);

    // Views ending inside a sequence whose remaining units follow in memory: those are not read.
    const std::string bytes = "a\xE2\x82\xAC";
    EXPECT_EQ(UTF8to16(std::string_view(bytes).substr(0, 2)), u"a\uFFFD");
    const std::u16string units = u"\xD83D\xDE00";
    EXPECT_EQ(UTF16to8(std::u16string_view(units).substr(0, 1)), "\xEF\xBF\xBD");
}

TEST(UnicodeTest, EveryScalarValueRoundTrips) {
    std::u16string all;
    for (char32_t c = 0; c <= 0x10FFFF; c = c == 0xD7FF ? 0xE000 : c + 1) {  // surrogates skipped
        if (c < 0x10000) all += static_cast<char16_t>(c);
        else all += {static_cast<char16_t>(0xD7C0 + (c >> 10)), static_cast<char16_t>(0xDC00 + (c & 0x3FF))};
    }
    const std::string utf8 = UTF16to8(all);
    EXPECT_EQ(utf8.size(), 0x80u + 2 * 0x780 + 3 * (0x10000 - 0x800 - 0x800) + 4 * 0x100000);
    EXPECT_TRUE(UTF8to16(utf8) == all);  // not EXPECT_EQ: a failure would print megabytes
}

TEST(ImmutableStringTest, EqualTextsCompareEqualAndInternShares) {
    const auto a = ImmutableString::Intern("upload-token");
    EXPECT_EQ(ImmutableString::Intern(std::string("upload-") + "token").c_str(), a.c_str());
    EXPECT_NE(ImmutableString::Intern("other").c_str(), a.c_str());
    const ImmutableString fromUTF16(u"upload-token");
    EXPECT_EQ(fromUTF16, a);
    EXPECT_EQ(std::hash<ImmutableString>{}(fromUTF16), std::hash<ImmutableString>{}(a));
    EXPECT_EQ(ImmutableString(u"\u00E9t\u00E9").UTF8(), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(ImmutableString::Intern(""), ImmutableString());
}

// Interning from several threads while other holders let go of the same texts.
TEST(ImmutableStringTest, InternFromSeveralThreadsSharesOneCopyPerText) {
    const std::vector<std::string> texts = {"alpha", "beta", "gamma", "delta"};
    std::vector<std::vector<ImmutableString>> kept(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kept.size(); ++t)
        threads.emplace_back([&, t] {
            for (std::size_t i = 0; i < 2000; ++i) ASSERT_EQ(ImmutableString::Intern(texts[i % 4]).UTF8(), texts[i % 4]);
            for (const auto& text : texts) kept[t].push_back(ImmutableString::Intern(text));
        });
    for (auto& t : threads) t.join();
    for (std::size_t i = 0; i < texts.size(); ++i)
        for (const auto& perThread : kept) EXPECT_EQ(perThread[i].c_str(), kept[0][i].c_str()) << texts[i];
}

TEST(ReplaceInStringTest, ReplacesNumberedPlaceholdersOnce) {
    const std::array<std::u16string, 10> r = {u"clip.mp4", u"@0", {}, {}, {}, {}, {}, {}, {}, u"nine"};
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
        {u"Uploading @0", u"Uploading clip.mp4"}, {u"@1 stays", u"@0 stays"}, {u"@9@0", u"nineclip.mp4"},
        {u"a@@0", u"a@0"}, {u"user@example @x", u"user@example @x"}, {u"empty @5.", u"empty ."}, {u"end @", u"end @"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(talcore::string::ReplaceInString(text, r), expected) << UTF16to8(text);
}

}  // namespace
