// The checks an export must pass before an upload is opened, through Execute without a signed-in
// account: an export that passes every check ends at the missing credentials (code 19 with the
// path to upload by hand), one that fails a check ends with that check's code and message, and an
// export whose format the plug-in refused is not run at all.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PublishTestSupport.h"
#include "talappsupport/Feature.h"

namespace {

using namespace vekta::test;

enum class Outcome { Passes, Refused, NotRun };

enum class File { Small, Empty, AtSizeLimit, OverSizeLimit, Missing };

struct LimitCase {
    const char* name;
    File file;
    ExportVideoInfo info;
    bool draft;
    bool privacy;
    Outcome outcome;
    std::uint32_t code;
    std::u16string message;
};

ExportVideoInfo With(std::uint32_t type, std::uint32_t w, std::uint32_t h, float fps, std::uint64_t ms) {
    return VideoInfo(type, w, h, fps, ms);
}
LimitCase Pass(const char* name, File file, ExportVideoInfo info, bool draft = false, bool privacy = true) {
    return {name, file, info, draft, privacy, Outcome::Passes, 0, {}};
}
LimitCase Refuse(const char* name, File file, ExportVideoInfo info, std::uint32_t code, std::u16string message,
                 bool privacy = true) {
    return {name, file, info, false, privacy, Outcome::Refused, code, std::move(message)};
}
LimitCase NotRun(const char* name, ExportVideoInfo info) {
    return {name, File::Small, info, false, true, Outcome::NotRun, 0, {}};
}

const std::u16string kSizeText = u"File size upload limit is 4GB.";
const std::u16string kFrameText = u"Video dimensions must be between 360x360 and 4096x4096.";
const std::u16string kDurationText = u"Video duration limit is 10 minutes.";
const std::u16string kRateText = u"Video framerate must be between 23 and 60 FPS.";
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
const ExportVideoInfo kFine = VideoInfo();

const std::vector<LimitCase> kCases = {
    Pass("H264 accepted", File::Small, kFine),
    Pass("HEVC accepted", File::Small, With(VEKTA_FOURCC('H', 'E', 'V', 'C'), 1080, 1920, 30, 5000)),
    Pass("MPEG accepted", File::Small, With(VEKTA_FOURCC('M', 'P', 'E', 'G'), 1080, 1920, 30, 5000)),
    Pass("MooV accepted", File::Small, With(kMooV, 1080, 1920, 30, 5000)),
    NotRun("MOOV not accepted", With(VEKTA_FOURCC('M', 'O', 'O', 'V'), 1080, 1920, 30, 5000)),
    NotRun("h264 not accepted", With(VEKTA_FOURCC('h', '2', '6', '4'), 1080, 1920, 30, 5000)),
    Refuse("missing file", File::Missing, kFine, 9, u"File does not exist."),
    Pass("empty file", File::Empty, kFine),
    Pass("exactly 4000000000 bytes", File::AtSizeLimit, kFine),
    Refuse("one byte more", File::OverSizeLimit, kFine, 13, kSizeText),
    Pass("360x4096", File::Small, With(kH264, 360, 4096, 30, 5000)),
    Pass("4096x360", File::Small, With(kH264, 4096, 360, 30, 5000)),
    Pass("4096x2304", File::Small, With(kH264, 4096, 2304, 30, 5000)),
    Refuse("4097x2304", File::Small, With(kH264, 4097, 2304, 30, 5000), 12, kFrameText),
    Refuse("640x359", File::Small, With(kH264, 640, 359, 30, 5000), 12, kFrameText),
    Pass("600000 ms", File::Small, With(kH264, 1080, 1920, 30, 600'000)),
    Refuse("600001 ms", File::Small, With(kH264, 1080, 1920, 30, 600'001), 11, kDurationText),
    Pass("23.0 fps", File::Small, With(kH264, 1080, 1920, 23.0f, 5000)),
    Pass("23.976 fps", File::Small, With(kH264, 1080, 1920, 23.976f, 5000)),
    Pass("60.0 fps", File::Small, With(kH264, 1080, 1920, 60.0f, 5000)),
    Refuse("22.99 fps", File::Small, With(kH264, 1080, 1920, 22.99f, 5000), 4, kRateText),
    Pass("NaN fps", File::Small, With(kH264, 1080, 1920, kNaN, 5000)),
    Refuse("too large and too slow: size first", File::OverSizeLimit, With(kH264, 1080, 1920, 10.0f, 5000), 13,
           kSizeText),
    Refuse("too small a frame and too long: frame first", File::Small, With(kH264, 100, 100, 30, 900'000), 12,
           kFrameText),
    Refuse("post without privacy", File::Small, kFine, 0,
           u"A Privacy setting must be selected before publishing to TikTok.", false),
    Refuse("bad rate before missing privacy", File::Small, With(kH264, 1080, 1920, 5.0f, 5000), 4, kRateText, false),
    Pass("draft without privacy", File::Small, kFine, true, false),
};

std::u16string NotSignedInText(const std::filesystem::path& file) {
    return u"Exported video was not uploaded to TikTok because you are not signed in. You can upload it manually "
           u"from:\n" +
           Utf16(file);
}

TEST(Limits, EachExportIsRefusedByItsFirstFailingCheckOrPassesToTheCredentials) {
    PluginHarness h;
    h.CreateAddAndRefresh();
    TempFolder folder;
    const auto small = folder / "small.mp4", empty = folder / "empty.mp4", atLimit = folder / "at-limit.mp4",
               overLimit = folder / "over-limit.mp4", missing = folder / "missing.mp4";
    WriteRandomFile(small, 1000);
    WriteSparseFile(empty, 0);
    WriteSparseFile(atLimit, 4'000'000'000ull);
    WriteSparseFile(overLimit, 4'000'000'001ull);
    const auto pathOf = [&](File f) {
        switch (f) {
            case File::Small: return small;
            case File::Empty: return empty;
            case File::AtSizeLimit: return atLimit;
            case File::OverSizeLimit: return overLimit;
            case File::Missing: break;
        }
        return missing;
    };

    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        h.SetInteger("VOXATikTokPublishType", c.draft ? 1 : 0);
        ChoosePrivacy(h, c.privacy ? 3 : 4);  // "Private", or the entry that chooses nothing
        const auto file = pathOf(c.file);
        DescribeExport(h, {file}, c.info);
        const auto before = h.StatusEvents().size();

        const std::int32_t result = h.Table().execute(&h.Record(), 5);

        const auto events = h.StatusEvents();
        if (c.outcome == Outcome::NotRun) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(events.size(), before);
            continue;
        }
        EXPECT_EQ(result, 1);
        ASSERT_EQ(events.size(), before + 1);  // one report: the refusal
        const auto& last = events.back();
        EXPECT_EQ(last.state, kUploadStateFailed);
        EXPECT_EQ(last.progress, 0.0f);
        EXPECT_EQ(h.Table().queryStatus(&h.Record()), kUploadStateFailed);
        if (c.outcome == Outcome::Passes) {
            EXPECT_EQ(last.resultCode, 19u);
            EXPECT_EQ(last.text, NotSignedInText(file));
        } else {
            EXPECT_EQ(last.resultCode, c.code);
            EXPECT_EQ(last.text, c.message);
        }
    }
    EXPECT_TRUE(h.Sandbox().Requests().empty());
}

TEST(Limits, AnAcceptedFormatIsRefusedWhileTheTikTokFeatureIsDisabled) {
    PluginHarness h;
    h.CreateAddAndRefresh();
    TempFolder folder;
    const auto file = folder / "export.mp4";
    WriteRandomFile(file, 1000);
    ChoosePrivacy(h, 3);

    talappsupport::feature::SetRegulatedFeatureEnabled("tiktok", false);
    DescribeExport(h, {file});
    talappsupport::feature::SetRegulatedFeatureEnabled("tiktok", true);
    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);
    EXPECT_TRUE(h.StatusEvents().empty());

    // The flag follows the latest announcement of the format.
    DescribeExport(h, {file});
    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 1);
    ASSERT_FALSE(h.StatusEvents().empty());
    EXPECT_EQ(h.StatusEvents().back().text, NotSignedInText(file));
}

}  // namespace
