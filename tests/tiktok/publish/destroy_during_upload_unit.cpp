// The host releases an instance (DestroyInstance, on its main thread) while Execute is uploading on
// another thread: the upload is aborted and the release waits for it, but never unboundedly.
#include <gtest/gtest.h>

#include "LinkedPlugin.h"

namespace {

using namespace vekta::test;
namespace host = vekta::host;
using tiktok_sandbox::Endpoint;
using tiktok_sandbox::Fault;

class DestroyDuringUpload : public ::testing::Test {
protected:
    void SetUp() override {
        SignedInForPost(h);
        WriteRandomFile(file, 12'000'000);
        DescribeExport(h, {file});
        uploader = Uploader(h);
        ASSERT_TRUE(uploader);
        h.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Hang());
        run = ExecuteAsync(h);
        ASSERT_TRUE(h.Sandbox().Faults().WaitUntilHanging(1, std::chrono::seconds(20)));
    }
    void TearDown() override {
        h.Sandbox().Faults().ReleaseHangs();
        if (run.valid()) Finish(run);
    }
    // Destroys on a thread of its own; the result holds the events the host had seen by the time
    // DestroyInstance returned.
    std::future<std::vector<host::StatusEvent>> DestroyAsync() {
        return std::async(std::launch::async, [this] {
            EXPECT_EQ(h.Table().destroyInstance(&h.Record()), 0);
            return h.StatusEvents();
        });
    }

    PluginHarness h{LinkedTable()};
    TempFolder folder;
    std::filesystem::path file = folder / "export.mp4";
    talcore::utility::RefCountedPtr<Vekta::TikTokUploader> uploader;
    std::future<std::int32_t> run;
};

TEST_F(DestroyDuringUpload, TheUploadIsAbortedAndTheReleaseReturnsOnceItEnded) {
    auto destroy = DestroyAsync();
    ASSERT_TRUE(WaitUntil([&] { return uploader->AbortRequested(); }, std::chrono::seconds(10)));
    h.Sandbox().Faults().ReleaseHangs();

    ASSERT_EQ(destroy.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const auto seen = destroy.get();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().state, kUploadStateAborted);
    EXPECT_EQ(seen.back().resultCode, 2u);
    EXPECT_EQ(Finish(run), 0);
    EXPECT_EQ(ChunkRequests(h.Sandbox()).size(), 1u);
}

// The chunk is never answered while the release waits: it gives up after its 301 waits of 50 ms
// and returns with the upload still in flight.
TEST_F(DestroyDuringUpload, TheReleaseGivesUpWaitingForAChunkThatIsNeverAnswered) {
    auto destroy = DestroyAsync();
    ASSERT_EQ(destroy.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const auto seen = destroy.get();
    EXPECT_EQ(h.Sandbox().Faults().Hanging(), 1u);
    EXPECT_EQ(EventsInState(seen, kUploadStateAborted).size(), 0u);

    // Answered at last, the chunk ends the job as aborted.
    h.Sandbox().Faults().ReleaseHangs();
    EXPECT_EQ(Finish(run), 0);
    EXPECT_EQ(h.StatusEvents().back().state, kUploadStateAborted);
    EXPECT_EQ(ChunkRequests(h.Sandbox()).size(), 1u);
}

}  // namespace
