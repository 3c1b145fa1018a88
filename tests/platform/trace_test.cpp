#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "talcore/debug/Trace.h"
#include "talcore/utility/Guid.h"

namespace {

namespace fs = std::filesystem;
using namespace talcore::debug;

std::string ReadAll(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
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
        {"", "Upload", 0, false},           {"", "Upload", -1, false},           {"Upload:3", "Upload", 3, true},
        {"Upload:3", "Upload", 4, false},   {"Upload:3", "Net", 0, false},       {"Upload:3,*:1", "Net", 1, true},
        {"*:1,Upload:5", "Upload", 5, true}, {"Upload:3, Net:7", "Net", 7, true}, {"Upload", "Upload", 10, true},
    };
    for (const auto& [config, category, level, enabled] : cases) {
        SetTraceConfig(config);
        EXPECT_EQ(TraceEnabled(category, level), enabled) << config << " " << category << ":" << level;
    }
}

TEST_F(TraceTest, WritesEnabledLinesToTheFile) {
    SetTraceConfig("Upload:5", files_[0].string());
    Trace("Upload", 5, "kept line\n");
    Trace("Upload", 6, "too verbose\n");
    SetTraceConfig("");
    Trace("Upload", 0, "after off\n");
    const auto text = ReadAll(files_[0]);
    EXPECT_NE(text.find("kept line"), std::string::npos) << text;
    EXPECT_EQ(text.find("too verbose"), std::string::npos) << text;
    EXPECT_EQ(text.find("after off"), std::string::npos) << text;
}

// Threads keep tracing while the configuration (and with it the output file) changes under them;
// every change, even to the same text, changes the count.
TEST_F(TraceTest, ReconfigurationWhileOtherThreadsTrace) {
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
    SetTraceConfig("Race:2", files_[0].string());
    Trace("Race", 2, "final\n");
    EXPECT_NE(ReadAll(files_[0]).find("final"), std::string::npos);
}

// The environment is read once per process, so this runs in a fresh copy of the program.
TEST(TraceEnvironmentTest, ConfiguredFromTheEnvironment) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const auto path = TempPath();
            setenv("VEKTA_TRACE", "Env:3", 1);
            setenv("VEKTA_TRACE_FILE", path.c_str(), 1);
            Trace("Env", 3, "from the environment\n");
            const bool ok = ReadAll(path).find("from the environment") != std::string::npos &&
                            !TraceEnabled("Env", 4) && !TraceEnabled("Other", 0);
            fs::remove(path);
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
