#include <gtest/gtest.h>

#include "PluginHarness.h"

namespace {

using vekta::test::PluginHarness;

TEST(SignInSmoke, ABrowserSignInEndsSignedInWithTheCreatorsNickname) {
    PluginHarness h;
    h.CreateAddAndRefresh();
    EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), std::vector<std::u16string>{u"Not logged in"});
    ASSERT_TRUE(h.SignIn());
    EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), std::vector<std::u16string>{u"Signed in as Sandbox Creator"});
    EXPECT_EQ(h.Name("VOXATikTokLogin"), u"Sign Out");
}

}  // namespace
