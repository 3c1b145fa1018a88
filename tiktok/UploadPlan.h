#pragma once

#include <cstdint>

namespace Vekta {

inline constexpr std::uint64_t kChunkBytes = 5'242'880;        // 5 MiB
inline constexpr std::uint64_t kLargeChunkBytes = 67'108'864;  // 64 MiB
inline constexpr std::uint64_t kMaxChunkCount = 1000;

// How a file is cut into chunks: every chunk is chunkSize bytes except the last, which carries the
// remainder. A chunk size of 0 means the file cannot be uploaded (empty, or too many chunks).
struct UploadPlan {
    std::uint64_t chunkSize = 0;
    std::uint64_t chunkCount = 0;
};

UploadPlan PlanChunks(std::uint64_t fileSize);

}  // namespace Vekta
