#include "tiktok/UploadPlan.h"

namespace Vekta {

UploadPlan PlanChunks(std::uint64_t fileSize) {
    UploadPlan plan{kChunkBytes, fileSize / kChunkBytes};
    if (plan.chunkCount <= 1) {
        // Under 10 MiB the whole file goes as one chunk.
        plan.chunkCount = 1;
        plan.chunkSize = fileSize;
    } else if (plan.chunkCount > kMaxChunkCount) {
        plan.chunkSize = kLargeChunkBytes;
        plan.chunkCount = fileSize / kLargeChunkBytes;
        if (plan.chunkCount > kMaxChunkCount) plan = {0, 0};
    }
    if (plan.chunkSize == 0) plan = {0, 0};
    return plan;
}

}  // namespace Vekta
