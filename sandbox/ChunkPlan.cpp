#include "sandbox/ChunkPlan.h"

#include <algorithm>
#include <charconv>

namespace vekta::sandbox {

ChunkRange ChunkPlan::Chunk(std::uint64_t index) const {
    const std::uint64_t first = index * chunkSize;
    const std::uint64_t last = index + 1 == chunkCount ? videoSize - 1 : first + chunkSize - 1;
    return {first, last};
}

std::variant<ChunkPlan, std::string> MakeChunkPlan(std::uint64_t videoSize, std::uint64_t chunkSize,
                                                   std::uint64_t chunkCount) {
    if (videoSize == 0) return std::string("video_size must be greater than 0");
    if (videoSize > kMaxVideoSize) return std::string("video_size must be at most 4 GB");
    if (videoSize < kMinChunkSize) {
        if (chunkSize != videoSize || chunkCount != 1) {
            return std::string("a video under 5 MB must be sent as one chunk of chunk_size = video_size");
        }
        return ChunkPlan{videoSize, chunkSize, chunkCount};
    }
    const bool wholeFile = chunkSize == videoSize && videoSize <= kMaxChunkSize;
    if (!wholeFile && (chunkSize < kMinChunkSize || chunkSize > kMaxChunkSize)) {
        return std::string("chunk_size must be between 5 MB and 64 MB");
    }
    if (chunkSize > videoSize) return std::string("chunk_size must not exceed video_size");
    if (chunkCount != videoSize / chunkSize) {
        return std::string("total_chunk_count must be video_size / chunk_size rounded down");
    }
    if (chunkCount > kMaxChunkCount) return std::string("total_chunk_count must be at most 1000");
    const ChunkPlan plan{videoSize, chunkSize, chunkCount};
    if (plan.Chunk(chunkCount - 1).Length() > kMaxLastChunkSize) {
        return std::string("the last chunk must be at most 128 MB");
    }
    return plan;
}

std::optional<std::uint64_t> ParseSourceNumber(const nlohmann::json& value) {
    if (value.is_number_unsigned()) return value.get<std::uint64_t>();
    if (value.is_number_integer()) {
        const auto signedValue = value.get<std::int64_t>();
        if (signedValue < 0) return std::nullopt;
        return static_cast<std::uint64_t>(signedValue);
    }
    if (!value.is_string()) return std::nullopt;
    const auto& text = value.get_ref<const std::string&>();
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::uint64_t parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return parsed;
}

}  // namespace vekta::sandbox
