// The stand-in for the probe where FFmpeg is not part of the build.
#include "VideoProbe.h"

namespace vekta::host {

bool CanProbeVideos() { return false; }

std::optional<ProbedVideo> ProbeVideo(const std::filesystem::path&, std::string& error) {
    error =
        "this vekta-host cannot read a video's facts (it is built without FFmpeg): give them with --video-info "
        "WIDTHxHEIGHT@FPS:DURATION_MS, e.g. --video-info 1080x1920@30:12000";
    return std::nullopt;
}

}  // namespace vekta::host
