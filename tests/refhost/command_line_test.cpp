// vekta-host's command line, read in-process: what each line asks for, and how an unusable one ends.
#include <gtest/gtest.h>

#include <sstream>

#include "refhost/app/CommandLine.h"

namespace vekta::test {
namespace {

using host::Command;
using host::CommandLineReading;

struct Read {
    CommandLineReading reading;
    std::string out;
    std::string errors;
};

Read ReadLine(const std::vector<std::string>& arguments, bool canProbeVideos = true) {
    host::GlobalOptions defaults;
    defaults.pluginPath = "/opt/vekta/lib/TikTokPostProcess.so";
    std::ostringstream out, errors;
    auto reading = host::ReadCommandLine(arguments, defaults, canProbeVideos, out, errors);
    return {std::move(reading), out.str(), errors.str()};
}

TEST(CommandLineTest, UnusableLinesEndWithTheUsageCodeAndSayWhatIsWrong) {
    const struct {
        std::vector<std::string> arguments;
        std::string named;  // what the message must mention
        bool canProbeVideos = true;
    } cases[] = {
        {{"--bogus", "describe"}, "--bogus"},
        {{}, "subcommand"},
        {{"frob"}, "unknown command 'frob'"},
        {{"--preset"}, "--preset"},
        {{"settings", "--draft"}, "--draft"},  // an option of another command
        {{"describe", "--all"}, "--all"},
        {{"publish"}, "FILE"},
        {{"publish", "a.mp4", "b.mp4"}, "b.mp4"},
        {{"publish", "a.mp4", "--privacy", "nobody"}, "--privacy"},
        {{"publish", "a.mp4", "--privacy"}, "--privacy"},
        {{"publish", "a.mp4", "--cover-ms", "-5"}, "--cover-ms"},
        {{"publish", "a.mp4", "--cover-ms", "5s"}, "--cover-ms"},
        {{"publish", "a.mp4", "--cover-ms", "0x10"}, "--cover-ms"},
        {{"publish", "a.mp4", "--cover-ms", "99999999999999999999"}, "--cover-ms"},
        {{"publish", "a.mp4", "--video-info", "1080x1920"}, "--video-info"},
        {{"--origin-map", "https://www.tiktok.com", "settings"}, "FROM=TO"},
        {{"publish", "a.mp4"}, "--video-info", false},
    };
    for (const auto& c : cases) {
        const std::string line = ::testing::PrintToString(c.arguments);
        const auto read = ReadLine(c.arguments, c.canProbeVideos);
        EXPECT_FALSE(read.reading.commandLine) << line;
        EXPECT_EQ(read.reading.exitCode, host::kUsageExitCode) << line;
        EXPECT_NE(read.errors.find(c.named), std::string::npos) << line << ": " << read.errors;
        EXPECT_EQ(read.out, "") << line;
    }
}

TEST(CommandLineTest, HelpGoesToTheOutputAndEndsWithSuccess) {
    const struct {
        std::vector<std::string> arguments;
        std::string shown;
    } cases[] = {
        {{"--help"}, "publish"},
        {{"-h"}, "signout"},
        {{"publish", "--help"}, "--cover-ms"},
        {{"settings", "--help"}, "--all"},
    };
    for (const auto& c : cases) {
        const auto read = ReadLine(c.arguments);
        EXPECT_FALSE(read.reading.commandLine);
        EXPECT_EQ(read.reading.exitCode, 0);
        EXPECT_NE(read.out.find(c.shown), std::string::npos) << read.out;
        EXPECT_EQ(read.errors, "");
    }
}

TEST(CommandLineTest, EachCommandIsRecognisedWithTheDefaultsKept) {
    const std::pair<std::string, Command> cases[] = {{"describe", Command::Describe},
                                                     {"settings", Command::Settings},
                                                     {"signin", Command::SignIn},
                                                     {"signout", Command::SignOut}};
    for (const auto& [name, command] : cases) {
        const auto read = ReadLine({name});
        ASSERT_TRUE(read.reading.commandLine) << name << ": " << read.errors;
        EXPECT_EQ(read.reading.commandLine->command, command);
        EXPECT_EQ(read.reading.commandLine->global.pluginPath, "/opt/vekta/lib/TikTokPostProcess.so");
        EXPECT_FALSE(read.reading.commandLine->global.sandbox);
        EXPECT_FALSE(read.reading.commandLine->allSettings);
    }
}

TEST(CommandLineTest, APublishLineAsTheScriptsWriteItCarriesEveryValue) {
    const auto read = ReadLine({"--origin-map", "https://www.tiktok.com=http://127.0.0.1:5000",
                                "--origin-map", "https://open.tiktokapis.com=http://127.0.0.1:5000/a=b",
                                "--trace",      "TikTok:5",
                                "--trace",      "Net:3",
                                "publish",      "/videos/clip.mp4",
                                "--caption",    "-30% today",  // free text that looks like an option
                                "--privacy",    "followers",
                                "--draft",      "--allow-duet",
                                "--cover-ms",   "010",  // decimal, not octal
                                "--video-info", "1080x1920@30:12000",
                                "--preset",     "/tmp/p.preset"});  // a global option after the command
    ASSERT_TRUE(read.reading.commandLine) << read.errors;
    const auto& line = *read.reading.commandLine;
    EXPECT_EQ(line.command, Command::Publish);
    const std::vector<std::pair<std::string, std::string>> maps = {
        {"https://www.tiktok.com", "http://127.0.0.1:5000"},
        {"https://open.tiktokapis.com", "http://127.0.0.1:5000/a=b"}};
    EXPECT_EQ(line.global.originMaps, maps);
    EXPECT_EQ(line.global.trace, "TikTok:5,Net:3");
    EXPECT_EQ(line.global.presetPath, "/tmp/p.preset");
    const auto& publish = line.publish;
    EXPECT_EQ(publish.file, "/videos/clip.mp4");
    EXPECT_TRUE(publish.captionGiven);
    EXPECT_EQ(publish.caption, "-30% today");
    EXPECT_EQ(publish.privacy, "followers");
    EXPECT_TRUE(publish.draft);
    EXPECT_TRUE(publish.allowDuet);
    EXPECT_FALSE(publish.allowComment);
    EXPECT_FALSE(publish.allowStitch);
    EXPECT_FALSE(publish.deleteLocalFile);
    EXPECT_TRUE(publish.coverGiven);
    EXPECT_EQ(publish.coverMs, 10);
    ASSERT_TRUE(publish.videoFacts);
    EXPECT_EQ(publish.videoFacts->frameWidth, 1080u);
    EXPECT_EQ(publish.videoFacts->durationMs, 12000u);
}

TEST(CommandLineTest, AnOptionGivenTwiceKeepsItsLastValueAndAnEmptyCaptionIsStillGiven) {
    const auto read = ReadLine({"--preset", "first", "publish", "v.mp4", "--caption", "", "--preset", "second",
                                "--privacy", "everyone", "--privacy", "private"});
    ASSERT_TRUE(read.reading.commandLine) << read.errors;
    const auto& line = *read.reading.commandLine;
    EXPECT_EQ(line.global.presetPath, "second");
    EXPECT_EQ(line.publish.privacy, "private");
    EXPECT_TRUE(line.publish.captionGiven);
    EXPECT_EQ(line.publish.caption, "");
    EXPECT_FALSE(line.publish.coverGiven);
    EXPECT_FALSE(line.publish.videoFacts);
}

}  // namespace
}  // namespace vekta::test
