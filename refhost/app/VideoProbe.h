// Describes an exported file as the host's exporter would: its file-type code, frame size, frame rate
// and duration, read with FFmpeg's libavformat. A build without FFmpeg (the Windows one) has a
// stand-in that refuses, and the facts come from --video-info instead.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "PostProcessSDK.h"

namespace vekta::host {

struct ProbedVideo {
    ExportVideoInfo info{};
    std::string container;  // as libavformat names it
    std::string codec;      // the video stream's codec
};

// 'H264', 'HEVC' or 'MPEG' for H.264, HEVC or MPEG-4 Part 2 in MP4; 'MooV' for QuickTime; other
// files get a code of their own ('WebM', 'Mkv ', 'Avi ', 'Othr'), which the plug-in refuses. Empty
// with `error` set when the file cannot be read as a video.
std::optional<ProbedVideo> ProbeVideo(const std::filesystem::path& path, std::string& error);

// Whether this build can read a video's facts.
bool CanProbeVideos();

}  // namespace vekta::host
