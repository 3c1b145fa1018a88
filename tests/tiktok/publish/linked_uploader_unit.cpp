// Publishing with the plug-in's code linked into the test program and driven through the table the
// module would hand out, for what needs the uploader itself: the settings it keeps, its abort flag
// and a shortened idle limit.
#include <gtest/gtest.h>

#include "../PublishTestSupport.h"
#include "plugin/CallbackTable.h"
#include "plugin/InstanceLookup.h"

namespace {

using namespace vekta::test;
using tiktok_sandbox::Endpoint;
using tiktok_sandbox::Fault;

const PostProcessCallbacks& LinkedTable() {
    static const PostProcessCallbacks table = [] {
        PostProcessCallbacks filled{};
        Vekta::FillCallbackTable(filled);
        return filled;
    }();
    return table;
}

class LinkedUploader : public ::testing::Test {
protected:
    void SetUp() override {
        SignedInForPost(h);
        WriteRandomFile(file, 12'000'000);  // two chunks
        DescribeExport(h, {file});
        uploader = Vekta::LookupInstance(&h.Record());
        ASSERT_TRUE(uploader);
    }

    PluginHarness h{LinkedTable()};
    TempFolder folder;
    std::filesystem::path file = folder / "export.mp4";
    talcore::utility::RefCountedPtr<Vekta::TikTokUploader> uploader;
};

// A draft run reads no post settings: the instance keeps those of the last post run.
TEST_F(LinkedUploader, ADraftRunKeepsTheLastPostsSettingsWithoutSendingThem) {
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

    const auto settings = uploader->GetPublishSettings();
    EXPECT_EQ(settings.privacyLevel, "PUBLIC_TO_EVERYONE");
    EXPECT_EQ(settings.title, "from the post");
    EXPECT_TRUE(settings.disableComment);
    EXPECT_FALSE(settings.disableDuet);
    EXPECT_TRUE(settings.disableStitch);
    const auto uploads = h.Sandbox().Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[1].kind, tiktok_sandbox::InitKind::Inbox);
    EXPECT_TRUE(uploads[1].postInfo.is_null());
    EXPECT_EQ(uploads[1].sourceInfo.value("video_size", ""), "12000000");
}

// The host releases the instance on its main thread while Execute uploads on another. The chunk is
// never answered while the release waits: it gives up after its 301 waits of 50 ms and returns with
// the upload still in flight; answered at last, the chunk ends the job aborted.
TEST_F(LinkedUploader, DestroyDuringAnUploadAbortsItAndReturnsWithinItsBound) {
    h.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Hang());
    auto run = ExecuteAsync(h);
    ASSERT_TRUE(h.Sandbox().Faults().WaitUntilHanging(1, std::chrono::seconds(20)));

    auto destroy = std::async(std::launch::async, [&] { return h.Table().destroyInstance(&h.Record()); });
    EXPECT_TRUE(WaitUntil([&] { return uploader->AbortRequested(); }, std::chrono::seconds(10)));
    const bool returned = destroy.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    EXPECT_EQ(h.Sandbox().Faults().Hanging(), 1u);
    EXPECT_TRUE(EventsInState(h.StatusEvents(), kUploadStateAborted).empty());
    h.Sandbox().Faults().ReleaseHangs();
    ASSERT_TRUE(returned);
    EXPECT_EQ(destroy.get(), 0);

    EXPECT_EQ(Finish(run), 0);
    EXPECT_EQ(h.StatusEvents().back().state, kUploadStateAborted);
    EXPECT_EQ(ChunkRequests(h.Sandbox()).size(), 1u);
}

TEST_F(LinkedUploader, AChunkUnansweredPastTheIdleLimitIsCancelledAndFailsWithNoResponse) {
    uploader->SetIdleLimitSecondsForTesting(1);
    uploader->SetWaitSliceSecondsForTesting(1);
    h.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Hang());

    auto run = ExecuteAsync(h);
    EXPECT_EQ(Finish(run), 0);
    // The sandbox still holds the request that was given up on; nothing came after it.
    EXPECT_EQ(h.Sandbox().Faults().Hanging(), 1u);
    EXPECT_TRUE(ChunkRequests(h.Sandbox()).empty());
    h.Sandbox().Faults().ReleaseHangs();

    const auto events = h.StatusEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].state, kUploadStateUploading);
    EXPECT_EQ(events[1].state, kUploadStateFailed);
    EXPECT_EQ(events[1].resultCode, 20u);
}

}  // namespace
