#include "VideoProbe.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace vekta::host {
namespace {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

bool IsQuickTime(const AVFormatContext& context) {
    const AVDictionaryEntry* brand = av_dict_get(context.metadata, "major_brand", nullptr, 0);
    return brand && std::strncmp(brand->value, "qt", 2) == 0;
}

std::uint32_t FileTypeCode(const AVFormatContext& context, AVCodecID codec) {
    const std::string name = context.iformat ? context.iformat->name : "";
    if (name.find("mp4") != std::string::npos || name.find("mov") != std::string::npos) {
        if (IsQuickTime(context)) return VEKTA_FOURCC('M', 'o', 'o', 'V');
        switch (codec) {
            case AV_CODEC_ID_H264:
                return VEKTA_FOURCC('H', '2', '6', '4');
            case AV_CODEC_ID_HEVC:
                return VEKTA_FOURCC('H', 'E', 'V', 'C');
            case AV_CODEC_ID_MPEG4:
                return VEKTA_FOURCC('M', 'P', 'E', 'G');
            default:
                return VEKTA_FOURCC('M', 'p', '4', '?');
        }
    }
    if (name.find("webm") != std::string::npos) return VEKTA_FOURCC('W', 'e', 'b', 'M');
    if (name.find("matroska") != std::string::npos) return VEKTA_FOURCC('M', 'k', 'v', ' ');
    if (name == "avi") return VEKTA_FOURCC('A', 'v', 'i', ' ');
    return VEKTA_FOURCC('O', 't', 'h', 'r');
}

}  // namespace

bool CanProbeVideos() { return true; }

std::optional<ProbedVideo> ProbeVideo(const std::filesystem::path& file, std::string& error) {
    const std::string path = file.string();
    AVFormatContext* raw = nullptr;
    if (const int result = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); result < 0) {
        error = "cannot open " + path + ": " + AvError(result);
        return std::nullopt;
    }
    std::unique_ptr<AVFormatContext, InputCloser> context(raw);
    if (const int result = avformat_find_stream_info(context.get(), nullptr); result < 0) {
        error = "cannot read the streams of " + path + ": " + AvError(result);
        return std::nullopt;
    }
    const int index = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        error = path + " has no video stream";
        return std::nullopt;
    }
    const AVStream& stream = *context->streams[index];
    ProbedVideo video;
    video.container = context->iformat ? context->iformat->name : "";
    video.codec = avcodec_get_name(stream.codecpar->codec_id);
    video.info.fileType = FileTypeCode(*context, stream.codecpar->codec_id);
    video.info.frameWidth = static_cast<std::uint32_t>(std::max(0, stream.codecpar->width));
    video.info.frameHeight = static_cast<std::uint32_t>(std::max(0, stream.codecpar->height));
    AVRational rate = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
    video.info.frameRate = rate.den > 0 ? static_cast<float>(av_q2d(rate)) : 0.0f;
    std::int64_t durationMs = 0;
    if (context->duration > 0) {
        durationMs = av_rescale(context->duration, 1000, AV_TIME_BASE);
    } else if (stream.duration > 0) {
        durationMs = av_rescale_q(stream.duration, stream.time_base, AVRational{1, 1000});
    }
    video.info.durationMs = static_cast<std::uint64_t>(std::max<std::int64_t>(0, durationMs));
    return video;
}

}  // namespace vekta::host
