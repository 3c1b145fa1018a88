#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "refhost/ModuleLocation.h"
#include "talcore/string/Unicode.h"

namespace {

namespace fs = std::filesystem;

// A program in bin/ of a tree laid out as the build tree (lib/ beside bin/) and as an install at
// once, with the module put in some of the places the host looks. Folders are "bin", "lib" or
// "installed", the install's module folder (lib/vekta; bin/ itself on Windows).
struct ModuleLocationCase {
    const char* name;
    std::vector<const char*> moduleIn;           // folders that hold the module
    std::vector<const char*> folderNamedLikeIt;  // folders holding a folder of the module's name
    const char* expected;                        // folder of the path chosen
    bool installedApart;                         // needs the install's module folder to be other than bin/
};

void PrintTo(const ModuleLocationCase& c, std::ostream* out) { *out << c.name; }

class ModuleLocationTest : public ::testing::TestWithParam<ModuleLocationCase> {
protected:
    void SetUp() override {
        fs::remove_all(root_);
        for (const char* folder : {"bin", "lib"}) fs::create_directories(Folder(folder));
        fs::create_directories(installed_);
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path Folder(const std::string& folder) const { return folder == "installed" ? installed_ : root_ / folder; }
    bool InstalledBesideProgram() const { return installed_ == (root_ / "bin").lexically_normal(); }

    const fs::path root_ =
        fs::temp_directory_path() /
        ("vekta-module-location-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
         std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    // Where the install rules put the module, under a prefix whose programs are in bin/.
    const fs::path installed_ = (root_ / VEKTA_INSTALL_MODULEDIR).lexically_normal();
};

TEST_P(ModuleLocationTest, ChoosesTheFirstFolderHoldingTheModule) {
    const ModuleLocationCase& c = GetParam();
    if (c.installedApart && InstalledBesideProgram()) {
        GTEST_SKIP() << "the installed module sits beside the program on this system";
    }
    const fs::path name = talcore::string::UTF8to16(vekta::host::ModuleFileName());
    for (const char* folder : c.moduleIn) std::ofstream(Folder(folder) / name) << "module";
    for (const char* folder : c.folderNamedLikeIt) fs::create_directories(Folder(folder) / name);

    const std::string chosen = vekta::host::DefaultModulePath(root_ / "bin");
    EXPECT_EQ(fs::path(talcore::string::UTF8to16(chosen)).lexically_normal(),
              (Folder(c.expected) / name).lexically_normal());
}

const ModuleLocationCase kCases[] = {
    {"BesideTheProgram", {"bin"}, {}, "bin", false},
    {"BuildTree", {"lib"}, {}, "lib", false},
    {"Installed", {"installed"}, {}, "installed", false},
    {"BesideWinsOverInstalled", {"bin", "installed"}, {}, "bin", false},
    {"BuildTreeWinsOverInstalled", {"lib", "installed"}, {}, "lib", true},
    {"FolderOfItsNameIsNoModule", {"installed"}, {"bin", "lib"}, "installed", true},
    {"NowhereNamesTheInstallFolder", {}, {}, "installed", false},
};
INSTANTIATE_TEST_SUITE_P(Layouts, ModuleLocationTest, ::testing::ValuesIn(kCases),
                         [](const auto& layout) { return std::string(layout.param.name); });

}  // namespace
