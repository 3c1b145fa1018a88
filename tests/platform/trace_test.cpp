#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "talcore/debug/Trace.h"
#include "talcore/string/Unicode.h"
#include "talcore/utility/Guid.h"
#include "tests/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using namespace talcore::debug;

std::string ReadAll(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();  // the bytes as written, on any system
    return text.str();
}

fs::path TempPath() {
    return fs::temp_directory_path() / ("trace-" + talcore::utility::Guid::CreateUnique().AsUTF8String());
}

class TraceTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetTraceConfig("");
        for (const auto& p : files_) fs::remove(p);
    }
    const fs::path files_[2] = {TempPath(), TempPath()};
};

TEST_F(TraceTest, LevelsPerCategoryWildcardAndOff) {
    const std::tuple<const char*, const char*, int, bool> cases[] = {
        {"", "Upload", 0, false},
        {"", "Upload", -1, false},
        {"Upload:3", "Upload", 3, true},
        {"Upload:3", "Upload", 4, false},
        {"Upload:3", "Net", 0, false},
        {"Upload:3,*:1", "Net", 1, true},
        {"*:1,Upload:5", "Upload", 5, true},
        {"Upload:3, Net:7", "Net", 7, true},
        {"Upload", "Upload", 10, true},
    };
    for (const auto& [config, category, level, enabled] : cases) {
        SetTraceConfig(config);
        EXPECT_EQ(TraceEnabled(category, level), enabled) << config << " " << category << ":" << level;
    }
}

// Threads keep tracing while the configuration (and with it the output file) changes under them;
// every change, even to the same text, changes the count. Then only enabled lines reach the file.
TEST_F(TraceTest, WritesEnabledLinesWhileReconfiguredUnderTracingThreads) {
    std::vector<std::thread> tracers;
    for (int t = 0; t < 3; ++t)
        tracers.emplace_back([] {
            for (int i = 0; i < 20000; ++i)
                if (TraceEnabled("Race", 2)) Trace("Race", 2, "tick\n");
        });
    for (int i = 0; i < 200; ++i) {
        const auto count = TraceChangeCount();
        SetTraceConfig(i % 3 == 2 ? "" : "Race:2", files_[i / 6 % 2].string());
        ASSERT_NE(TraceChangeCount(), count);
    }
    for (auto& t : tracers) t.join();
    SetTraceConfig("Upload:5", files_[0].string());
    Trace("Upload", 5, "kept line\n");
    Trace("Upload", 6, "too verbose\n");
    SetTraceConfig("");
    Trace("Upload", 0, "after off\n");
    const auto text = ReadAll(files_[0]);
    EXPECT_NE(text.find("[Upload:5] kept line"), std::string::npos) << text;
    EXPECT_EQ(text.find("too verbose"), std::string::npos) << text;
    EXPECT_EQ(text.find("after off"), std::string::npos) << text;
}

// A path from a request or a file name may carry control characters: they must not start a line
// of their own or reach the terminal raw. The caller's own line end stays.
TEST_F(TraceTest, ControlCharactersAreEscapedAndOnlyTheFinalLineEndStays) {
    const std::pair<std::string, std::string> cases[] = {
        {"server GET /a\r\n[TikTok:5] forged -> 404\n", "server GET /a\\x0d\\x0a[TikTok:5] forged -> 404\n"},
        {"file \x1b[2Jname\ttab\x7f\r\n", "file \\x1b[2Jname\\x09tab\\x7f\r\n"},
        {"bare\r", "bare\\x0d\n"},
        {"\n\n", "\\x0a\n"},
        {"pl\xC3\xA9in", "pl\xC3\xA9in\n"},
    };
    SetTraceConfig("Esc:1", files_[0].string());
    for (const auto& [text, written] : cases) Trace("Esc", 1, text);
    SetTraceConfig("");
    std::string expected;
    for (const auto& [text, written] : cases) expected += "[Esc:1] " + written;
    EXPECT_EQ(ReadAll(files_[0]), expected);
}

// The environment is read at the first trace of a process; a folder named beyond ASCII must reach
// the file system whole (Windows keeps the environment as UTF-16).
TEST_F(TraceTest, TheEnvironmentTurnsTracingOnIntoAFileNamedInAnyScript) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the child starts afresh and reads it
    // The same name in the child, which runs this test again up to the statement.
    const fs::path folder = fs::temp_directory_path() / u"vekta-trace-environment-Caf\u00E9 \u00E9t\u00E9 \U0001F3AC";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path file = folder / u"trace \u2013 \u00E9t\u00E9.log";
    vekta::test::SetEnvironment("VEKTA_TRACE", "Env:2");
    vekta::test::SetEnvironment("VEKTA_TRACE_FILE", talcore::string::UTF16to8(file.u16string()));
    EXPECT_EXIT(
        {
            Trace("Env", 2, "from the environment\n");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    vekta::test::UnsetEnvironment("VEKTA_TRACE");
    vekta::test::UnsetEnvironment("VEKTA_TRACE_FILE");
    EXPECT_NE(ReadAll(file).find("from the environment\n"), std::string::npos);
    fs::remove_all(folder);
}

// The trace file may name the user's files and requests: it is the owner's alone, and a link put
// where it is to be written is not followed.
TEST_F(TraceTest, TheTraceFileIsOwnerOnlyAndALinkInItsPlaceIsNotFollowed) {
    SetTraceConfig("Own:1", files_[0].string());
    Trace("Own", 1, "first\n");
    struct stat info {};
    ASSERT_EQ(::stat(files_[0].string().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::ofstream(files_[1]) << "victim\n";
    const fs::path link = files_[0].string() + ".link";
    fs::create_symlink(files_[1], link);
    SetTraceConfig("Own:1", link.string());
    Trace("Own", 1, "through the link\n");
    SetTraceConfig("");
    fs::remove(link);
    EXPECT_EQ(ReadAll(files_[1]), "victim\n");
}

}  // namespace
