// The host's abort command (SendCommand 1) from its own thread while Execute runs the upload on
// another: it takes effect once the chunk in flight has been answered.
#include <gtest/gtest.h>

#include "PublishTestSupport.h"

namespace {

using namespace vekta::test;
using tiktok_sandbox::Endpoint;
using tiktok_sandbox::Fault;

constexpr auto kBound = std::chrono::seconds(20);

class PublishAbort : public ::testing::Test {
protected:
    void SetUp() override { SignedInForPost(h); }

    // Runs Execute while the first chunk hangs in the sandbox, sends the abort meanwhile, then lets
    // the chunk be answered.
    std::int32_t PublishAbortingDuringFirstChunk() {
        h.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Hang());
        auto run = ExecuteAsync(h);
        EXPECT_TRUE(h.Sandbox().Faults().WaitUntilHanging(1, kBound));
        EXPECT_EQ(h.Table().sendCommand(&h.Record(), 1), 0);
        // Nothing happens before the chunk is answered.
        EXPECT_EQ(h.Table().queryStatus(&h.Record()), kUploadStateUploading);
        h.Sandbox().Faults().ReleaseHangs();
        return Finish(run);
    }

    PluginHarness h;
    TempFolder folder;
    std::filesystem::path file = folder / "export.mp4";
};

TEST_F(PublishAbort, AbortDuringFirstChunkReportsAbortedAfterItsAnswer) {
    WriteRandomFile(file, 12'000'000);
    DescribeExport(h, {file});

    EXPECT_EQ(PublishAbortingDuringFirstChunk(), 0);

    const auto events = h.StatusEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].state, kUploadStateUploading);
    EXPECT_NEAR(events[0].progress, 0.4369, 0.0001);
    EXPECT_EQ(events[1].state, kUploadStateAborted);
    EXPECT_EQ(events[1].resultCode, 2u);
    EXPECT_EQ(events[1].text, u"Aborted");
    EXPECT_EQ(events[1].progress, 0.0f);
    EXPECT_EQ(h.Table().queryStatus(&h.Record()), kUploadStateAborted);
    // The first chunk arrived; no request followed it.
    EXPECT_EQ(ChunkRequests(h.Sandbox()).size(), 1u);
    EXPECT_EQ(h.Sandbox().Uploads().back().chunks.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(file));
}

// Once the last chunk is answered TikTok has the whole video and will publish it; calling that
// "Aborted" would tell the user the opposite of what happened.
TEST_F(PublishAbort, AbortDuringTheLastChunkCannotUndoACompleteUpload) {
    WriteRandomFile(file, 1000);
    DescribeExport(h, {file});

    EXPECT_EQ(PublishAbortingDuringFirstChunk(), 0);

    EXPECT_EQ(h.StatusEvents().back().state, kUploadStateSucceeded);
    EXPECT_TRUE(h.Sandbox().Uploads().back().complete);
}

// The host may abort while the export is still rendering; the request holds for the instance, so
// the upload that follows ends before any of its bytes go out.
TEST_F(PublishAbort, AnAbortSentBeforeTheUploadEndsItBeforeItsFirstChunk) {
    WriteRandomFile(file, 12'000'000);
    DescribeExport(h, {file});
    EXPECT_EQ(h.Table().sendCommand(&h.Record(), 1), 0);

    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);

    EXPECT_EQ(h.StatusEvents().back().state, kUploadStateAborted);
    EXPECT_EQ(h.StatusEvents().back().resultCode, 2u);
    EXPECT_TRUE(ChunkRequests(h.Sandbox()).empty());
}

}  // namespace
