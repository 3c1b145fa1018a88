#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "refhost/BasicSuiteHost.h"
#include "refhost/ExportParamHost.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

using vekta::host::EntryKind;
using vekta::host::ExportParamHost;
using vekta::test::SuiteInstance;

constexpr std::uint32_t kInstance = 3101;

ParamValue Zeroed() {
    ParamValue value;
    std::memset(&value, 0, sizeof value);
    return value;
}

class ExportParamHostTest : public ::testing::Test {
protected:
    SuiteInstance instance{kInstance};
    const LuSDKExportParamSuite* suite = instance.suite;
};

TEST(BasicSuiteHost, HandsOutTheExportParamSuiteForExactlyItsNameAndVersion) {
    const BasicSuite* basic = vekta::host::GetBasicSuite();
    ASSERT_NE(basic, nullptr);
    struct Case {
        const char* name;
        std::int32_t version;
        bool found;
    };
    const Case cases[] = {{"Tessel Export Param Suite", 7, true},  {"Tessel Export Param Suite", 6, false},
                          {"Tessel Export Param Suite", 8, false}, {"Tessel Export Param Suit", 7, false},
                          {"Tessel Export Param Suite ", 7, false}, {nullptr, 7, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
        const void* suite = reinterpret_cast<const void*>(1);
        const std::int32_t result = basic->AcquireSuite(c.name, c.version, &suite);
        EXPECT_EQ(result == 0, c.found);
        EXPECT_EQ(suite, c.found ? static_cast<const void*>(ExportParamHost::Suite()) : nullptr);
    }
    EXPECT_LT(basic->AcquireSuite(kExportParamSuiteName, 7, nullptr), 0);
}

TEST(BasicSuiteHost, AnUnavailableSuiteIsRefusedUntilItIsBack) {
    const void* suite = nullptr;
    {
        vekta::host::ScopedExportParamSuiteUnavailable unavailable;
        EXPECT_LT(vekta::host::AcquireSuite(kExportParamSuiteName, 7, &suite), 0);
        EXPECT_EQ(suite, nullptr);
    }
    EXPECT_EQ(vekta::host::AcquireSuite(kExportParamSuiteName, 7, &suite), 0);
    EXPECT_NE(suite, nullptr);
}

TEST_F(ExportParamHostTest, UnknownInstancesAndParametersFailWithNegativeResults) {
    ASSERT_EQ(instance.AddParameter("P", kParamTypeInteger), 0);
    ParamValue value = Zeroed();
    EXPECT_EQ(suite->GetValue(kInstance, 0, "P", &value), 0);
    EXPECT_LT(suite->GetValue(kInstance + 1, 0, "P", &value), 0);
    EXPECT_LT(suite->GetValue(kInstance, 0, "Q", &value), 0);
    EXPECT_LT(suite->GetValue(kInstance, 0, nullptr, &value), 0);
    EXPECT_LT(suite->GetValue(kInstance, 0, "P", nullptr), 0);
    EXPECT_LT(suite->ChangeValue(kInstance, 0, "Q", &value), 0);
    EXPECT_LT(suite->SetName(kInstance + 1, 0, "P", u"x"), 0);
}

TEST_F(ExportParamHostTest, RefusesParametersThatACarefulHostWouldNotTake) {
    ASSERT_EQ(instance.AddParameter("Taken", kParamTypeCheckbox), 0);
    auto add = [&](const char* id, std::int32_t type, const char* parent, std::int32_t version = 1) {
        ParamInfo info;
        std::memset(&info, 0, sizeof info);
        info.structVersion = version;
        info.value.structVersion = 1;
        std::strncpy(info.identifier, id, sizeof info.identifier - 1);
        info.type = type;
        return suite->AddParameter(kInstance, 0, parent, &info);
    };
    const char* host = vekta::host::kDefaultHostGroupID;
    EXPECT_EQ(add("Taken", kParamTypeCheckbox, host), vekta::host::kSuiteDuplicateID);
    EXPECT_EQ(add("Orphan", kParamTypeCheckbox, "NoSuchGroup"), vekta::host::kSuiteUnknownID);
    EXPECT_EQ(add("UnderAParameter", kParamTypeCheckbox, "Taken"), vekta::host::kSuiteUnknownID);
    EXPECT_EQ(add("Old", kParamTypeCheckbox, host, 2), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(add("NoType", 0, host), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(add("NoType", 9, host), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(add("With space", kParamTypeCheckbox, host), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(add("", kParamTypeCheckbox, host), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(suite->AddParameter(kInstance, 0, host, nullptr), vekta::host::kSuiteBadArgument);

    ParamInfo unterminated;
    std::memset(&unterminated, 'U', sizeof unterminated);
    unterminated.structVersion = 1;
    unterminated.value.structVersion = 1;
    unterminated.type = kParamTypeCheckbox;
    EXPECT_EQ(suite->AddParameter(kInstance, 0, host, &unterminated), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(ExportParamHost::Get().Snapshot(kInstance)->size(), 2u);
    EXPECT_NE(ExportParamHost::Get().LastRefusal(), "");
}

TEST_F(ExportParamHostTest, ByteArraysNeverCopyBeyondTheCallersSize) {
    ASSERT_EQ(instance.AddParameter("B", kParamTypeByteArray), 0);
    const std::uint8_t data[] = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(suite->SetArrayValue(kInstance, 0, "B", 7, data), 0);

    std::int32_t size = -1;
    ASSERT_EQ(suite->GetArrayValue(kInstance, 0, "B", &size, nullptr), 0);
    EXPECT_EQ(size, 7);

    std::uint8_t small[4] = {};
    size = 4;
    ASSERT_EQ(suite->GetArrayValue(kInstance, 0, "B", &size, small), 0);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(std::vector<std::uint8_t>(small, small + 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));

    std::uint8_t large[16] = {};
    size = 16;
    ASSERT_EQ(suite->GetArrayValue(kInstance, 0, "B", &size, large), 0);
    EXPECT_EQ(size, 7);

    size = -2;
    EXPECT_LT(suite->GetArrayValue(kInstance, 0, "B", &size, large), 0);
    EXPECT_LT(suite->GetArrayValue(kInstance, 0, "B", nullptr, large), 0);
    EXPECT_LT(suite->SetArrayValue(kInstance, 0, "B", -1, data), 0);
    EXPECT_LT(suite->SetArrayValue(kInstance, 0, "B", 3, nullptr), 0);
    EXPECT_EQ(instance.Entry("B").bytes.size(), 7u) << "refused writes change nothing";

    ParamValue value = Zeroed();
    ASSERT_EQ(suite->GetValue(kInstance, 0, "B", &value), 0);
    EXPECT_EQ(value.arraySize, 7);

    ASSERT_EQ(suite->SetArrayValue(kInstance, 0, "B", 0, nullptr), 0);
    size = -1;
    ASSERT_EQ(suite->GetArrayValue(kInstance, 0, "B", &size, nullptr), 0);
    EXPECT_EQ(size, 0);
}

TEST_F(ExportParamHostTest, LongTextsAreCutInlineAndReadableWholeAsAnArray) {
    ASSERT_EQ(instance.AddParameter("T", kParamTypeText), 0);
    const std::u16string fits(kParamInlineTextUnits - 1, u'f');
    ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, "T", fits), 0);
    ParamValue value = Zeroed();
    ASSERT_EQ(suite->GetValue(kInstance, 0, "T", &value), 0);
    EXPECT_EQ(std::u16string(value.textValue), fits);
    EXPECT_EQ(value.arraySize, 0);

    const std::u16string longer(kParamInlineTextUnits, u'L');
    ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, "T", longer), 0);
    value = Zeroed();
    ASSERT_EQ(suite->GetValue(kInstance, 0, "T", &value), 0);
    EXPECT_EQ(std::u16string(value.textValue), longer.substr(0, kParamInlineTextUnits - 1));
    EXPECT_EQ(value.arraySize, static_cast<std::int32_t>(2 * longer.size() + 2));
    std::u16string whole(longer.size() + 1, u'?');
    std::int32_t size = value.arraySize;
    ASSERT_EQ(suite->GetArrayValue(kInstance, 0, "T", &size, whole.data()), 0);
    EXPECT_EQ(whole, longer + u'\0');
}

TEST_F(ExportParamHostTest, ATextParameterTakesALongTextThroughItsArrayForm) {
    ASSERT_EQ(instance.AddParameter("T", kParamTypeText), 0);
    const std::u16string longer = std::u16string(400, u'p') + u"\U0001F600";
    const auto size = static_cast<std::int32_t>(2 * longer.size() + 2);
    ASSERT_EQ(suite->SetArrayValue(kInstance, 0, "T", size, longer.c_str()), 0);
    EXPECT_EQ(instance.Entry("T").text, longer);
    EXPECT_EQ(suite->SetArrayValue(kInstance, 0, "T", 3, longer.c_str()), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(instance.Entry("T").text, longer);
}

TEST_F(ExportParamHostTest, FlippingAFlagOfALongTextKeepsTheWholeText) {
    ASSERT_EQ(instance.AddParameter("T", kParamTypeText), 0);
    const std::u16string caption = std::u16string(600, u'c') + u"#end";
    ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, "T", caption), 0);
    ParamValue value = Zeroed();
    ASSERT_EQ(suite->GetValue(kInstance, 0, "T", &value), 0);
    value.disabled = 1;
    ASSERT_EQ(suite->ChangeValue(kInstance, 0, "T", &value), 0);
    EXPECT_EQ(instance.Entry("T").text, caption);
    EXPECT_TRUE(instance.Entry("T").disabled);

    // An edited record is an edit: its text replaces the stored one.
    value.textValue[0] = u'X';
    ASSERT_EQ(suite->ChangeValue(kInstance, 0, "T", &value), 0);
    EXPECT_EQ(instance.Entry("T").text, u'X' + caption.substr(1, kParamInlineTextUnits - 2));
}

TEST_F(ExportParamHostTest, GroupsAnswerWithTheirFlagsAndTakeThemFromChangeValue) {
    ASSERT_EQ(instance.AddGroup("G"), 0);
    ParamValue value = Zeroed();
    ASSERT_EQ(suite->GetValue(kInstance, 0, "G", &value), 0);
    EXPECT_EQ(value.disabled, 0);
    value.disabled = 1;
    value.value.intValue = 99;  // ignored for a group
    ASSERT_EQ(suite->ChangeValue(kInstance, 0, "G", &value), 0);
    value = Zeroed();
    ASSERT_EQ(suite->GetValue(kInstance, 0, "G", &value), 0);
    EXPECT_EQ(value.disabled, 1);
    EXPECT_EQ(value.hidden, 0);
    EXPECT_EQ(value.value.intValue, 0);
    EXPECT_LT(suite->AddGroup(kInstance, 0, "NoSuchParent", "H", u"", 0, 0, 0), 0);
    EXPECT_EQ(suite->AddGroup(kInstance, 0, "G", "G", u"", 0, 0, 0), vekta::host::kSuiteDuplicateID);
}

TEST_F(ExportParamHostTest, PopupChoicesAreAppendedAndCleared) {
    ASSERT_EQ(instance.AddParameter("Popup", kParamTypeInteger), 0);
    ASSERT_EQ(instance.AddParameter("Check", kParamTypeCheckbox), 0);
    ParamValueUnion first{};
    first.intValue = 4;
    ParamValueUnion second{};
    second.intValue = 3;
    ASSERT_EQ(suite->AddChoice(kInstance, 0, "Popup", first, u"Select"), 0);
    ASSERT_EQ(suite->AddChoice(kInstance, 0, "Popup", second, u"Private"), 0);
    auto choices = instance.Entry("Popup").choices;
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(choices[0].value.intValue, 4);
    EXPECT_EQ(choices[0].label, u"Select");
    EXPECT_EQ(choices[1].label, u"Private");
    ASSERT_EQ(suite->ClearChoices(kInstance, 0, "Popup"), 0);
    EXPECT_TRUE(instance.Entry("Popup").choices.empty());
    EXPECT_EQ(suite->AddChoice(kInstance, 0, "Check", first, u"x"), vekta::host::kSuiteWrongType);
}

TEST_F(ExportParamHostTest, SettingsApplyAllOrNothing) {
    ASSERT_EQ(instance.AddParameter("I", kParamTypeInteger), 0);
    ASSERT_EQ(instance.AddParameter("T", kParamTypeText), 0);
    vekta::host::InstanceSettings settings;
    settings.parameters.push_back({"I", kParamTypeInteger, std::int32_t{5}});
    settings.parameters.push_back({"T", kParamTypeInteger, std::int32_t{6}});  // wrong type
    auto result = ExportParamHost::Get().ApplySettings(kInstance, settings);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failedID, "T");
    EXPECT_EQ(instance.Entry("I").value.intValue, 0);

    settings.parameters[1] = {"T", kParamTypeText, std::u16string(u"caption")};
    settings.parameters.push_back({"Gone", kParamTypeCheckbox, std::int32_t{1}});
    result = ExportParamHost::Get().ApplySettings(kInstance, settings);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.ignoredIDs, std::vector<std::string>{"Gone"});
    EXPECT_EQ(instance.Entry("I").value.intValue, 5);
    EXPECT_EQ(instance.Entry("T").text, u"caption");
}

}  // namespace
