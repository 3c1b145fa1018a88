// A draft run reads no post settings: the instance keeps those of the last post run.
#include <gtest/gtest.h>

#include "LinkedPlugin.h"

namespace {

using namespace vekta::test;

TEST(DraftAfterPost, ADraftRunKeepsTheLastPostsSettingsWithoutSendingThem) {
    PluginHarness h{LinkedTable()};
    SignedInForPost(h);
    TempFolder folder;
    const auto file = folder / "export.mp4";
    WriteRandomFile(file, 1000);
    DescribeExport(h, {file});
    h.SetText("VOXATikTokCaption", u"from the post");
    h.SetInteger("VOXATikTokCommentPermission", 0);
    h.SetInteger("VOXATikTokDuetPermission", 1);
    h.SetInteger("VOXATikTokStitchPermission", 0);
    ASSERT_EQ(h.Table().execute(&h.Record(), 5), 0);

    h.SetInteger("VOXATikTokPublishType", 1);
    h.SetText("VOXATikTokCaption", u"changed for the draft");
    ChoosePrivacy(h, 3);
    h.SetInteger("VOXATikTokCommentPermission", 1);
    ASSERT_EQ(h.Table().execute(&h.Record(), 5), 0);

    const auto settings = Uploader(h)->GetPublishSettings();
    EXPECT_EQ(settings.privacyLevel, "PUBLIC_TO_EVERYONE");
    EXPECT_EQ(settings.title, "from the post");
    EXPECT_TRUE(settings.disableComment);
    EXPECT_FALSE(settings.disableDuet);
    EXPECT_TRUE(settings.disableStitch);
    const auto uploads = h.Sandbox().Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[1].kind, tiktok_sandbox::InitKind::Inbox);
    EXPECT_TRUE(uploads[1].postInfo.is_null());
}

}  // namespace
