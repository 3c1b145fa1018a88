// How a file size becomes a chunk plan, including the plans no export within the size limit
// reaches (64 MiB chunks, too many chunks).
#include <gtest/gtest.h>

#include "tiktok/UploadPlan.h"

namespace {

using Vekta::PlanChunks;

constexpr std::uint64_t kMiB5 = 5'242'880, kMiB64 = 67'108'864;

TEST(ChunkPlan, SizesAroundEveryBoundary) {
    const struct {
        std::uint64_t size, chunkSize, chunkCount;
    } cases[] = {
        {0, 0, 0},  // nothing to upload
        {1, 1, 1},
        {kMiB5 - 1, kMiB5 - 1, 1},
        {kMiB5, kMiB5, 1},
        {2 * kMiB5 - 1, 2 * kMiB5 - 1, 1},  // one chunk up to just under 10 MiB
        {2 * kMiB5, kMiB5, 2},
        {12'000'000, kMiB5, 2},             // the last chunk carries the remainder
        {4'000'000'000, kMiB5, 762},
        {1000 * kMiB5 + kMiB5 - 1, kMiB5, 1000},
        {1001 * kMiB5, kMiB64, 1001 * kMiB5 / kMiB64},  // more than 1000 chunks: 64 MiB ones
        {1000 * kMiB64 + kMiB64 - 1, kMiB64, 1000},
        {1001 * kMiB64, 0, 0},  // too many even of 64 MiB
    };
    for (const auto& c : cases) {
        const auto plan = PlanChunks(c.size);
        EXPECT_EQ(plan.chunkSize, c.chunkSize) << "size " << c.size;
        EXPECT_EQ(plan.chunkCount, c.chunkCount) << "size " << c.size;
    }
}

}  // namespace
