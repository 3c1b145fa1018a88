#include <gtest/gtest.h>

#include "talcore/config/Localizer.h"

namespace {

using talcore::config::Localizer;

TEST(LocalizerTest, DefaultTextOrInstalledTranslationOfTheKey) {
    const std::pair<const char*, std::u16string> defaults[] = {
        {"$$$/TikTok/Title=Publish to TikTok", u"Publish to TikTok"},
        {"$$$/TikTok/Eq=a=b", u"a=b"},
        {"$$$/TikTok/Lines=First\\nSecond#{Button label; keep it short}", u"First\nSecond"},
        {"$$$/TikTok/Accent=Vid\xC3\xA9o", u"Vid\u00E9o"},
        {"$$$/TikTok/NoDefault", u"$$$/TikTok/NoDefault"},
        {"Not a key=kept \\n as is", u"Not a key=kept \\n as is"},
    };
    for (const auto& [key, expected] : defaults) EXPECT_EQ(Localizer::Get().Localize(key), expected) << key;

    Localizer::Get().InstallTranslations({{"$$$/TikTok/Title",
                                           "Auf TikTok ver\xC3\xB6"
                                           "ffentlichen"}});
    EXPECT_EQ(Localizer::Get().Localize("$$$/TikTok/Title=Publish#{c}"), u"Auf TikTok ver\u00F6ffentlichen");
    EXPECT_EQ(Localizer::Get().Localize("$$$/TikTok/Other=Fall\\nback"), u"Fall\nback");
    Localizer::Get().InstallTranslations({});
    EXPECT_EQ(Localizer::Get().Localize("$$$/TikTok/Title=Publish"), u"Publish");
}

}  // namespace
