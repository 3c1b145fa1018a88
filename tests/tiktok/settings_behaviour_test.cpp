// The TikTok group following the account and the user's edits, through the module's callbacks and
// the reference host's export-parameter suite: the account facts each creator-info field sets,
// the privacy choices, what a draft greys out, the caption's default and the cover frame.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

#include "tests/tiktok/PublishTestSupport.h"

namespace {

using vekta::sandbox::Endpoint;
using vekta::sandbox::Fault;
using vekta::test::ChoosePrivacy;
using vekta::test::PluginHarness;

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

// The host's own ticks-per-frame parameter, which the plug-in reads but does not add.
void AddTicksPerFrame(PluginHarness& h) {
    ParamInfo info{};
    info.structVersion = info.value.structVersion = kParamStructVersion;
    std::strcpy(info.identifier, "VOXAHiddenTicksPerFrame");
    info.type = kParamTypeHiddenInt64;
    info.value.hidden = info.value.disabled = 1;
    const auto* suite = vekta::host::ExportParamHost::Suite();
    ASSERT_EQ(suite->AddParameter(h.InstanceID(), 0, vekta::host::kDefaultHostGroupID, &info), 0);
}

struct AccountFacts {
    std::u16string status;
    std::int32_t privateAccount, commentDisabled, duetDisabled, stitchDisabled, maxDurationSec;

    bool operator==(const AccountFacts&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const AccountFacts& f) {
        return out << "{status size " << f.status.size() << ", private " << f.privateAccount << ", comment "
                   << f.commentDisabled << ", duet " << f.duetDisabled << ", stitch " << f.stitchDisabled << ", max "
                   << f.maxDurationSec << "}";
    }
};

AccountFacts Facts(const PluginHarness& h) {
    const auto status = h.ChoiceLabels("VOXATikTokStatusText");
    return {status.empty() ? u"" : status.front(),         h.Integer("VOXATikTokPrivateAccount"),
            h.Integer("VOXATikTokAccountCommentDisabled"), h.Integer("VOXATikTokAccountDuetDisabled"),
            h.Integer("VOXATikTokAccountStitchDisabled"),  h.Integer("VOXATikTokAccountMaxDuration")};
}

TEST(AccountInfo, EachFieldOfAnAnswerChangesOnlyItsOwnFactAndAWrongTypeStopsTheReading) {
    auto config = vekta::test::DefaultSandboxConfig();
    config.creator.duetDisabled = true;
    config.creator.maxVideoPostDurationSec = 300;
    PluginHarness h(config);
    h.CreateAddAndRefresh();
    ASSERT_TRUE(h.SignIn());
    // The sandbox's creator: a public account with duets off and five minutes at most.
    const AccountFacts creator{u"Signed in as Sandbox Creator", 0, 0, 1, 0, 300};
    ASSERT_EQ(Facts(h), creator);

    const auto with = [&](auto change) {
        AccountFacts facts = creator;
        change(facts);
        return facts;
    };
    const struct {
        std::string body;
        int status;
        AccountFacts expected;
    } cases[] = {
        {R"({"data":{"creator_nickname":"Renamed"}})", 200, with([](auto& f) { f.status = u"Signed in as Renamed"; })},
        {R"({"data":{"max_video_post_duration_sec":600}})", 200, with([](auto& f) { f.maxDurationSec = 600; })},
        // Only the low 32 bits count: 2^32 + 900.
        {R"({"data":{"max_video_post_duration_sec":4294968196}})", 200, with([](auto& f) { f.maxDurationSec = 900; })},
        {R"({"data":{"comment_disabled":true}})", 200, with([](auto& f) { f.commentDisabled = 1; })},
        {R"({"data":{"comment_disabled":"true"}})", 200, with([](auto& f) { f.commentDisabled = 1; })},
        {R"({"data":{"stitch_disabled":1}})", 200, with([](auto& f) { f.stitchDisabled = 1; })},
        {R"({"data":{"duet_disabled":"false"}})", 200, with([](auto& f) { f.duetDisabled = 0; })},
        {R"({"data":{}})", 200, creator},
        {R"({"error":{"code":"ok"}})", 200, creator},
        {R"({"data":{"creator_nickname":"Renamed","comment_disabled":true}})", 500, creator},
        {R"({"data":{"creator_nickname":"Renamed","comment_disabled":true}})", 204, creator},
        // A value of another type ends the reading there: nothing after it counts.
        {R"({"data":{"privacy_level_options":[7,"FOLLOWER_OF_CREATOR"],"stitch_disabled":true,"creator_nickname":"Late"}})",
         200, creator},
        {R"({"data":{"max_video_post_duration_sec":"600","creator_nickname":"Late"}})", 200, creator},
        // The privacy options before "yes" are kept. Last, since a private account stays private.
        {R"({"data":{"privacy_level_options":["PUBLIC_TO_EVERYONE","FOLLOWER_OF_CREATOR"],"comment_disabled":"yes",)"
         R"("stitch_disabled":true,"creator_nickname":"Late"}})",
         200, with([](auto& f) { f.privateAccount = 1; })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body + " " + std::to_string(c.status));
        ASSERT_EQ(h.Refresh(), 0);  // the sandbox's own answer puts every fact back
        ASSERT_EQ(Facts(h), creator);
        h.Sandbox().Faults().Add(Endpoint::CreatorInfo, Fault::Respond(c.status, c.body));
        ASSERT_EQ(h.Refresh(), 0);
        EXPECT_EQ(Facts(h), c.expected);
    }
}

const std::vector<std::u16string> kSignedOutChoices{u"Select an option...", u"Private"};
const std::vector<std::u16string> kPublicChoices{u"Everyone", u"Friends", u"Private"};
const std::vector<std::u16string> kPrivateChoices{u"Followers", u"Friends", u"Private"};

// The person presses Cancel on the login prompt instead of following the address.
void CancelNextSignIn(PluginHarness& h) {
    h.SetBrowserAction([&h](const std::string&) {
        vekta::test::PollUntil([&] { return h.PressPromptCancel(); }, std::chrono::seconds(10));
    });
}

// Once seen private, the account stays private even when TikTok stops saying so, until it ends.
TEST(SettingsBehaviour, APrivateAccountStaysPrivateUntilItEndsAndTheNextPublicOneIsOfferedEveryone) {
    enum class End { SignOutButton, RefusedAtRefresh, RefusedWhilePublishing };
    for (const End end : {End::SignOutButton, End::RefusedAtRefresh, End::RefusedWhilePublishing}) {
        SCOPED_TRACE(static_cast<int>(end));
        auto config = vekta::test::DefaultSandboxConfig();
        config.creator.privateAccount = true;
        config.creator.commentDisabled = true;
        PluginHarness h(config);
        h.CreateAddAndRefresh();
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), kSignedOutChoices);
        EXPECT_EQ(h.Integer("VOXATikTokPrivacy"), 4);
        ASSERT_TRUE(h.SignIn());
        ASSERT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), kPrivateChoices);
        ASSERT_TRUE(h.Disabled("VOXATikTokCommentPermission"));
        ChoosePrivacy(h, 1);
        ASSERT_EQ(h.ArrayText("VOXATikTokPrivacyToken"), u"FOLLOWER_OF_CREATOR");
        h.Sandbox().SetPrivateAccount(false);
        ASSERT_EQ(h.Refresh(), 0);
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), kPrivateChoices);
        EXPECT_EQ(h.Integer("VOXATikTokPrivateAccount"), 1);
        EXPECT_EQ(h.Integer("VOXATikTokPrivacy"), 1);  // the refill keeps the choice

        const vekta::test::TempFolder folder;
        switch (end) {
            case End::SignOutButton:
                ASSERT_EQ(h.Changed("VOXATikTokLogin"), 0);
                break;
            case End::RefusedAtRefresh:
                h.Sandbox().RevokeRefreshTokens();
                ASSERT_EQ(h.Refresh(), 0);
                break;
            case End::RefusedWhilePublishing: {
                // Nothing refreshes the settings before the person presses the button again.
                h.Sandbox().RevokeRefreshTokens();
                vekta::test::WriteRandomFile(folder / "export.mp4", 4096);
                vekta::test::DescribeExport(h, {folder / "export.mp4"});
                auto run = vekta::test::ExecuteAsync(h);
                ASSERT_NE(vekta::test::Finish(run), -1) << "the run did not end";
                break;
            }
        }
        ASSERT_FALSE(h.HasCredentials());
        if (end != End::RefusedWhilePublishing) {
            EXPECT_EQ(h.Integer("VOXATikTokPrivateAccount"), 0);
            EXPECT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), kSignedOutChoices);
            EXPECT_EQ(h.Integer("VOXATikTokPrivacy"), 4);
            EXPECT_EQ(h.ArrayText("VOXATikTokPrivacyToken"), u"");
        }

        // A sign-in given up on offers nobody's choices.
        CancelNextSignIn(h);
        EXPECT_FALSE(h.SignIn());
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), kSignedOutChoices);

        vekta::sandbox::CreatorSettings other;
        other.nickname = "Public Creator";
        h.Sandbox().SetCreator(other);
        h.SetBrowserAction(nullptr);
        ASSERT_TRUE(h.SignIn());
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), kPublicChoices);
        EXPECT_EQ(h.Integer("VOXATikTokPrivateAccount"), 0);
        EXPECT_FALSE(h.Disabled("VOXATikTokCommentPermission")) << "this creator allows comments";
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokStatusText"), std::vector<std::u16string>{u"Signed in as Public Creator"});
        ASSERT_EQ(h.Refresh(), 0);
        EXPECT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), kPublicChoices);
    }
}

TEST(SettingsBehaviour, AChosenPrivacyLevelTheAccountNoLongerOffersGoesBackToUnselected) {
    enum class Then { TurnsPrivate, SignsOut };
    const struct {
        std::int32_t chosen;
        Then then;
        std::int32_t position;
        std::u16string level;
    } cases[] = {
        {0, Then::TurnsPrivate, 4, u""},
        {2, Then::TurnsPrivate, 2, u"MUTUAL_FOLLOW_FRIENDS"},
        {3, Then::TurnsPrivate, 3, u"SELF_ONLY"},
        {0, Then::SignsOut, 4, u""},
        {2, Then::SignsOut, 4, u""},
        {3, Then::SignsOut, 3, u"SELF_ONLY"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.chosen) + (c.then == Then::TurnsPrivate ? " turns private" : " signs out"));
        PluginHarness h;
        h.CreateAddAndRefresh();
        ASSERT_TRUE(h.SignIn());
        ChoosePrivacy(h, c.chosen);
        if (c.then == Then::TurnsPrivate) {
            h.Sandbox().SetPrivateAccount(true);
            ASSERT_EQ(h.Refresh(), 0);
            ASSERT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), kPrivateChoices);
        } else {
            ASSERT_EQ(h.Changed("VOXATikTokLogin"), 0);
            ASSERT_EQ(h.ChoiceLabels("VOXATikTokPrivacy"), kSignedOutChoices);
        }
        EXPECT_EQ(h.Integer("VOXATikTokPrivacy"), c.position);
        EXPECT_EQ(h.ArrayText("VOXATikTokPrivacyToken"), c.level);
    }
}

// Draft greys out the post settings and keeps what they hold: a caption longer than the host's
// record holds inline (TikTok takes 2200 units, the record 255) stays whole through draft and back
// on either kind of host, and a permission the creator has disabled stays off throughout.
TEST(SettingsBehaviour, DraftGreysOutThePostSettingsAndALongCaptionStaysWholeThroughIt) {
    using vekta::host::LongTextRecords;
    std::u16string caption = u"\U0001F3AC ";
    while (caption.size() < 2200) caption += u"#CorvaneSolvane ";
    caption.resize(2200);
    auto config = vekta::test::DefaultSandboxConfig();
    config.creator.commentDisabled = true;
    for (const auto rule : {LongTextRecords::KeptWhenUnchanged, LongTextRecords::TakenAsGiven}) {
        SCOPED_TRACE(rule == LongTextRecords::TakenAsGiven ? "taken as given" : "kept when unchanged");
        PluginHarness h(config);
        h.CreateAddAndRefresh();
        ASSERT_TRUE(h.SignIn());
        h.Settings().SetLongTextRecords(rule);
        struct Restore {
            ~Restore() { vekta::host::ExportParamHost::Get().SetLongTextRecords(LongTextRecords::KeptWhenUnchanged); }
        } restore;
        h.SetText("VOXATikTokCaption", caption);
        ASSERT_EQ(h.Changed("VOXATikTokCaption"), 0);
        const auto expect = [&](bool draft) {
            for (const auto& id :
                 {"VOXATikTokCaption", "VOXATikTokPrivacy", "VOXATikTokCoverImageThumbnailTime",
                  "VOXATikTokCoverImageThumbnailTimeBtn", "VOXATikTokDuetPermission", "VOXATikTokStitchPermission"})
                EXPECT_EQ(h.Disabled(id), draft) << id;
            EXPECT_TRUE(h.Disabled("VOXATikTokCommentPermission"));
            const auto text = h.Text("VOXATikTokCaption");
            EXPECT_TRUE(text == caption) << "draft " << draft << ": " << text.size() << " units";
        };
        for (const std::int32_t type : {1, 0}) {
            h.SetInteger("VOXATikTokPublishType", type);
            ASSERT_EQ(h.Changed("VOXATikTokPublishType"), 0);
            expect(type == 1);
        }
        ASSERT_EQ(h.Refresh(), 0);
        expect(false);
    }
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
        {"VOXATikTokCoverImageThumbnailTimeBtn", 1000, 7, 0, 1000, 7},
        {"VOXATikTokCoverImageThumbnailTimeBtn", kMin, 0, -1, kMin, kMax},
        {"VOXATikTokCoverImageThumbnailTime", 5, 12, 100, 1200, 12},
        {"VOXATikTokCoverImageThumbnailTime", 5, 12, 0, 5, 12},
        {"VOXATikTokCoverImageThumbnailTime", 5, kMax / 2 + 1, 4, kMax, kMax / 2 + 1},
        {"VOXATikTokCoverImageThumbnailTime", 5, kMin, -1, kMax, kMin},
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

}  // namespace
