// The export's facts given on the host's command line instead of read from the file, for a host
// that cannot read videos itself: WIDTHxHEIGHT@FPS:DURATION_MS, e.g. 1080x1920@30:12000 or
// 1920x1080@29.97:60000.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "PostProcessSDK.h"

namespace vekta::host {

constexpr std::uint32_t kMaxVideoInfoFrameSide = 16384;                 // pixels
constexpr double kMaxVideoInfoFrameRate = 1000.0;                       // frames per second
constexpr std::uint64_t kMaxVideoInfoDurationMs = 24ull * 3600 * 1000;  // one day

struct VideoFacts {
    std::uint32_t frameWidth = 0;
    std::uint32_t frameHeight = 0;
    float frameRate = 0.0f;
    std::uint64_t durationMs = 0;
};

// Empty with `error` saying which part is wrong and why when `text` is not exactly of that form:
// decimal numbers without sign or spaces, width and height 1 to 16384, a frame rate above 0 and up
// to 1000 with at most three decimals, a duration of 1 ms to a day.
std::optional<VideoFacts> ParseVideoInfoOption(std::string_view text, std::string& error);

// The file-type code an exporter gives a file of this name: 'H264' for .mp4 and .m4v (H.264 in
// MP4, what exports for TikTok are), 'MooV' for .mov; 'Othr' for anything else.
std::uint32_t FileTypeForName(const std::filesystem::path& file);

// The facts as the host hands them to the plug-in.
ExportVideoInfo MakeExportVideoInfo(const VideoFacts& facts, std::uint32_t fileType);

}  // namespace vekta::host
