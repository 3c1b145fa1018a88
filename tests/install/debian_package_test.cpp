// The .deb made of this build by its own install rules: the files it installs, the packages it
// declares it needs, and its programs running from the unpacked tree with no environment at all
// (no LD_LIBRARY_PATH: the RPATHs and the host's module search must be enough).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/ChildProcess.h"

namespace {

namespace fs = std::filesystem;
using vekta::test::RunResult;

constexpr auto kPackagingTimeout = std::chrono::seconds(240);
constexpr auto kCommandTimeout = std::chrono::seconds(60);

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// A package made in a folder of its own, removed at the end.
class DebianPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        const RunResult made = vekta::test::Run(
            {VEKTA_CPACK, "--config", VEKTA_CPACK_CONFIG, "-G", "DEB", "-B", folder_.string()}, {}, kPackagingTimeout);
        ASSERT_EQ(made.status, 0) << made.out << made.err;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            if (entry.path().extension() == ".deb") package_ = entry.path();
        }
        ASSERT_FALSE(package_.empty()) << "no .deb in " << folder_ << ":\n" << made.out;
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string DpkgDeb(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv{VEKTA_DPKG_DEB};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const RunResult result = vekta::test::Run(argv, {}, kCommandTimeout);
        EXPECT_EQ(result.status, 0) << result.err;
        return result.out;
    }

    const fs::path folder_ =
        fs::temp_directory_path() /
        ("vekta-deb-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::path package_;
};

TEST_F(DebianPackageTest, InstallsTheProgramsTheModuleAndThePlatformLibraryOnly) {
    const std::string bin = std::string("./usr/") + VEKTA_INSTALLED_BIN_DIR + "/";
    const std::string modules = std::string("./usr/") + VEKTA_INSTALLED_MODULE_DIR + "/";
    const std::set<std::string> expected{bin + "vekta-host", bin + "tiktok-sandbox", modules + "TikTokPostProcess.so",
                                         modules + "libvektaplatform.so"};

    // dpkg-deb -c lists like ls -l: the type in the first column, the path last.
    std::set<std::string> files;
    for (const std::string& line : Lines(DpkgDeb({"-c", package_.string()}))) {
        if (line[0] == 'd') continue;
        files.insert(line.substr(line.rfind(' ') + 1));
    }
    EXPECT_EQ(files, expected);
}

TEST_F(DebianPackageTest, DependsOnThePackagesOfTheLibrariesItsProgramsLink) {
    const std::string depends = DpkgDeb({"-f", package_.string(), "Depends"});
    std::set<std::string> names;
    std::istringstream in(depends);
    for (std::string item; std::getline(in, item, ',');) {
        item.erase(0, item.find_first_not_of(" \n"));
        names.insert(item.substr(0, item.find_first_of(" (\n")));
    }
    // Package names carry the library's ABI version (libavformat59); the stem is what matters here.
    const struct {
        const char* stem;
        const char* why;
    } kNeeded[] = {
        {"libc6", "every program"},
        {"libstdc++6", "every program"},
        {"libcurl4", "the platform library's requests"},
        {"libssl3", "the platform library's hashing and the sandbox"},
        {"libavformat", "vekta-host's video probe"},
        {"libcpp-httplib", "tiktok-sandbox's server"},
    };
    for (const auto& needed : kNeeded) {
        const bool found = std::any_of(names.begin(), names.end(),
                                       [&](const std::string& name) { return name.rfind(needed.stem, 0) == 0; });
        EXPECT_TRUE(found) << needed.stem << " (" << needed.why << ") is missing from Depends: " << depends;
    }
    // The platform library comes in the package itself.
    EXPECT_EQ(depends.find("vektaplatform"), std::string::npos) << depends;
}

TEST_F(DebianPackageTest, UnpackedProgramsRunWithAnEmptyEnvironment) {
    const fs::path root = folder_ / "root";
    DpkgDeb({"-x", package_.string(), root.string()});
    const fs::path bin = root / "usr" / VEKTA_INSTALLED_BIN_DIR;

    const RunResult described =
        vekta::test::Run({"/usr/bin/env", "-i", (bin / "vekta-host").string(), "describe"}, {}, kCommandTimeout);
    EXPECT_EQ(described.status, 0) << described.out << described.err;
    EXPECT_NE(described.out.find("Module description"), std::string::npos) << described.out;

    const RunResult sandbox =
        vekta::test::Run({"/usr/bin/env", "-i", (bin / "tiktok-sandbox").string(), "--help"}, {}, kCommandTimeout);
    EXPECT_EQ(sandbox.status, 0) << sandbox.out << sandbox.err;
}

}  // namespace
