#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

namespace vekta::sandbox {

inline constexpr std::uint64_t kMiB = 1024 * 1024;
inline constexpr std::uint64_t kMinChunkSize = 5 * kMiB;
inline constexpr std::uint64_t kMaxChunkSize = 64 * kMiB;
inline constexpr std::uint64_t kMaxLastChunkSize = 128 * kMiB;
inline constexpr std::uint64_t kMaxVideoSize = 4096 * kMiB;
inline constexpr std::uint64_t kMaxChunkCount = 1000;

struct ChunkRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;  // inclusive

    std::uint64_t Length() const { return last - first + 1; }
    bool operator==(const ChunkRange&) const = default;
};

// How a video is cut into chunks: all of chunkSize, the last one also carrying the remainder.
struct ChunkPlan {
    std::uint64_t videoSize = 0;
    std::uint64_t chunkSize = 0;
    std::uint64_t chunkCount = 0;

    ChunkRange Chunk(std::uint64_t index) const;
};

// The plan an init declares, or why TikTok refuses it.
std::variant<ChunkPlan, std::string> MakeChunkPlan(std::uint64_t videoSize, std::uint64_t chunkSize,
                                                   std::uint64_t chunkCount);

// A size or count in source_info: a non-negative JSON integer, or a string of decimal digits (which
// is how some clients send them). Nothing for anything else.
std::optional<std::uint64_t> ParseSourceNumber(const nlohmann::json& value);

}  // namespace vekta::sandbox
