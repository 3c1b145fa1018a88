// What the creator-info answer does to the account facts in the settings, field by field.
#include <gtest/gtest.h>

#include "PluginHarness.h"
#include "SignInSupport.h"

namespace {

using tiktok_sandbox::Endpoint;
using tiktok_sandbox::Fault;
using vekta::test::PluginHarness;

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

// The sandbox's creator: a public account with duets off and five minutes at most.
const AccountFacts kCreator{u"Signed in as Sandbox Creator", 0, 0, 1, 0, 300};

tiktok_sandbox::SandboxConfig CreatorConfig() {
    auto config = vekta::test::DefaultSandboxConfig();
    config.creator.duetDisabled = true;
    config.creator.maxVideoPostDurationSec = 300;
    return config;
}

// The next creator query is answered with `body` (status 200 unless given) through a refresh.
void AnswerCreatorInfo(PluginHarness& h, const std::string& body, int status = 200) {
    h.Sandbox().Faults().Add(Endpoint::CreatorInfo, Fault::Respond(status, body));
    ASSERT_EQ(h.Refresh(), 0);
}

TEST(AccountInfo, EachFieldOfAnAnswerChangesOnlyItsOwnFact) {
    PluginHarness h(CreatorConfig());
    h.CreateAddAndRefresh();
    ASSERT_TRUE(h.SignIn());
    ASSERT_EQ(Facts(h), kCreator);

    const auto with = [](auto change) {
        AccountFacts facts = kCreator;
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
        {R"({"data":{"max_video_post_duration_sec":-2}})", 200, with([](auto& f) { f.maxDurationSec = -2; })},
        {R"({"data":{"comment_disabled":true}})", 200, with([](auto& f) { f.commentDisabled = 1; })},
        {R"({"data":{"comment_disabled":"true"}})", 200, with([](auto& f) { f.commentDisabled = 1; })},
        {R"({"data":{"stitch_disabled":1}})", 200, with([](auto& f) { f.stitchDisabled = 1; })},
        {R"({"data":{"duet_disabled":"false"}})", 200, with([](auto& f) { f.duetDisabled = 0; })},
        {R"({"data":{"duet_disabled":0}})", 200, with([](auto& f) { f.duetDisabled = 0; })},
        {R"({"data":{}})", 200, kCreator},
        {R"({"error":{"code":"ok"}})", 200, kCreator},
        {R"({"data":{"creator_nickname":"Renamed","comment_disabled":true}})", 500, kCreator},
        {R"({"data":{"creator_nickname":"Renamed","comment_disabled":true}})", 204, kCreator},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body + " " + std::to_string(c.status));
        ASSERT_EQ(h.Refresh(), 0);  // the sandbox's own answer puts every fact back
        ASSERT_EQ(Facts(h), kCreator);
        AnswerCreatorInfo(h, c.body, c.status);
        EXPECT_EQ(Facts(h), c.expected);
    }
}

TEST(AccountInfo, ValueOfAnotherTypeStopsTheAnswerThereAndIsTraced) {
    PluginHarness h(CreatorConfig());
    h.CreateAddAndRefresh();
    ASSERT_TRUE(h.SignIn());
    const struct {
        std::string body;
        std::int32_t privateAccount;
    } cases[] = {
        {R"({"data":{"privacy_level_options":[7,"FOLLOWER_OF_CREATOR"],"stitch_disabled":true,"creator_nickname":"Late"}})",
         0},
        {R"({"data":{"max_video_post_duration_sec":"600","creator_nickname":"Late"}})", 0},
        // The privacy options come first and are kept; nothing after "yes" is read. Last, since a
        // private account stays private.
        {R"({"data":{"privacy_level_options":["PUBLIC_TO_EVERYONE","FOLLOWER_OF_CREATOR"],"comment_disabled":"yes",)"
         R"("stitch_disabled":true,"creator_nickname":"Late"}})",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        ASSERT_EQ(h.Refresh(), 0);
        const vekta::test::TraceCapture trace;
        AnswerCreatorInfo(h, c.body);
        AccountFacts expected = kCreator;
        expected.privateAccount = c.privateAccount;
        EXPECT_EQ(Facts(h), expected);
        EXPECT_NE(trace.Text().find("HandleQueryCreatorInfoResponse Error: "), std::string::npos) << trace.Text();
    }
}

}  // namespace
