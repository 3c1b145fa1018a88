// A TikTok that accepts a request and never answers it, with the uploader's time limits shortened
// so that the real code paths run in a second instead of minutes.
#include <gtest/gtest.h>

#include "LinkedPlugin.h"

namespace {

using namespace vekta::test;
using tiktok_sandbox::Endpoint;
using tiktok_sandbox::Fault;

class TimeLimits : public ::testing::Test {
protected:
    void SetUp() override {
        SignedInForPost(h);
        WriteRandomFile(file, 12'000'000);
        DescribeExport(h, {file});
    }
    void TearDown() override { h.Sandbox().Faults().ReleaseHangs(); }

    PluginHarness h{LinkedTable()};
    TempFolder folder;
    std::filesystem::path file = folder / "export.mp4";
};

TEST_F(TimeLimits, AChunkUnansweredPastTheIdleLimitIsCancelledAndFailsWithNoResponse) {
    const auto uploader = Uploader(h);
    ASSERT_TRUE(uploader);
    uploader->SetIdleLimitSecondsForTesting(1);
    uploader->SetWaitSliceSecondsForTesting(1);
    h.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Hang());

    auto run = ExecuteAsync(h);
    EXPECT_EQ(Finish(run), 0);

    const auto events = h.StatusEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].state, kUploadStateUploading);
    EXPECT_EQ(events[1].state, kUploadStateFailed);
    EXPECT_EQ(events[1].resultCode, 20u);
    EXPECT_EQ(events[1].text,
              u"The TikTok server failed to respond during upload. Please check your network connection.");
    // The sandbox still holds the request that was given up on; nothing came after it.
    EXPECT_EQ(h.Sandbox().Faults().Hanging(), 1u);
    EXPECT_TRUE(ChunkRequests(h.Sandbox()).empty());
}

TEST_F(TimeLimits, AnUnansweredInitialisationIsCancelledAndFailsWithoutAnUploadUrl) {
    const auto uploader = Uploader(h);
    ASSERT_TRUE(uploader);
    uploader->SetRequestTimeoutForTesting(1);
    h.Sandbox().Faults().Add(Endpoint::DirectPostInit, Fault::Hang());

    auto run = ExecuteAsync(h);
    EXPECT_EQ(Finish(run), 1);

    const auto events = h.StatusEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].state, kUploadStateFailed);
    EXPECT_EQ(events[0].resultCode, 19u);
    EXPECT_EQ(events[0].text, u"Unable to upload to TikTok. You can upload it manually from:\n" + Utf16(file));
}

}  // namespace
