#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "refhost/ExportParamHost.h"
#include "refhost/PresetFile.h"
#include "tests/refhost/OwnerOnly.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

namespace fs = std::filesystem;
using vekta::host::ExportParamHost;
using vekta::test::SuiteInstance;

constexpr std::uint32_t kInstance = 3201;

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteFile(const fs::path& path, std::string_view text) { std::ofstream(path, std::ios::binary) << text; }

std::string CurrentSettings(std::uint32_t instanceID) {
    return vekta::host::FormatPreset(*ExportParamHost::Get().ReadSettings(instanceID));
}

// Every kind of value, a disabled group and a hidden byte array holding a token.
class PresetFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        AddParameters(instance_);
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
    void TearDown() override { fs::remove_all(dir_); }

    static void AddParameters(const SuiteInstance& target) {
        ASSERT_EQ(target.AddGroup("G"), 0);
        const std::pair<const char*, std::int32_t> parameters[] = {
            {"Check", kParamTypeCheckbox}, {"Popup", kParamTypeInteger},    {"Real", kParamTypeFloat},
            {"Time", kParamTypeTime},      {"Wide", kParamTypeHiddenInt64}, {"Caption", kParamTypeText},
            {"Button", kParamTypeButton},  {"Token", kParamTypeByteArray}};
        for (const auto& [id, type] : parameters) ASSERT_EQ(target.AddParameter(id, type, "G"), 0);
        ASSERT_EQ(ExportParamHost::Get().SetHidden(target.id, "Token", true), 0);
        ASSERT_EQ(ExportParamHost::Get().SetDisabled(target.id, "Token", true), 0);
    }

    inline static const std::u16string kAwkwardText =
        std::u16string(u"say \"hi\"\n\\ tab\t caf\u00E9 \U0001F600 # end ") + char16_t(0xD800) + u"x" +
        char16_t(0xDC01) + char16_t(0x01) + u" " + std::u16string(300, u'w');
    inline static const std::vector<std::uint8_t> kToken = {'r', 0, 'f', 0, 0x00, 0xFF, 0x0A, 0x20, 0, 0};

    SuiteInstance instance_{kInstance};
    const fs::path dir_ =
        fs::temp_directory_path() /
        ("vekta-preset-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    const fs::path file_ = dir_ / "tiktok.preset";
};

TEST_F(PresetFileTest, SavedSettingsLoadBackExactlyFromAnOwnerOnlyFile) {
    WriteFile(file_, "old");
    vekta::test::OpenToEveryone(file_);
    const auto saved = vekta::host::SavePreset(file_, kInstance);
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_TRUE(vekta::test::OnlyOwnerHasAccess(file_)) << "the file carries a token";
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"tiktok.preset"}) << "no temporary file stays";

    SuiteInstance fresh(3202);
    AddParameters(fresh);
    const auto loaded = vekta::host::LoadPreset(file_, 3202);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_TRUE(loaded.ignoredIDs.empty());
    EXPECT_EQ(CurrentSettings(3202), CurrentSettings(kInstance));
    EXPECT_EQ(fresh.Entry("Caption").text, kAwkwardText);
    EXPECT_EQ(fresh.Entry("Token").bytes, kToken);
    EXPECT_TRUE(fresh.Entry("G").disabled);
}

TEST_F(PresetFileTest, BadFilesAreRefusedWithTheirLineAndTheValuesStayUntouched) {
    ASSERT_TRUE(vekta::host::SavePreset(file_, kInstance).ok);
    const std::string good = ReadFile(file_);
    // Loading changes nothing as long as the values differ from the file_'s.
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
        {"bad UTF-8", replaced("caf\xC3\xA9", "caf\xC3("),
         "line 9: parameter \"Caption\": text value is not valid UTF-8"},
        {"UTF-8 surrogate", replaced("caf\xC3\xA9", "caf\xED\xA0\x80"),
         "line 9: parameter \"Caption\": text value is not"},
        {"unquoted text", replaced("Caption 6 \"", "Caption 6 "), "line 9: parameter \"Caption\": text value must"},
        {"button", replaced("param Check 1 1", "param Check 7 1"),
         "line 4: parameter \"Check\": type 7 carries no value"},
        {"duplicate", replaced("param Popup", "param Check"), "line 5: identifier \"Check\" appears twice"},
        {"bad group flag", replaced("group G 1", "group G 2"), "line 3: group \"G\""},
        {"unknown entry", replaced("param Wide", "parm Wide"), "line 8: unknown entry \"parm\""},
        {"type mismatch", replaced("param Real 3 0.1", "param Real 2 1"), "line 6: \"Real\" is of type float here"},
        {"group for a parameter", replaced("param Check 1 1", "group Check 1"),
         "line 4: \"Check\" is a parameter here"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(file_, c.text);
        const auto result = vekta::host::LoadPreset(file_, kInstance);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.expected), std::string::npos) << result.error;
        EXPECT_EQ(CurrentSettings(kInstance), before);
    }
    for (std::size_t length = 0; length < good.size(); ++length) {
        vekta::host::InstanceSettings settings;
        std::string error;
        EXPECT_FALSE(vekta::host::ParsePreset(std::string_view(good).substr(0, length), settings, error))
            << "a prefix of " << length << " bytes was taken";
    }
}

TEST_F(PresetFileTest, EntriesTheInstanceLacksAreSkippedAndNamed) {
    ASSERT_TRUE(vekta::host::SavePreset(file_, kInstance).ok);
    SuiteInstance partial(3203);
    ASSERT_EQ(partial.AddParameter("Popup", kParamTypeInteger), 0);
    const auto result = vekta::host::LoadPreset(file_, 3203);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(partial.Entry("Popup").value.intValue, -7);
    EXPECT_EQ(result.ignoredIDs, (std::vector<std::string>{"G", "Check", "Real", "Time", "Wide", "Caption", "Token"}));
}

TEST_F(PresetFileTest, MissingFilesAndFoldersAreReportedNotThrown) {
    const auto load = vekta::host::LoadPreset(dir_ / "absent.preset", kInstance);
    EXPECT_FALSE(load.ok);
    EXPECT_NE(load.error.find("absent.preset"), std::string::npos);
    const auto save = vekta::host::SavePreset(dir_ / "no" / "such" / "folder.preset", kInstance);
    EXPECT_FALSE(save.ok);
    EXPECT_NE(save.error.find("temporary file"), std::string::npos) << save.error;
    EXPECT_FALSE(vekta::host::SavePreset(dir_ / "x.preset", 999999).ok);
}

}  // namespace
