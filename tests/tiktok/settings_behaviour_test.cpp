// The TikTok group following the account and the user's edits, through the module's callbacks and
// the reference host's export-parameter suite.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "PluginHarness.h"
#include "SignInSupport.h"

namespace {

using vekta::test::PluginHarness;

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

// The host's own ticks-per-frame parameter, which the plug-in reads but does not add.
void AddTicksPerFrame(PluginHarness& h) {
    ParamInfo info{};
    info.structVersion = info.value.structVersion = 1;
    std::strcpy(info.identifier, "VOXAHiddenTicksPerFrame");
    info.type = kParamTypeHiddenInt64;
    info.value.hidden = info.value.disabled = 1;
    const auto* suite = vekta::host::ExportParamHost::Suite();
    ASSERT_EQ(suite->AddParameter(h.InstanceID(), 0, vekta::host::kDefaultHostGroupID, &info), 0);
}

TEST(SettingsBehaviour, PrivacyChoicesFollowTheAccountAndAPrivateAccountStaysPrivate) {
    const struct {
        bool privateAccount;
        std::vector<std::u16string> choices;
    } accounts[] = {{false, {u"Everyone", u"Friends", u"Private"}}, {true, {u"Followers", u"Friends", u"Private"}}};
    for (const auto& account : accounts) {
        SCOPED_TRACE(account.privateAccount);
        auto config = vekta::test::DefaultSandboxConfig();
        config.creator.privateAccount = account.privateAccount;
        PluginHarness h(config);
        h.CreateAddAndRefresh();
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), (std::vector<std::u16string>{u"Select an option...", u"Private"}));
        EXPECT_EQ(h.Integer("VOXATikTokPrivacy"), 4);
        ASSERT_TRUE(h.SignIn());
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), account.choices);
        // Once seen private, the account stays private even when TikTok stops saying so.
        h.Sandbox().SetPrivateAccount(false);
        ASSERT_EQ(h.Refresh(), 0);
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), account.choices);
        EXPECT_EQ(h.Integer("VOXATikTokPrivateAccount"), account.privateAccount ? 1 : 0);
        EXPECT_EQ(h.Integer("VOXATikTokPrivacy"), 4);  // the refill keeps the choice
    }
}

TEST(SettingsBehaviour, ChosenPrivacyStoresItsApiString) {
    PluginHarness h;
    h.CreateAddAndRefresh();
    const struct {
        std::int32_t position;
        std::u16string apiString;
    } cases[] = {{0, u"PUBLIC_TO_EVERYONE"}, {1, u"FOLLOWER_OF_CREATOR"}, {2, u"MUTUAL_FOLLOW_FRIENDS"},
                 {3, u"SELF_ONLY"},          {4, u""},                    {5, u""},
                 {-1, u""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        h.SetInteger("VOXATikTokPrivacy", 3);
        ASSERT_EQ(h.Changed("VOXATikTokPrivacy"), 0);
        h.SetInteger("VOXATikTokPrivacy", c.position);
        ASSERT_EQ(h.Changed("VOXATikTokPrivacy"), 0);
        EXPECT_EQ(h.ArrayText("VOXATikTokPrivacyToken"), c.apiString);
    }
}

TEST(SettingsBehaviour, DraftGreysOutPostSettingsAndPostKeepsCreatorDisabledPermissionsOff) {
    auto config = vekta::test::DefaultSandboxConfig();
    config.creator.commentDisabled = true;
    PluginHarness h(config);
    h.CreateAddAndRefresh();
    ASSERT_TRUE(h.SignIn());
    ASSERT_EQ(h.Refresh(), 0);
    const auto expectDisabled = [&](bool postOnly, bool duetAndStitch) {
        for (const auto& id : {"VOXATikTokCaption", "VOXATikTokPrivacy", "VOXATikTokCoverImageThumbnailTime",
                               "VOXATikTokCoverImageThumbnailTimeBtn"}) {
            EXPECT_EQ(h.Disabled(id), postOnly) << id;
        }
        EXPECT_EQ(h.Disabled("VOXATikTokDuetPermission"), duetAndStitch);
        EXPECT_EQ(h.Disabled("VOXATikTokStitchPermission"), duetAndStitch);
        EXPECT_TRUE(h.Disabled("VOXATikTokCommentPermission"));
    };
    expectDisabled(false, false);
    h.SetInteger("VOXATikTokPublishType", 1);
    ASSERT_EQ(h.Changed("VOXATikTokPublishType"), 0);
    expectDisabled(true, true);
    h.SetInteger("VOXATikTokPublishType", 0);
    ASSERT_EQ(h.Changed("VOXATikTokPublishType"), 0);
    expectDisabled(false, false);
    ASSERT_EQ(h.Refresh(), 0);
    expectDisabled(false, false);
}

TEST(SettingsBehaviour, DefaultCaptionOnlyUntilTheFirstEdit) {
    PluginHarness h;
    h.CreateAddAndRefresh();
    EXPECT_EQ(h.Text("VOXATikTokCaption"), u"#CorvaneSolvane");
    // Emptied by the host without an edit: the default comes back.
    h.SetText("VOXATikTokCaption", u"");
    ASSERT_EQ(h.Refresh(), 0);
    EXPECT_EQ(h.Text("VOXATikTokCaption"), u"#CorvaneSolvane");
    // Edited to empty by the user: it stays empty.
    h.SetText("VOXATikTokCaption", u"");
    ASSERT_EQ(h.Changed("VOXATikTokCaption"), 0);
    ASSERT_EQ(h.Refresh(), 0);
    EXPECT_EQ(h.Text("VOXATikTokCaption"), u"");
    EXPECT_EQ(h.Integer("VOXATikTokCaptionChanged"), 1);
}

TEST(SettingsBehaviour, CoverFrameAndTicksFollowEachOtherWithoutOverflow) {
    PluginHarness h;
    h.CreateAddAndRefresh();
    AddTicksPerFrame(h);
    const struct {
        const char* changed;
        std::int64_t ticks, frames, ticksPerFrame, expectedTicks, expectedFrames;
    } cases[] = {
        {"VOXATikTokCoverImageThumbnailTimeBtn", 1000, 7, 100, 1000, 10},
        {"VOXATikTokCoverImageThumbnailTimeBtn", -7, 0, 2, -7, -3},  // truncated toward zero
        {"VOXATikTokCoverImageThumbnailTimeBtn", kMin, 0, -1, kMin, kMax},
        {"VOXATikTokCoverImageThumbnailTimeBtn", 1000, 7, 0, 1000, 7},
        {"VOXATikTokCoverImageThumbnailTime", 5, 12, 100, 1200, 12},
        {"VOXATikTokCoverImageThumbnailTime", 5, 12, 0, 5, 12},
        {"VOXATikTokCoverImageThumbnailTime", 5, kMax / 2 + 1, 4, kMax, kMax / 2 + 1},
        {"VOXATikTokCoverImageThumbnailTime", 5, kMin / 2 - 1, 4, kMin, kMin / 2 - 1},
        {"VOXATikTokCoverImageThumbnailTime", 5, kMin, -1, kMax, kMin},
        {"VOXATikTokCoverImageThumbnailTime", 5, kMax, -1, -kMax, kMax},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.changed) + " ticks " + std::to_string(c.ticks) + " frames " +
                     std::to_string(c.frames) + " per frame " + std::to_string(c.ticksPerFrame));
        h.SetTime("VOXATikTokCoverImageThumbnailTimeToken", c.ticks);
        h.SetTime("VOXATikTokCoverImageThumbnailTime", c.frames);
        h.SetTime("VOXAHiddenTicksPerFrame", c.ticksPerFrame);
        ASSERT_EQ(h.Settings().SetValue(h.InstanceID(), "VOXATikTokCoverImageFileToken",
                                        std::vector<std::uint8_t>{'c', 0, 0, 0}),
                  0);
        ASSERT_EQ(h.Changed(c.changed), 0);
        EXPECT_EQ(h.Time("VOXATikTokCoverImageThumbnailTimeToken"), c.expectedTicks);
        EXPECT_EQ(h.Time("VOXATikTokCoverImageThumbnailTime"), c.expectedFrames);
        EXPECT_TRUE(h.ArrayText("VOXATikTokCoverImageFileToken").empty());
    }
}

TEST(SettingsBehaviour, FormatRequirementsButtonOpensTheHelpPage) {
    PluginHarness h;
    h.CreateAddAndRefresh();
    h.SetBrowserAction([](const std::string&) {});
    ASSERT_EQ(h.Changed("VOXATikTokFormatRequirements"), 0);
    EXPECT_EQ(h.OpenedAddressCount(), 1);
    EXPECT_EQ(h.LastOpenedAddress().rfind("https://", 0), 0u) << h.LastOpenedAddress();
    EXPECT_EQ(h.PromptsShown(), 0);
}

}  // namespace
