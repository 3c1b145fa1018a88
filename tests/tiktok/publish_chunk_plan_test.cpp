// Whole uploads through the module against the sandbox: the chunk plan announced at init, the
// ranges sent, the bytes that arrive and the progress the host sees, for the sizes around the plan's
// boundaries.
#include <gtest/gtest.h>

#include "PublishTestSupport.h"

namespace {

using namespace vekta::test;
namespace host = vekta::host;

struct PlanCase {
    std::uint64_t size;
    std::uint32_t fileType;
    std::uint64_t chunkSize;
    std::uint64_t chunkCount;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;  // first, last
};

const std::vector<PlanCase> kPlans = {
    {1, kH264, 1, 1, {{0, 0}}},
    {5'242'879, kH264, 5'242'879, 1, {{0, 5'242'878}}},
    {5'242'880, kH264, 5'242'880, 1, {{0, 5'242'879}}},
    {10'485'759, kH264, 10'485'759, 1, {{0, 10'485'758}}},
    {10'485'760, kH264, kChunk, 2, {{0, 5'242'879}, {5'242'880, 10'485'759}}},
    {12'000'000, kMooV, kChunk, 2, {{0, 5'242'879}, {5'242'880, 11'999'999}}},  // the last chunk is longer
};

TEST(PublishChunkPlan, EverySizeArrivesWholeInThePlannedRangesWithProgressPerChunk) {
    PluginHarness h;
    SignedInForPost(h);
    TempFolder folder;
    for (const auto& plan : kPlans) {
        SCOPED_TRACE("size " + std::to_string(plan.size));
        const auto file = folder / ("export-" + std::to_string(plan.size) + ".mp4");
        const std::string sha256 = WriteRandomFile(file, plan.size, static_cast<unsigned>(plan.size));
        DescribeExport(h, {file}, VideoInfo(plan.fileType));
        const std::string contentType = plan.fileType == kMooV ? "video/quicktime" : "video/mp4";
        const auto before = h.StatusEvents().size();

        ASSERT_EQ(h.Table().execute(&h.Record(), 5), 0);

        const auto uploads = h.Sandbox().Uploads();
        ASSERT_FALSE(uploads.empty());
        const auto& upload = uploads.back();
        EXPECT_EQ(upload.sourceInfo.value("video_size", ""), std::to_string(plan.size));
        EXPECT_EQ(upload.sourceInfo.value("chunk_size", ""), std::to_string(plan.chunkSize));
        EXPECT_EQ(upload.sourceInfo.value("total_chunk_count", ""), std::to_string(plan.chunkCount));
        ASSERT_EQ(upload.chunks.size(), plan.ranges.size());
        for (std::size_t i = 0; i < plan.ranges.size(); ++i) {
            EXPECT_EQ(upload.chunks[i].first, plan.ranges[i].first) << "chunk " << i;
            EXPECT_EQ(upload.chunks[i].last, plan.ranges[i].second) << "chunk " << i;
            EXPECT_EQ(upload.chunks[i].contentType, contentType);
        }
        EXPECT_TRUE(upload.complete);
        EXPECT_EQ(upload.sha256Hex, sha256);

        // One progress report per chunk, the share of the file sent so far (0.4369 after the first
        // of 12000000 bytes), then success.
        const auto all = h.StatusEvents();
        const std::vector<host::StatusEvent> events(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        const auto progress = EventsInState(events, kUploadStateUploading);
        ASSERT_EQ(progress.size(), plan.ranges.size());
        for (std::size_t i = 0; i < progress.size(); ++i) {
            EXPECT_FLOAT_EQ(progress[i].progress, static_cast<float>(plan.ranges[i].second + 1) /
                                                      static_cast<float>(plan.size));
            EXPECT_EQ(progress[i].text, u"Uploading to TikTok");
            EXPECT_EQ(progress[i].resultCode, 0u);
        }
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().state, kUploadStateSucceeded);
        EXPECT_EQ(events.back().progress, 1.0f);
    }
}

}  // namespace
