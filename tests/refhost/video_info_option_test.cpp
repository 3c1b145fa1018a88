#include <gtest/gtest.h>

#include <string>

#include "refhost/VideoInfoOption.h"

namespace {

using vekta::host::ParseVideoInfoOption;

TEST(VideoInfoOption, WellFormedFactsAreTakenExactly) {
    const struct {
        const char* text;
        std::uint32_t width, height;
        float rate;
        std::uint64_t durationMs;
    } cases[] = {
        {"1080x1920@30:12000", 1080, 1920, 30.0f, 12000},
        {"1920x1080@29.97:60000", 1920, 1080, 29.97f, 60000},
        {"1x1@0.001:1", 1, 1, 0.001f, 1},
        {"16384x16384@1000:86400000", 16384, 16384, 1000.0f, 86400000},
        {"640x300@23.976:700000", 640, 300, 23.976f, 700000},  // outside TikTok's limits is the plug-in's call
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto facts = ParseVideoInfoOption(c.text, error);
        ASSERT_TRUE(facts) << error;
        EXPECT_EQ(facts->frameWidth, c.width);
        EXPECT_EQ(facts->frameHeight, c.height);
        EXPECT_FLOAT_EQ(facts->frameRate, c.rate);
        EXPECT_EQ(facts->durationMs, c.durationMs);
    }
}

// Each refusal names the part that is wrong, so a person can fix the command.
TEST(VideoInfoOption, AnythingElseIsRefusedNamingWhatIsWrong) {
    const struct {
        const char* text;
        const char* problem;
    } cases[] = {
        {"", "not of that form"},
        {"1080x1920@30", "not of that form"},
        {"1080x1920:12000@30", "not of that form"},
        {"1080x1920x2@30:12000", "not of that form"},
        {"1080x1920@30:12000:5", "not of that form"},
        {"1080X1920@30:12000", "not of that form"},
        {"x1920@30:12000", "width '' is not a whole number"},
        {"-1080x1920@30:12000", "width '-1080' is not a whole number"},
        {"+1080x1920@30:12000", "width '+1080' is not a whole number"},
        {" 1080x1920@30:12000", "width ' 1080' is not a whole number"},
        {"0x1920@30:12000", "width 0 is outside 1 to 16384"},
        {"16385x1920@30:12000", "width 16385 is outside 1 to 16384"},
        {"99999999999999999999999x1920@30:12000", "width 99999999999999999999999 is outside 1 to 16384"},
        {"1080x1920.5@30:12000", "height '1920.5' is not a whole number"},
        {"1080x1920@:12000", "frame rate '' is not a number"},
        {"1080x1920@30.:12000", "frame rate '30.' is not a number"},
        {".5x1920@30:12000", "width '.5' is not a whole number"},
        {"1080x1920@.5:12000", "frame rate '.5' is not a number"},
        {"1080x1920@29.9701:12000", "frame rate '29.9701' is not a number"},
        {"1080x1920@1e3:12000", "frame rate '1e3' is not a number"},
        {"1080x1920@0:12000", "frame rate 0 is outside 0 (not included) to 1000"},
        {"1080x1920@0.000:12000", "frame rate 0.000 is outside"},
        {"1080x1920@1000.001:12000", "frame rate 1000.001 is outside"},
        {"1080x1920@99999999999999999999:12000", "frame rate 99999999999999999999 is outside"},
        {"1080x1920@30:0", "duration 0 is outside 1 to 86400000"},
        {"1080x1920@30:86400001", "duration 86400001 is outside 1 to 86400000"},
        {"1080x1920@30:12000ms", "duration '12000ms' is not a whole number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(ParseVideoInfoOption(c.text, error));
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
        EXPECT_NE(error.find("expected WIDTHxHEIGHT@FPS:DURATION_MS"), std::string::npos) << error;
    }
}

TEST(VideoInfoOption, TheFileTypeFollowsTheNamesExtension) {
    const struct {
        std::u16string name;
        std::uint32_t type;
    } cases[] = {
        {u"clip.mp4", VEKTA_FOURCC('H', '2', '6', '4')},
        {u"CLIP.MP4", VEKTA_FOURCC('H', '2', '6', '4')},
        {u"Caf\u00E9 \U0001F3AC.m4v", VEKTA_FOURCC('H', '2', '6', '4')},
        {u"clip.mov", VEKTA_FOURCC('M', 'o', 'o', 'V')},
        {u"clip.webm", VEKTA_FOURCC('O', 't', 'h', 'r')},
        {u"clip", VEKTA_FOURCC('O', 't', 'h', 'r')},
        {u"clip.mp4.part", VEKTA_FOURCC('O', 't', 'h', 'r')},
    };
    for (const auto& c : cases) EXPECT_EQ(vekta::host::FileTypeForName(c.name), c.type);
}

}  // namespace
