#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "refhost/ExportParamHost.h"
#include "refhost/PresetFile.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

namespace fs = std::filesystem;
using vekta::host::ExportParamHost;
using vekta::host::InstanceSettings;
using vekta::test::SuiteInstance;

constexpr std::uint32_t kInstance = 3201;

class TempDir {
public:
    TempDir() {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                ("vekta-preset-" + std::to_string(::getpid()) + "-" + test->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteFile(const fs::path& path, std::string_view text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

// Comparable form of an instance's settings.
std::string Describe(const InstanceSettings& settings) { return vekta::host::FormatPreset(settings); }

std::string CurrentSettings(std::uint32_t instanceID) {
    return Describe(*ExportParamHost::Get().ReadSettings(instanceID));
}

// Every kind of value, a disabled group and a hidden byte array holding a token.
class PresetFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        AddParameters(instance);
        auto& host = ExportParamHost::Get();
        ASSERT_EQ(host.SetDisabled(kInstance, "G", true), 0);
        ASSERT_EQ(host.SetValue(kInstance, "Check", std::int32_t{1}), 0);
        ASSERT_EQ(host.SetValue(kInstance, "Popup", std::int32_t{-7}), 0);
        ASSERT_EQ(host.SetValue(kInstance, "Real", 0.1), 0);
        ASSERT_EQ(host.SetValue(kInstance, "Time", std::numeric_limits<std::int64_t>::min()), 0);
        ASSERT_EQ(host.SetValue(kInstance, "Wide", std::int64_t{1234567890123}), 0);
        ASSERT_EQ(host.SetValue(kInstance, "Caption", kAwkwardText), 0);
        ASSERT_EQ(host.SetValue(kInstance, "Token", kToken), 0);
    }

    static void AddParameters(const SuiteInstance& target) {
        ASSERT_EQ(target.AddGroup("G"), 0);
        ASSERT_EQ(target.AddParameter("Check", kParamTypeCheckbox, "G"), 0);
        ASSERT_EQ(target.AddParameter("Popup", kParamTypeInteger, "G"), 0);
        ASSERT_EQ(target.AddParameter("Real", kParamTypeFloat, "G"), 0);
        ASSERT_EQ(target.AddParameter("Time", kParamTypeTime, "G"), 0);
        ASSERT_EQ(target.AddParameter("Wide", kParamTypeHiddenInt64, "G"), 0);
        ASSERT_EQ(target.AddParameter("Caption", kParamTypeText, "G"), 0);
        ASSERT_EQ(target.AddParameter("Button", kParamTypeButton, "G"), 0);
        ParamValue hidden;
        std::memset(&hidden, 0, sizeof hidden);
        hidden.disabled = hidden.hidden = 1;
        ASSERT_EQ(target.AddParameter("Token", kParamTypeByteArray, "G", hidden), 0);
    }

    inline static const std::u16string kAwkwardText =
        std::u16string(u"say \"hi\"\n\\ tab\t caf\u00E9 \U0001F600 # end ") + char16_t(0xD800) + u"x" +
        char16_t(0xDC01) + char16_t(0x01) + u" " + std::u16string(300, u'w');
    inline static const std::vector<std::uint8_t> kToken = {'r', 0, 'f', 0, 0x00, 0xFF, 0x0A, 0x20, 0, 0};

    SuiteInstance instance{kInstance};
    TempDir dir;
};

TEST_F(PresetFileTest, SavedSettingsLoadBackExactlyIntoFreshParameters) {
    const fs::path file = dir.Path() / "tiktok.preset";
    const auto saved = vekta::host::SavePreset(file, kInstance);
    ASSERT_TRUE(saved.ok) << saved.error;

    SuiteInstance fresh(3202);
    AddParameters(fresh);
    const auto loaded = vekta::host::LoadPreset(file, 3202);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_TRUE(loaded.ignoredIDs.empty());
    EXPECT_EQ(CurrentSettings(3202), CurrentSettings(kInstance));
    EXPECT_EQ(fresh.Entry("Caption").text, kAwkwardText);
    EXPECT_EQ(fresh.Entry("Token").bytes, kToken);
    EXPECT_TRUE(fresh.Entry("G").disabled);
}

TEST_F(PresetFileTest, TheFileIsForItsOwnerOnlyAndNoTemporaryFileStays) {
    const fs::path file = dir.Path() / "tiktok.preset";
    WriteFile(file, "old");
    ::chmod(file.c_str(), 0644);
    ASSERT_TRUE(vekta::host::SavePreset(file, kInstance).ok);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path())) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"tiktok.preset"});
}

TEST_F(PresetFileTest, FormatIsOneReadableLinePerEntry) {
    const std::string text = vekta::host::FormatPreset(*ExportParamHost::Get().ReadSettings(kInstance));
    const std::string head = "VektaExportPreset 1\ngroup " + std::string(vekta::host::kDefaultHostGroupID) +
                             " 0\ngroup G 1\nparam Check 1 1\nparam Popup 2 -7\nparam Real 3 0.1\n"
                             "param Time 4 -9223372036854775808\nparam Wide 5 1234567890123\n"
                             "param Caption 6 \"say \\\"hi\\\"\\n\\\\ tab\\t caf\xC3\xA9 \xF0\x9F\x98\x80 # end "
                             "\\ud800x\\udc01\\u0001 ";
    EXPECT_EQ(text.substr(0, head.size()), head);
    const std::string tail = "\"\nparam Token 8 72006600" "00ff0a200000\nend 9\n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(text.find("Button"), std::string::npos) << "buttons have no value";
}

TEST_F(PresetFileTest, EveryTruncationIsRefused) {
    const std::string text = vekta::host::FormatPreset(*ExportParamHost::Get().ReadSettings(kInstance));
    for (std::size_t length = 0; length < text.size(); ++length) {
        InstanceSettings settings;
        std::string error;
        EXPECT_FALSE(vekta::host::ParsePreset(std::string_view(text).substr(0, length), settings, error))
            << "prefix of " << length << " bytes was taken";
    }
}

TEST_F(PresetFileTest, BadFilesReportTheLineAndLeaveTheValuesUntouched) {
    const fs::path file = dir.Path() / "tiktok.preset";
    ASSERT_TRUE(vekta::host::SavePreset(file, kInstance).ok);
    const std::string good = ReadFile(file);
    // Loading changes nothing as long as the values differ from the file's.
    ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, "Popup", std::int32_t{42}), 0);
    ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, "Token", std::vector<std::uint8_t>{1}), 0);
    const std::string before = CurrentSettings(kInstance);

    auto replaced = [&](std::string_view from, std::string_view to) {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    struct Case {
        const char* name;
        std::string text;
        const char* expected;
    };
    const Case cases[] = {
        {"empty file", "", "line 1: empty file"},
        {"other file", "hello\n", "line 1: not a preset file"},
        {"other version", replaced("VektaExportPreset 1", "VektaExportPreset 2"), "line 1: format version 2"},
        {"cut mid line", good.substr(0, good.find("param Real") + 8), "line 6: truncated"},
        {"cut at a line", good.substr(0, good.find("param Real")), "line 6: truncated: the end line is missing"},
        {"end count", replaced("end 9", "end 8"), "line 11: end line counts 8"},
        {"after the end", good + "param X 1 1\n", "line 12: text after the end line"},
        {"bad hex", replaced("param Token 8 72", "param Token 8 7g"), "line 10: parameter \"Token\": byte array"},
        {"odd hex", replaced("0a200000\n", "0a20000\n"), "line 10: parameter \"Token\": byte array"},
        {"bad integer", replaced("Popup 2 -7", "Popup 2 -7x"), "line 5: parameter \"Popup\": expected a 32-bit"},
        {"integer overflow", replaced("Popup 2 -7", "Popup 2 4294967296"), "line 5: parameter \"Popup\""},
        {"unknown escape", replaced("\\t caf", "\\q caf"), "line 9: parameter \"Caption\": unknown escape"},
        {"short \\u", replaced("\\u0001", "\\u01"), "line 9: parameter \"Caption\": \\u needs"},
        {"bad UTF-8", replaced("caf\xC3\xA9", "caf\xC3("), "line 9: parameter \"Caption\": text value is not valid UTF-8"},
        {"UTF-8 surrogate", replaced("caf\xC3\xA9", "caf\xED\xA0\x80"), "line 9: parameter \"Caption\": text value is not"},
        {"unquoted text", replaced("Caption 6 \"", "Caption 6 "), "line 9: parameter \"Caption\": text value must"},
        {"button", replaced("param Check 1 1", "param Check 7 1"), "line 4: parameter \"Check\": type 7 carries no value"},
        {"duplicate", replaced("param Popup", "param Check"), "line 5: identifier \"Check\" appears twice"},
        {"bad group flag", replaced("group G 1", "group G 2"), "line 3: group \"G\""},
        {"unknown entry", replaced("param Wide", "parm Wide"), "line 8: unknown entry \"parm\""},
        {"type mismatch", replaced("param Real 3 0.1", "param Real 2 1"), "line 6: \"Real\" is of type float here"},
        {"group for a parameter", replaced("param Check 1 1", "group Check 1"), "line 4: \"Check\" is a parameter here"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(file, c.text);
        const auto result = vekta::host::LoadPreset(file, kInstance);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.expected), std::string::npos) << result.error;
        EXPECT_EQ(CurrentSettings(kInstance), before);
    }
}

TEST_F(PresetFileTest, EntriesTheInstanceLacksAreSkippedAndNamed) {
    const fs::path file = dir.Path() / "tiktok.preset";
    ASSERT_TRUE(vekta::host::SavePreset(file, kInstance).ok);
    SuiteInstance partial(3203);
    ASSERT_EQ(partial.AddParameter("Popup", kParamTypeInteger), 0);
    const auto result = vekta::host::LoadPreset(file, 3203);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(partial.Entry("Popup").value.intValue, -7);
    EXPECT_EQ(result.ignoredIDs,
              (std::vector<std::string>{"G", "Check", "Real", "Time", "Wide", "Caption", "Token"}));
}

TEST_F(PresetFileTest, MissingFilesAndFoldersAreReportedNotThrown) {
    const auto load = vekta::host::LoadPreset(dir.Path() / "absent.preset", kInstance);
    EXPECT_FALSE(load.ok);
    EXPECT_NE(load.error.find("absent.preset"), std::string::npos);
    const auto save = vekta::host::SavePreset(dir.Path() / "no" / "such" / "folder.preset", kInstance);
    EXPECT_FALSE(save.ok);
    EXPECT_NE(save.error.find("temporary file"), std::string::npos) << save.error;
    EXPECT_FALSE(vekta::host::SavePreset(dir.Path() / "x.preset", 999999).ok);
}

}  // namespace
