#include "refhost/VideoInfoOption.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vekta::host {
namespace {

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// A whole unsigned decimal number from 1 to `max`; false with `error` naming `what` otherwise.
bool ParseCount(std::string_view text, std::uint64_t max, const char* what, std::uint64_t& value, std::string& error) {
    if (!AllDigits(text)) {
        error = std::string(what) + " '" + std::string(text) + "' is not a whole number";
        return false;
    }
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (problem != std::errc() || end != text.data() + text.size() || value < 1 || value > max) {
        error = std::string(what) + " " + std::string(text) + " is outside 1 to " + std::to_string(max);
        return false;
    }
    return true;
}

// Digits, optionally a point and one to three more; the rate in thousandths.
bool ParseFrameRate(std::string_view text, float& rate, std::string& error) {
    const auto point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (!AllDigits(whole) || (point != std::string_view::npos && (!AllDigits(fraction) || fraction.size() > 3))) {
        error = "frame rate '" + std::string(text) + "' is not a number like 30 or 29.97";
        return false;
    }
    std::uint64_t wholePart = 0;
    if (whole.size() > 4 || std::from_chars(whole.data(), whole.data() + whole.size(), wholePart).ec != std::errc()) {
        wholePart = static_cast<std::uint64_t>(kMaxVideoInfoFrameRate) + 1;
    }
    std::uint64_t thousandths = wholePart * 1000;
    std::uint64_t scale = 100;
    for (const char digit : fraction) {
        thousandths += static_cast<std::uint64_t>(digit - '0') * scale;
        scale /= 10;
    }
    if (thousandths == 0 || thousandths > static_cast<std::uint64_t>(kMaxVideoInfoFrameRate * 1000)) {
        error = "frame rate " + std::string(text) + " is outside 0 (not included) to 1000";
        return false;
    }
    rate = static_cast<float>(static_cast<double>(thousandths) / 1000.0);
    return true;
}

}  // namespace

std::optional<VideoFacts> ParseVideoInfoOption(std::string_view text, std::string& error) {
    const auto fail = [&](const std::string& problem) -> std::optional<VideoFacts> {
        error = "--video-info '" + std::string(text) + "': " + problem +
                "; expected WIDTHxHEIGHT@FPS:DURATION_MS, e.g. 1080x1920@30:12000";
        return std::nullopt;
    };
    const auto once = [text](char c) { return std::count(text.begin(), text.end(), c) == 1; };
    const auto times = text.find('x');
    const auto at = text.find('@');
    const auto colon = text.find(':');
    if (!once('x') || !once('@') || !once(':') || !(times < at && at < colon)) return fail("not of that form");
    VideoFacts facts;
    std::string problem;
    std::uint64_t width = 0, height = 0;
    if (!ParseCount(text.substr(0, times), kMaxVideoInfoFrameSide, "width", width, problem) ||
        !ParseCount(text.substr(times + 1, at - times - 1), kMaxVideoInfoFrameSide, "height", height, problem) ||
        !ParseFrameRate(text.substr(at + 1, colon - at - 1), facts.frameRate, problem) ||
        !ParseCount(text.substr(colon + 1), kMaxVideoInfoDurationMs, "duration", facts.durationMs, problem)) {
        return fail(problem);
    }
    facts.frameWidth = static_cast<std::uint32_t>(width);
    facts.frameHeight = static_cast<std::uint32_t>(height);
    return facts;
}

std::uint32_t FileTypeForName(const std::filesystem::path& file) {
    std::u16string extension = file.extension().u16string();
    for (auto& c : extension)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (extension == u".mp4" || extension == u".m4v") return VEKTA_FOURCC('H', '2', '6', '4');
    if (extension == u".mov") return VEKTA_FOURCC('M', 'o', 'o', 'V');
    return VEKTA_FOURCC('O', 't', 'h', 'r');
}

ExportVideoInfo MakeExportVideoInfo(const VideoFacts& facts, std::uint32_t fileType) {
    ExportVideoInfo info{};
    info.fileType = fileType;
    info.frameWidth = facts.frameWidth;
    info.frameHeight = facts.frameHeight;
    info.frameRate = facts.frameRate;
    info.durationMs = facts.durationMs;
    return info;
}

}  // namespace vekta::host
