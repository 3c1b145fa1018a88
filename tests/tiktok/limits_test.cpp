// The checks an export must pass before an upload is opened, through Execute without a signed-in
// account: an export that passes every check ends at the missing credentials (code 19 with the
// path to upload by hand), one that fails a check ends with that check's code and message, and an
// export whose format the plug-in refused is not run at all.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/tiktok/PublishTestSupport.h"

namespace {

using namespace vekta::test;

enum class Outcome { Passes, Refused, NotRun };

// Sizes of the exported file; Missing is never written.
enum File { Small, Empty, AtSizeLimit, OverSizeLimit, Missing };
constexpr std::uint64_t kFileSizes[] = {1000, 0, 4'000'000'000ull, 4'000'000'001ull};

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

LimitCase Pass(const char* name, File file, ExportVideoInfo info, bool draft = false, bool privacy = true) {
    return {name, file, info, draft, privacy, Outcome::Passes, 0, {}};
}
LimitCase Refuse(const char* name, File file, ExportVideoInfo info, std::uint32_t code, std::u16string message,
                 bool privacy = true) {
    return {name, file, info, false, privacy, Outcome::Refused, code, std::move(message)};
}
LimitCase NotRun(const char* name, ExportVideoInfo info) {
    return {name, Small, info, false, true, Outcome::NotRun, 0, {}};
}

const std::u16string kSizeText = u"File size upload limit is 4GB.";
const std::u16string kFrameText = u"Video dimensions must be between 360x360 and 4096x4096.";
const std::u16string kDurationText = u"Video duration limit is 10 minutes.";
const std::u16string kRateText = u"Video framerate must be between 23 and 60 FPS.";
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
const ExportVideoInfo kFine = VideoInfo();

const std::vector<LimitCase> kCases = {
    Pass("H264 accepted", Small, kFine),
    NotRun("MOOV not accepted", VideoInfo(VEKTA_FOURCC('M', 'O', 'O', 'V'), 1080, 1920, 30, 5000)),
    Refuse("missing file", Missing, kFine, 9, u"File does not exist."),
    Pass("empty file", Empty, kFine),
    Pass("exactly 4000000000 bytes", AtSizeLimit, kFine),
    Refuse("one byte more", OverSizeLimit, kFine, 13, kSizeText),
    Pass("4096x360", Small, VideoInfo(kH264, 4096, 360, 30, 5000)),
    Refuse("4097x2304", Small, VideoInfo(kH264, 4097, 2304, 30, 5000), 12, kFrameText),
    Refuse("640x359", Small, VideoInfo(kH264, 640, 359, 30, 5000), 12, kFrameText),
    Pass("600000 ms", Small, VideoInfo(kH264, 1080, 1920, 30, 600'000)),
    Refuse("600001 ms", Small, VideoInfo(kH264, 1080, 1920, 30, 600'001), 11, kDurationText),
    Pass("23.0 fps", Small, VideoInfo(kH264, 1080, 1920, 23.0f, 5000)),
    Pass("60.0 fps", Small, VideoInfo(kH264, 1080, 1920, 60.0f, 5000)),
    Refuse("22.99 fps", Small, VideoInfo(kH264, 1080, 1920, 22.99f, 5000), 4, kRateText),
    Pass("NaN fps", Small, VideoInfo(kH264, 1080, 1920, kNaN, 5000)),
    Refuse("too large and too slow: size first", OverSizeLimit, VideoInfo(kH264, 1080, 1920, 10.0f, 5000), 13,
           kSizeText),
    Refuse("too small a frame and too long: frame first", Small, VideoInfo(kH264, 100, 100, 30, 900'000), 12,
           kFrameText),
    Refuse("post without privacy", Small, kFine, 0, u"A Privacy setting must be selected before publishing to TikTok.",
           false),
    Refuse("bad rate before missing privacy", Small, VideoInfo(kH264, 1080, 1920, 5.0f, 5000), 4, kRateText, false),
    Pass("draft without privacy", Small, kFine, true, false),
};

TEST(Limits, EachExportIsRefusedByItsFirstFailingCheckOrPassesToTheCredentials) {
    PluginHarness h;
    h.CreateAddAndRefresh();
    TempFolder folder;
    const auto pathOf = [&](File f) { return folder / ("export-" + std::to_string(f) + ".mp4"); };
    for (const File f : {Small, Empty, AtSizeLimit, OverSizeLimit}) WriteSparseFile(pathOf(f), kFileSizes[f]);

    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        h.SetInteger("VOXATikTokPublishType", c.draft ? 1 : 0);
        ChoosePrivacy(h, c.privacy ? 3 : 4);  // "Private", or the entry that chooses nothing
        const auto file = pathOf(c.file);
        DescribeExport(h, {file}, c.info);
        const auto before = h.StatusEvents().size();

        const std::int32_t result = h.Table().execute(&h.Record(), kExecuteSelectorPublish);

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

}  // namespace
