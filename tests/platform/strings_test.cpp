#include <gtest/gtest.h>

#include <string>

#include "talcore/string/Unicode.h"

namespace {

using talcore::string::UTF16to8;
using talcore::string::UTF8to16;

TEST(UnicodeTest, InvalidSequencesBecomeReplacementCharacters) {
    const std::pair<std::string, std::u16string> toUTF16[] = {
        {std::string("a\0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 11), std::u16string(u"a\0\u00E9\u20AC\U0001F600", 6)},
        {"\xC0\xAF|\xE0\x80\xAF", u"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD"},  // overlong
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},              // above U+10FFFF
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},                        // encoded surrogate
        {"a\x80\xF8\xFFz", u"a\uFFFD\uFFFD\uFFFDz"},                    // stray and invalid bytes
        {"x\xE2\x82", u"x\uFFFD\uFFFD"},                                // truncated at the end
    };
    for (const auto& [utf8, utf16] : toUTF16) EXPECT_EQ(UTF8to16(utf8), utf16) << utf8;
    const std::pair<std::u16string, std::string> toUTF8[] = {
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {u"\xD83Dz\xDE00", "\xEF\xBF\xBDz\xEF\xBF\xBD"},  // high without low, lone low
        {u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},    // reversed pair, high at the end
    };
    for (const auto& [utf16, utf8] : toUTF8) EXPECT_EQ(UTF16to8(utf16), utf8);

    // Views ending inside a sequence whose remaining units follow in memory: those are not read.
    const std::string bytes = "a\xE2\x82\xAC";
    EXPECT_EQ(UTF8to16(std::string_view(bytes).substr(0, 2)), u"a\uFFFD");
    const std::u16string units = u"\xD83D\xDE00";
    EXPECT_EQ(UTF16to8(std::u16string_view(units).substr(0, 1)), "\xEF\xBF\xBD");
}

}  // namespace
