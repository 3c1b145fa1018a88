#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "refhost/ExportParamHost.h"
#include "settings/ParameterAccess.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

using Vekta::InstanceParameters;
using vekta::host::ExportParamHost;
using vekta::test::SuiteInstance;

constexpr std::uint32_t kInstance = 2302;
constexpr char kInteger[] = "TestInteger";
constexpr char kText[] = "TestText";
constexpr char kBytes[] = "TestBytes";

// A host that stores a changed record's inline text as given, even when the record still carries
// the size of a longer text: the careless host the flag changes must survive.
std::int32_t CarelessChangeValue(std::uint32_t instanceID, std::int32_t groupIndex, const char* parameterID,
                                 const ParamValue* value) {
    ParamValue asGiven = *value;
    asGiven.arraySize = 0;
    return ExportParamHost::Suite()->ChangeValue(instanceID, groupIndex, parameterID, &asGiven);
}

class InstanceParametersTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(instance_.AddParameter(kInteger, kParamTypeInteger), 0);
        ASSERT_EQ(instance_.AddParameter(kText, kParamTypeText), 0);
        ASSERT_EQ(instance_.AddParameter(kBytes, kParamTypeByteArray), 0);
        ASSERT_TRUE(Vekta::CopyIdentifier(table[0].identifier, kText));
        table[0].type = kParamTypeText;
    }
    SuiteInstance instance_{kInstance};
    Vekta::ParamDescriptor table[1] = {};
};

TEST_F(InstanceParametersTest, AFlagChangeKeepsALongTextOnEveryHostAndLeavesByteArraysAlone) {
    LuSDKExportParamSuite careless = *ExportParamHost::Suite();
    careless.ChangeValue = &CarelessChangeValue;
    const std::u16string longText(kParamInlineTextUnits + 40, u'L');
    const std::vector<std::uint8_t> oddBytes = {1, 2, 3};
    struct Case {
        const char* name;
        const LuSDKExportParamSuite* suite;
    } cases[] = {{"careful host", ExportParamHost::Suite()}, {"careless host", &careless}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, kText, longText), 0);
        ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, kBytes, oddBytes), 0);
        const InstanceParameters p(c.suite, kInstance, table);
        p.SetDisabled(kText, true);
        p.SetHidden(kBytes, true);
        EXPECT_TRUE(instance_.Entry(kText).disabled);
        EXPECT_EQ(p.ReadText(kText), longText);
        EXPECT_TRUE(instance_.Entry(kBytes).hidden);
        EXPECT_EQ(instance_.Entry(kBytes).bytes, oddBytes);
        p.SetDisabled(kText, false);
        p.SetHidden(kBytes, false);
    }
}

TEST_F(InstanceParametersTest, ASuiteWithoutAnOperationReadsZeroAndChangesNothing) {
    ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, kInteger, std::int32_t{5}), 0);
    struct Case {
        const char* name;
        void (*remove)(LuSDKExportParamSuite&);
        std::int32_t integerRead;  // what ReadInteger gives afterwards
    } cases[] = {
        {"no GetValue", [](LuSDKExportParamSuite& s) { s.GetValue = nullptr; }, 0},
        {"no ChangeValue", [](LuSDKExportParamSuite& s) { s.ChangeValue = nullptr; }, 5},
        {"no SetName", [](LuSDKExportParamSuite& s) { s.SetName = nullptr; }, 5},
        {"no SetDescription", [](LuSDKExportParamSuite& s) { s.SetDescription = nullptr; }, 5},
        {"no choices", [](LuSDKExportParamSuite& s) { s.AddChoice = nullptr, s.ClearChoices = nullptr; }, 5},
        {"no array access", [](LuSDKExportParamSuite& s) { s.GetArrayValue = nullptr, s.SetArrayValue = nullptr; }, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LuSDKExportParamSuite partial = *ExportParamHost::Suite();
        c.remove(partial);
        const InstanceParameters p(&partial, kInstance, table);
        EXPECT_EQ(p.ReadInteger(kInteger), c.integerRead);
        // Each step either goes through or does nothing; none may call a missing operation.
        p.SetName(kInteger, u"label");
        p.SetDescription(kInteger, u"tip");
        p.ClearChoices(kInteger);
        p.AddChoice(kInteger, 1, u"one");
        p.SetArrayText(kBytes, u"abc");
        p.ClearArray(kBytes);
        p.SetDisabled(kText, true);
        p.SetDisabled(kText, false);
        if (partial.ChangeValue == nullptr || partial.GetValue == nullptr) {
            p.SetInteger(kInteger, 9);
            EXPECT_EQ(instance_.Entry(kInteger).value.intValue, 5);
        }
    }
    const InstanceParameters none(nullptr, kInstance, table);
    none.SetInteger(kInteger, 9);
    EXPECT_EQ(none.ReadInteger(kInteger), 0);
    EXPECT_FALSE(none.IsEnabled(kInteger));
    EXPECT_EQ(instance_.Entry(kInteger).value.intValue, 5);
    EXPECT_EQ(InstanceParameters::ForRecord(nullptr).Suite(), nullptr);
    EXPECT_EQ(InstanceParameters::ForRecord(&instance_.record).ReadInteger(kInteger), 5);
}

}  // namespace
