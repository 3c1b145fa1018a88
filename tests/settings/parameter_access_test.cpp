#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "refhost/BasicSuiteHost.h"
#include "refhost/ExportParamHost.h"
#include "settings/ParameterAccess.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

using vekta::host::ExportParamHost;
using vekta::test::SuiteInstance;

constexpr std::uint32_t kInstance = 2301;
constexpr char kBytes[] = "TestBytes";
constexpr char kText[] = "TestText";
constexpr char kGroup[] = "TestGroup";

std::vector<std::uint8_t> BytesOf(std::u16string_view text, bool withNul) {
    std::vector<std::uint8_t> bytes(text.size() * 2);
    std::memcpy(bytes.data(), text.data(), bytes.size());
    if (withNul) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

class ParameterAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(instance_.AddParameter(kBytes, kParamTypeByteArray), 0);
        ASSERT_EQ(instance_.AddParameter(kText, kParamTypeText), 0);
        ASSERT_EQ(instance_.AddGroup(kGroup), 0);
    }
    SuiteInstance instance_{kInstance};
    const LuSDKExportParamSuite* suite_ = instance_.suite;
};

TEST_F(ParameterAccessTest, TextsRoundTripThroughByteArraysAndLongTextParameters) {
    using Bytes = std::vector<std::uint8_t>;
    struct Case {
        const char* name;
        const char* parameterID;
        std::u16string text;
        std::optional<Bytes> storedByOtherHost;  // else written by the plug-in, as characters plus a NUL
    };
    const std::u16string longest = std::u16string(300, u'x') + u"\U0001F600\U0001F601";
    const Case cases[] = {
        {"empty", kBytes, u"", std::nullopt},
        {"one character", kBytes, u"a", std::nullopt},
        {"non-BMP as surrogate pairs", kBytes, u"caf\u00E9 \U0001F600\U0001F3AC", std::nullopt},
        {"size 1", kBytes, u"", Bytes{0x41}},
        {"odd size", kBytes, u"a", Bytes{'a', 0, 'b'}},
        {"odd size with its NUL", kBytes, u"a", Bytes{'a', 0, 0, 0, 0x7F}},
        {"missing NUL", kBytes, u"ab", BytesOf(u"ab", false)},
        {"text filling the inline field", kText, std::u16string(kParamInlineTextUnits - 1, u'i'), std::nullopt},
        {"text one unit too long to inline", kText, std::u16string(kParamInlineTextUnits, u'i'), std::nullopt},
        {"text far beyond inline, ending in pairs", kText, longest, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string_view(c.parameterID) == kText) {
            ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, kText, c.text), 0);
            EXPECT_EQ(Vekta::GetTextValue(suite_, kInstance, kText), c.text);
            continue;
        }
        if (c.storedByOtherHost) {
            ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, kBytes, *c.storedByOtherHost), 0);
        } else {
            Vekta::SetArrayText(c.text, suite_, kInstance, kBytes);
            EXPECT_EQ(instance_.Entry(kBytes).bytes, c.text.empty() ? Bytes{} : BytesOf(c.text, true));
        }
        EXPECT_EQ(Vekta::GetArrayText(suite_, kInstance, kBytes), c.text);
    }
    Vekta::ClearArrayValue(suite_, kInstance, kBytes);
    EXPECT_TRUE(instance_.Entry(kBytes).bytes.empty());
    EXPECT_EQ(Vekta::GetArrayText(suite_, kInstance, kBytes), u"");
}

TEST_F(ParameterAccessTest, UnreadableParametersOrNoSuiteGiveEmptyResults) {
    EXPECT_EQ(Vekta::GetTextValue(suite_, kInstance, "NoSuchParameter"), u"");
    EXPECT_EQ(Vekta::GetArrayText(suite_, kInstance, "NoSuchParameter"), u"");
    EXPECT_EQ(Vekta::GetTextValue(suite_, kInstance + 1, kText), u"");
    EXPECT_EQ(Vekta::GetArrayText(suite_, kInstance, nullptr), u"");
    const Vekta::ParamDescriptor table[1] = {};
    Vekta::AddParameterFromDescriptor(nullptr, kInstance, 0, table);
    Vekta::ApplyParameterTexts(nullptr, kInstance, 0, table);
    Vekta::SetArrayText(u"x", nullptr, kInstance, kBytes);
    Vekta::ClearArrayValue(nullptr, kInstance, kBytes);
    EXPECT_EQ(Vekta::GetArrayText(nullptr, kInstance, kBytes), u"");
    EXPECT_EQ(Vekta::GetTextValue(nullptr, kInstance, kText), u"");
}

TEST_F(ParameterAccessTest, IsGroupEnabledOnlyForAReadableEnabledGroup) {
    EXPECT_TRUE(Vekta::IsGroupEnabled(&instance_.record, kGroup));
    ASSERT_EQ(ExportParamHost::Get().SetDisabled(kInstance, kGroup, true), 0);
    EXPECT_FALSE(Vekta::IsGroupEnabled(&instance_.record, kGroup));
    ASSERT_EQ(ExportParamHost::Get().SetDisabled(kInstance, kGroup, false), 0);
    EXPECT_FALSE(Vekta::IsGroupEnabled(&instance_.record, "NoSuchGroup"));
    {
        vekta::host::ScopedExportParamSuiteUnavailable unavailable;
        EXPECT_FALSE(Vekta::IsGroupEnabled(&instance_.record, kGroup));
    }
    EXPECT_FALSE(Vekta::IsGroupEnabled(nullptr, kGroup));
}

// A suite_ of another host may fill the whole inline field without a NUL, report odd sizes and fill
// every byte it is offered (AddressSanitizer then sees any buffer smaller than the offer).
struct ForeignSuite {
    static inline std::int32_t reportedArraySize = 0;
    static std::int32_t GetValue(std::uint32_t, std::int32_t, const char*, ParamValue* value) {
        std::fill(std::begin(value->textValue), std::end(value->textValue), u'z');
        value->disabled = 0x00410041;  // text-like bytes right after the field would show in the result
        value->hidden = 0x00410041;
        value->arraySize = reportedArraySize;
        return 0;
    }
    static std::int32_t GetArrayValue(std::uint32_t, std::int32_t, const char*, std::int32_t* size, void* buffer) {
        if (buffer == nullptr) {
            *size = reportedArraySize;
            return 0;
        }
        std::memset(buffer, 'q', static_cast<std::size_t>(*size));
        return 0;
    }
};

TEST(ParameterAccessForeignSuite, UnterminatedTextsOddSizesAndOverfullCopiesStayWithinTheBuffers) {
    LuSDKExportParamSuite suite_{};
    suite_.GetValue = &ForeignSuite::GetValue;
    ForeignSuite::reportedArraySize = 0;
    EXPECT_EQ(Vekta::GetTextValue(&suite_, 1, kText), std::u16string(kParamInlineTextUnits, u'z'));
    suite_.GetArrayValue = &ForeignSuite::GetArrayValue;
    for (const std::int32_t size : {1, 2, 3, 7, 513}) {
        SCOPED_TRACE(size);
        ForeignSuite::reportedArraySize = size;
        const std::u16string expected(static_cast<std::size_t>(size / 2), u'\x7171');
        EXPECT_EQ(Vekta::GetTextValue(&suite_, 1, kText), expected);
        EXPECT_EQ(Vekta::GetArrayText(&suite_, 1, kBytes), expected);
    }
}

bool grown = false;

// Grows the stored value right after the size query, as a sign-in completion on another thread might.
std::int32_t GrowAfterTheFirstSizeQuery(std::uint32_t instanceID, std::int32_t groupIndex, const char* parameterID,
                                        std::int32_t* size, void* buffer) {
    const auto* real = ExportParamHost::Suite();
    const std::int32_t result = real->GetArrayValue(instanceID, groupIndex, parameterID, size, buffer);
    if (buffer == nullptr && !std::exchange(grown, true))
        Vekta::SetArrayText(u"a much longer value than before", real, instanceID, parameterID);
    return result;
}

TEST_F(ParameterAccessTest, AValueThatGrowsBetweenSizeAndCopyIsReadWhole) {
    Vekta::SetArrayText(u"short", suite_, kInstance, kBytes);
    LuSDKExportParamSuite growing = *suite_;
    grown = false;
    growing.GetArrayValue = &GrowAfterTheFirstSizeQuery;
    EXPECT_EQ(Vekta::GetArrayText(&growing, kInstance, kBytes), u"a much longer value than before");
}

TEST_F(ParameterAccessTest, ParameterTextsAreLocalisedAndAMissingTooltipClearsTheOldOne) {
    Vekta::ParamDescriptor table[1] = {};
    ASSERT_TRUE(Vekta::CopyIdentifier(table[0].identifier, kText));
    table[0].label = "$$$/Test/Label=Caption";
    table[0].tooltip = "$$$/Test/Tip=Say something#{comment}";
    Vekta::ApplyParameterTexts(suite_, kInstance, 0, table);
    EXPECT_EQ(instance_.Entry(kText).name, u"Caption");
    EXPECT_EQ(instance_.Entry(kText).description, u"Say something");
    table[0].tooltip = nullptr;
    Vekta::ApplyParameterTexts(suite_, kInstance, 0, table);
    EXPECT_EQ(instance_.Entry(kText).description, u"");
}

}  // namespace
