#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "refhost/BasicSuiteHost.h"
#include "refhost/ExportParamHost.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

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
    SuiteInstance instance_{kInstance};
    const LuSDKExportParamSuite* suite_ = instance_.suite;
};

TEST(BasicSuiteHost, HandsOutTheExportParamSuiteForExactlyItsNameAndVersionWhileAvailable) {
    const BasicSuite* basic = vekta::host::GetBasicSuite();
    ASSERT_NE(basic, nullptr);
    struct Case {
        const char* name;
        std::int32_t version;
        bool found;
    };
    const Case cases[] = {{"Tessel Export Param Suite", 7, true},   {"Tessel Export Param Suite", 6, false},
                          {"Tessel Export Param Suite", 8, false},  {"Tessel Export Param Suit", 7, false},
                          {"Tessel Export Param Suite ", 7, false}, {nullptr, 7, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
        const void* suite_ = reinterpret_cast<const void*>(1);
        EXPECT_EQ(basic->AcquireSuite(c.name, c.version, &suite_) == 0, c.found);
        EXPECT_EQ(suite_, c.found ? static_cast<const void*>(ExportParamHost::Suite()) : nullptr);
    }
    EXPECT_LT(basic->AcquireSuite(kExportParamSuiteName, 7, nullptr), 0);
    const void* suite_ = nullptr;
    {
        vekta::host::ScopedExportParamSuiteUnavailable unavailable;
        EXPECT_LT(basic->AcquireSuite(kExportParamSuiteName, 7, &suite_), 0);
    }
    EXPECT_EQ(basic->AcquireSuite(kExportParamSuiteName, 7, &suite_), 0);
}

TEST_F(ExportParamHostTest, RefusesWhatACarefulHostWouldNotTakeAndChangesNothing) {
    ASSERT_EQ(instance_.AddParameter("Taken", kParamTypeCheckbox), 0);
    ASSERT_EQ(instance_.AddGroup("G"), 0);
    const char* host = vekta::host::kDefaultHostGroupID;
    EXPECT_EQ(instance_.AddParameter("Taken", kParamTypeCheckbox), vekta::host::kSuiteDuplicateID);
    EXPECT_EQ(instance_.AddParameter("G", kParamTypeCheckbox), vekta::host::kSuiteDuplicateID);
    EXPECT_EQ(instance_.AddParameter("Orphan", kParamTypeCheckbox, "NoSuchGroup"), vekta::host::kSuiteUnknownID);
    EXPECT_EQ(instance_.AddParameter("UnderAParameter", kParamTypeCheckbox, "Taken"), vekta::host::kSuiteUnknownID);
    EXPECT_EQ(instance_.AddParameter("NoType", 0), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(instance_.AddParameter("NoType", 9), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(instance_.AddParameter("With space", kParamTypeCheckbox), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(instance_.AddParameter("", kParamTypeCheckbox), vekta::host::kSuiteBadArgument);
    EXPECT_EQ(suite_->AddParameter(kInstance, 0, host, nullptr), vekta::host::kSuiteBadArgument);
    ParamInfo info;
    std::memset(&info, 0, sizeof info);
    info.structVersion = 2;
    info.value.structVersion = 1;
    info.type = kParamTypeCheckbox;
    std::strcpy(info.identifier, "Old");
    EXPECT_EQ(suite_->AddParameter(kInstance, 0, host, &info), vekta::host::kSuiteBadArgument);
    info.structVersion = 1;
    std::memset(info.identifier, 'U', sizeof info.identifier);
    EXPECT_EQ(suite_->AddParameter(kInstance, 0, host, &info), vekta::host::kSuiteBadArgument);
    EXPECT_LT(suite_->AddGroup(kInstance, 0, "NoSuchParent", "H", u"", 0, 0, 0), 0);
    EXPECT_EQ(suite_->AddGroup(kInstance, 0, host, "Taken", u"", 0, 0, 0), vekta::host::kSuiteDuplicateID);
    EXPECT_EQ(ExportParamHost::Get().Snapshot(kInstance)->size(), 3u);
    EXPECT_NE(ExportParamHost::Get().LastRefusal(), "");

    ParamValue value = Zeroed();
    EXPECT_EQ(suite_->GetValue(kInstance, 0, "Taken", &value), 0);
    EXPECT_LT(suite_->GetValue(kInstance + 1, 0, "Taken", &value), 0);
    EXPECT_LT(suite_->GetValue(kInstance, 0, "Q", &value), 0);
    EXPECT_LT(suite_->GetValue(kInstance, 0, nullptr, &value), 0);
    EXPECT_LT(suite_->GetValue(kInstance, 0, "Taken", nullptr), 0);
    EXPECT_LT(suite_->ChangeValue(kInstance, 0, "Q", &value), 0);
    EXPECT_LT(suite_->SetName(kInstance + 1, 0, "Taken", u"x"), 0);
    EXPECT_EQ(suite_->AddChoice(kInstance, 0, "Taken", ParamValueUnion{}, u"x"), vekta::host::kSuiteWrongType);
}

TEST_F(ExportParamHostTest, ByteArraysNeverCopyBeyondEitherSize) {
    ASSERT_EQ(instance_.AddParameter("B", kParamTypeByteArray), 0);
    const std::uint8_t data[] = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(suite_->SetArrayValue(kInstance, 0, "B", 7, data), 0);
    std::int32_t size = -1;
    ASSERT_EQ(suite_->GetArrayValue(kInstance, 0, "B", &size, nullptr), 0);
    EXPECT_EQ(size, 7);
    std::uint8_t small[4] = {};
    size = 4;
    ASSERT_EQ(suite_->GetArrayValue(kInstance, 0, "B", &size, small), 0);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(std::vector<std::uint8_t>(small, small + 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    std::uint8_t large[16] = {};
    size = 16;
    ASSERT_EQ(suite_->GetArrayValue(kInstance, 0, "B", &size, large), 0);
    EXPECT_EQ(size, 7);

    size = -2;
    EXPECT_LT(suite_->GetArrayValue(kInstance, 0, "B", &size, large), 0);
    EXPECT_LT(suite_->GetArrayValue(kInstance, 0, "B", nullptr, large), 0);
    EXPECT_LT(suite_->SetArrayValue(kInstance, 0, "B", -1, data), 0);
    EXPECT_LT(suite_->SetArrayValue(kInstance, 0, "B", 3, nullptr), 0);
    EXPECT_EQ(instance_.Entry("B").bytes.size(), 7u) << "refused writes change nothing";
}

TEST_F(ExportParamHostTest, LongTextsAreCutInlineAndKeptWholeThroughAFlagChange) {
    ASSERT_EQ(instance_.AddParameter("T", kParamTypeText), 0);
    const std::u16string fits(kParamInlineTextUnits - 1, u'f');
    ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, "T", fits), 0);
    ParamValue value = Zeroed();
    ASSERT_EQ(suite_->GetValue(kInstance, 0, "T", &value), 0);
    EXPECT_EQ(std::u16string(value.textValue), fits);
    EXPECT_EQ(value.arraySize, 0);

    // Written whole through the array form, read back cut inline with the whole size.
    const std::u16string caption = std::u16string(600, u'c') + u"\U0001F600";
    const auto size = static_cast<std::int32_t>(2 * caption.size() + 2);
    ASSERT_EQ(suite_->SetArrayValue(kInstance, 0, "T", size, caption.c_str()), 0);
    EXPECT_EQ(suite_->SetArrayValue(kInstance, 0, "T", 3, caption.c_str()), vekta::host::kSuiteBadArgument);
    value = Zeroed();
    ASSERT_EQ(suite_->GetValue(kInstance, 0, "T", &value), 0);
    EXPECT_EQ(std::u16string(value.textValue), caption.substr(0, kParamInlineTextUnits - 1));
    EXPECT_EQ(value.arraySize, size);

    value.disabled = 1;
    ASSERT_EQ(suite_->ChangeValue(kInstance, 0, "T", &value), 0);
    EXPECT_EQ(instance_.Entry("T").text, caption);
    EXPECT_TRUE(instance_.Entry("T").disabled);
    {
        // A host that stores the record's inline text as given cuts the text with the flag.
        ExportParamHost::Get().SetLongTextRecords(vekta::host::LongTextRecords::TakenAsGiven);
        value.disabled = 0;
        const auto changed = suite_->ChangeValue(kInstance, 0, "T", &value);
        ExportParamHost::Get().SetLongTextRecords(vekta::host::LongTextRecords::KeptWhenUnchanged);
        ASSERT_EQ(changed, 0);
        EXPECT_EQ(instance_.Entry("T").text, caption.substr(0, kParamInlineTextUnits - 1));
        EXPECT_FALSE(instance_.Entry("T").disabled);
        ASSERT_EQ(suite_->SetArrayValue(kInstance, 0, "T", size, caption.c_str()), 0);
    }
    // An edited record is an edit: its text replaces the stored one.
    value.textValue[0] = u'X';
    ASSERT_EQ(suite_->ChangeValue(kInstance, 0, "T", &value), 0);
    EXPECT_EQ(instance_.Entry("T").text, u'X' + caption.substr(1, kParamInlineTextUnits - 2));
}

}  // namespace
