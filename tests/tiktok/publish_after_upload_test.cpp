// What follows a successful transfer: deleting the exported files when the user asked for it, the
// warning when that fails, and the profile link as a notice before the completion.
#include <gtest/gtest.h>

#include "PublishTestSupport.h"

namespace {

using namespace vekta::test;

constexpr char16_t kProfileLink[] = u"https://www.tiktok.com/@sandbox.creator";

class PublishAfterUpload : public ::testing::Test {
protected:
    void SetUp() override {
        SignedInForPost(h);
        WriteRandomFile(file, 1000);
    }

    PluginHarness h;
    TempFolder folder;
    std::filesystem::path file = folder / "export.mp4";
};

TEST_F(PublishAfterUpload, SuccessPostsTheProfileLinkAsANoticeBeforeCompleting) {
    DescribeExport(h, {file});
    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);

    const auto events = h.StatusEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].state, kUploadStateUploading);
    EXPECT_EQ(events[0].progress, 1.0f);
    EXPECT_EQ(events[1].state, kUploadStateNotice);
    EXPECT_EQ(events[1].text, kProfileLink);
    EXPECT_EQ(events[1].progress, 0.0f);
    EXPECT_EQ(events[1].resultCode, 0u);
    EXPECT_EQ(events[2].state, kUploadStateSucceeded);  // a notice alone is not stored
    EXPECT_EQ(events[2].progress, 1.0f);
    EXPECT_TRUE(events[2].text.empty());
    EXPECT_TRUE(std::filesystem::exists(file));
}

// The delete setting is read before the publish type, so a draft deletes as a post does.
TEST_F(PublishAfterUpload, ADraftWithDeleteLocalFileRemovesTheExportAfterItArrived) {
    h.SetInteger("VOXATikTokDeleteLocalFile", 1);
    h.SetInteger("VOXATikTokPublishType", 1);
    DescribeExport(h, {file});

    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);

    EXPECT_TRUE(h.Sandbox().Uploads().back().complete);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(h.StatusEvents().back().state, kUploadStateSucceeded);
}

TEST_F(PublishAfterUpload, AFailedUploadKeepsTheFileEvenWithDeleteLocalFile) {
    h.SetInteger("VOXATikTokDeleteLocalFile", 1);
    h.Sandbox().Faults().Add(tiktok_sandbox::Endpoint::UploadChunk, tiktok_sandbox::Fault::Respond(500));
    DescribeExport(h, {file});

    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);

    EXPECT_EQ(h.StatusEvents().back().state, kUploadStateFailed);
    EXPECT_TRUE(std::filesystem::exists(file));
}

// A non-empty folder cannot be removed as a file, whoever runs the test.
TEST_F(PublishAfterUpload, AnExportThatCannotBeDeletedEndsSucceededWithNotice) {
    const auto sidecar = folder / "sidecar";
    std::filesystem::create_directories(sidecar / "inside");
    h.SetInteger("VOXATikTokDeleteLocalFile", 1);
    DescribeExport(h, {file, sidecar});

    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);

    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(std::filesystem::exists(sidecar));
    const auto notices = EventsInState(h.StatusEvents(), kUploadStateNotice);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].text, u"Error deleting exported file after a successful upload.");
    EXPECT_FLOAT_EQ(notices[0].progress, 0.99f);
    EXPECT_EQ(notices[0].resultCode, 0u);
    EXPECT_EQ(notices[1].text, kProfileLink);
    const auto last = h.StatusEvents().back();
    EXPECT_EQ(last.state, kUploadStateSucceededWithNotice);
    EXPECT_EQ(last.progress, 1.0f);
    EXPECT_EQ(h.Table().queryStatus(&h.Record()), kUploadStateSucceededWithNotice);
}

}  // namespace
