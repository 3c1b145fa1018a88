// What the upload initialisation tells TikTok, as the sandbox received it: a post's information only
// for a direct post, the permissions and cover frame from the export settings, sizes as strings.
#include <gtest/gtest.h>

#include <limits>

#include "PublishTestSupport.h"

namespace {

using namespace vekta::test;

constexpr std::int64_t kTicksPerSecond = 254'016'000'000;

class PublishBody : public ::testing::Test {
protected:
    void SetUp() override {
        SignedInForPost(h);
        WriteRandomFile(file, 1000);
        DescribeExport(h, {file});
    }

    tiktok_sandbox::ReceivedUpload PublishOnce() {
        EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);
        const auto uploads = h.Sandbox().Uploads();
        EXPECT_FALSE(uploads.empty());
        return uploads.empty() ? tiktok_sandbox::ReceivedUpload{} : uploads.back();
    }

    PluginHarness h;
    TempFolder folder;
    std::filesystem::path file = folder / "export.mp4";
};

TEST_F(PublishBody, DirectPostSendsThePostSettingsAndStringSizes) {
    h.SetText("VOXATikTokCaption", u"Über den Wolken #clouds");
    ASSERT_EQ(h.Changed("VOXATikTokCaption"), 0);
    h.SetInteger("VOXATikTokCommentPermission", 1);
    h.SetInteger("VOXATikTokDuetPermission", 0);
    h.SetInteger("VOXATikTokStitchPermission", 1);

    const auto upload = PublishOnce();

    EXPECT_EQ(upload.kind, tiktok_sandbox::InitKind::DirectPost);
    EXPECT_EQ(upload.sourceInfo, nlohmann::json::parse(R"({"source":"FILE_UPLOAD","video_size":"1000",
                                                           "chunk_size":"1000","total_chunk_count":"1"})"));
    EXPECT_EQ(upload.postInfo, nlohmann::json::parse(R"({"privacy_level":"PUBLIC_TO_EVERYONE",
        "title":"Über den Wolken #clouds","disable_comment":false,"disable_duet":true,"disable_stitch":false,
        "video_cover_timestamp_ms":0})"));
}

TEST_F(PublishBody, AllPermissionsUncheckedDisableCommentDuetAndStitch) {
    for (const char* id : {"VOXATikTokCommentPermission", "VOXATikTokDuetPermission", "VOXATikTokStitchPermission"})
        h.SetInteger(id, 0);
    const auto upload = PublishOnce();
    EXPECT_EQ(upload.postInfo.value("disable_comment", false), true);
    EXPECT_EQ(upload.postInfo.value("disable_duet", false), true);
    EXPECT_EQ(upload.postInfo.value("disable_stitch", false), true);
}

TEST_F(PublishBody, DraftSendsTheSourceOnlyToTheInbox) {
    h.SetInteger("VOXATikTokPublishType", 1);
    const auto upload = PublishOnce();
    EXPECT_EQ(upload.kind, tiktok_sandbox::InitKind::Inbox);
    EXPECT_TRUE(upload.postInfo.is_null());
    EXPECT_EQ(upload.sourceInfo.value("video_size", ""), "1000");
    EXPECT_TRUE(upload.complete);
}

TEST_F(PublishBody, PublishTypeOutsideThePopupIsAPost) {
    h.SetInteger("VOXATikTokPublishType", 2);
    const auto upload = PublishOnce();
    EXPECT_EQ(upload.kind, tiktok_sandbox::InitKind::DirectPost);
    EXPECT_EQ(upload.postInfo.value("privacy_level", ""), "PUBLIC_TO_EVERYONE");
}

TEST_F(PublishBody, CoverTicksBecomeWholeMillisecondsFromZeroToTheThirtyTwoBitMaximum) {
    const struct {
        std::int64_t ticks;
        std::int64_t ms;
    } cases[] = {
        {0, 0},
        {kTicksPerSecond, 1000},
        {kTicksPerSecond / 1000 * 1999 + 1, 1999},  // truncated, not rounded
        {kTicksPerSecond * 3'000'000, std::numeric_limits<std::int32_t>::max()},
        {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int32_t>::max()},
        // A frame before the start cannot be a cover; TikTok refuses a negative time.
        {-kTicksPerSecond, 0},
        {std::numeric_limits<std::int64_t>::min(), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("ticks " + std::to_string(c.ticks));
        h.SetTime("VOXATikTokCoverImageThumbnailTimeToken", c.ticks);
        ASSERT_EQ(h.Refresh(), 0);
        const auto upload = PublishOnce();
        ASSERT_TRUE(upload.postInfo.contains("video_cover_timestamp_ms"));
        EXPECT_EQ(upload.postInfo["video_cover_timestamp_ms"].get<std::int64_t>(), c.ms);
    }
}

}  // namespace
