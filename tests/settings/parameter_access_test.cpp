#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

// The real suite with GetArrayValue watched: how often it is asked to copy.
struct WatchedSuite {
    static inline int bufferedCalls = 0;
    static std::int32_t GetArrayValue(std::uint32_t instanceID, std::int32_t groupIndex, const char* parameterID,
                                      std::int32_t* size, void* buffer) {
        if (buffer != nullptr) ++bufferedCalls;
        return ExportParamHost::Suite()->GetArrayValue(instanceID, groupIndex, parameterID, size, buffer);
    }
    static LuSDKExportParamSuite Make() {
        bufferedCalls = 0;
        LuSDKExportParamSuite suite = *ExportParamHost::Suite();
        suite.GetArrayValue = &GetArrayValue;
        return suite;
    }
};

class ParameterAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(instance.AddParameter(kBytes, kParamTypeByteArray), 0);
        ASSERT_EQ(instance.AddParameter(kText, kParamTypeText), 0);
        ASSERT_EQ(instance.AddGroup(kGroup), 0);
    }
    SuiteInstance instance{kInstance};
    const LuSDKExportParamSuite* suite = instance.suite;
};

TEST_F(ParameterAccessTest, ByteArrayTextRoundTripsAsCharactersPlusOneNul) {
    struct Case {
        const char* name;
        std::u16string text;
        std::size_t storedBytes;
    };
    const Case cases[] = {
        {"empty", u"", 0},
        {"one character", u"a", 4},
        {"token", u"rft.0123456789abcdef", 42},
        {"non-BMP as a surrogate pair", u"\U0001F600", 6},
        {"mixed", u"caf\u00E9 \U0001F3AC!", 18},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Vekta::SetArrayText(c.text, suite, kInstance, kBytes);
        EXPECT_EQ(instance.Entry(kBytes).bytes.size(), c.storedBytes);
        EXPECT_EQ(Vekta::GetArrayText(suite, kInstance, kBytes), c.text);
    }
}

TEST_F(ParameterAccessTest, StoredBytesOfAnyShapeAreReadWithinTheBuffer) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> stored;
        std::u16string expected;
        int bufferedCalls;
    };
    const Case cases[] = {
        {"size 1", {0x41}, u"", 0},
        {"odd size with its NUL", {'a', 0, 0, 0, 0x7F}, u"a", 1},
        {"odd size without a NUL", {'a', 0, 'b'}, u"a", 1},
        {"no terminating NUL", BytesOf(u"ab", false), u"ab", 1},
        {"with its NUL", BytesOf(u"ab", true), u"ab", 1},
        {"embedded NUL kept", BytesOf(std::u16string_view(u"a\0b", 3), true), std::u16string(u"a\0b", 3), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, kBytes, c.stored), 0);
        const LuSDKExportParamSuite watched = WatchedSuite::Make();
        EXPECT_EQ(Vekta::GetArrayText(&watched, kInstance, kBytes), c.expected);
        EXPECT_EQ(WatchedSuite::bufferedCalls, c.bufferedCalls);
    }
}

TEST_F(ParameterAccessTest, ClearedByteArrayIsEmptyAndReadWithoutASecondCall) {
    Vekta::SetArrayText(u"refresh", suite, kInstance, kBytes);
    Vekta::ClearArrayValue(suite, kInstance, kBytes);
    EXPECT_TRUE(instance.Entry(kBytes).bytes.empty());
    const LuSDKExportParamSuite watched = WatchedSuite::Make();
    EXPECT_EQ(Vekta::GetArrayText(&watched, kInstance, kBytes), u"");
    EXPECT_EQ(WatchedSuite::bufferedCalls, 0);
}

TEST_F(ParameterAccessTest, TextParameterIsReadInlineOrThroughItsArrayForm) {
    for (const std::size_t length : {0u, 1u, 254u, 255u, 256u, 257u, 3000u}) {
        SCOPED_TRACE(length);
        std::u16string text;
        for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char16_t>(u'a' + i % 26));
        ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, kText, text), 0);
        EXPECT_EQ(Vekta::GetTextValue(suite, kInstance, kText), text);
    }
    const std::u16string longWithPairs = std::u16string(300, u'x') + u"\U0001F600\U0001F601";
    ASSERT_EQ(ExportParamHost::Get().SetValue(kInstance, kText, longWithPairs), 0);
    EXPECT_EQ(Vekta::GetTextValue(suite, kInstance, kText), longWithPairs);
}

TEST_F(ParameterAccessTest, UnreadableParametersGiveEmptyResults) {
    EXPECT_EQ(Vekta::GetTextValue(suite, kInstance, "NoSuchParameter"), u"");
    EXPECT_EQ(Vekta::GetArrayText(suite, kInstance, "NoSuchParameter"), u"");
    EXPECT_EQ(Vekta::GetTextValue(suite, kInstance + 1, kText), u"");
    EXPECT_EQ(Vekta::GetArrayText(suite, kInstance, nullptr), u"");
}

TEST_F(ParameterAccessTest, IsGroupEnabledOnlyForAReadableEnabledGroup) {
    EXPECT_TRUE(Vekta::IsGroupEnabled(&instance.record, kGroup));
    ASSERT_EQ(ExportParamHost::Get().SetDisabled(kInstance, kGroup, true), 0);
    EXPECT_FALSE(Vekta::IsGroupEnabled(&instance.record, kGroup));
    ASSERT_EQ(ExportParamHost::Get().SetDisabled(kInstance, kGroup, false), 0);
    EXPECT_FALSE(Vekta::IsGroupEnabled(&instance.record, "NoSuchGroup"));
    {
        vekta::host::ScopedExportParamSuiteUnavailable unavailable;
        EXPECT_FALSE(Vekta::IsGroupEnabled(&instance.record, kGroup));
    }
    EXPECT_FALSE(Vekta::IsGroupEnabled(nullptr, kGroup));
}

TEST_F(ParameterAccessTest, AcquiresTheSuiteOnlyThroughAWorkingAccessor) {
    EXPECT_EQ(Vekta::AcquireExportParamSuite(&instance.record), ExportParamHost::Suite());
    EXPECT_EQ(Vekta::AcquireExportParamSuite(nullptr), nullptr);
    HostInstanceRecord noAccessor = vekta::host::MakeHostInstanceRecord(kInstance, "G", nullptr);
    EXPECT_EQ(Vekta::AcquireExportParamSuite(&noAccessor), nullptr);
    vekta::host::ScopedExportParamSuiteUnavailable unavailable;
    EXPECT_EQ(Vekta::AcquireExportParamSuite(&instance.record), nullptr);
}

TEST(ParameterAccessNullSuite, EveryFunctionDoesNothing) {
    const Vekta::ParamDescriptor table[1] = {};
    Vekta::AddParameterFromDescriptor(nullptr, 1, 0, table);
    Vekta::ApplyParameterTexts(nullptr, 1, 0, table);
    Vekta::SetArrayText(u"x", nullptr, 1, kBytes);
    Vekta::ClearArrayValue(nullptr, 1, kBytes);
    EXPECT_EQ(Vekta::GetArrayText(nullptr, 1, kBytes), u"");
    EXPECT_EQ(Vekta::GetTextValue(nullptr, 1, kText), u"");
}

// A suite of another host may fill the whole inline field without a NUL, report odd sizes and fill
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
    static LuSDKExportParamSuite Make(std::int32_t arraySize) {
        reportedArraySize = arraySize;
        LuSDKExportParamSuite suite{};
        suite.GetValue = &GetValue;
        suite.GetArrayValue = &GetArrayValue;
        return suite;
    }
};

TEST(ParameterAccessForeignSuite, UnterminatedInlineTextIsReadToTheEndOfItsFieldOnly) {
    const LuSDKExportParamSuite suite = ForeignSuite::Make(0);
    EXPECT_EQ(Vekta::GetTextValue(&suite, 1, kText), std::u16string(kParamInlineTextUnits, u'z'));
}

TEST(ParameterAccessForeignSuite, OddSizesAndOverfullCopiesStayWithinTheBuffer) {
    for (const std::int32_t size : {1, 2, 3, 7, 513}) {
        SCOPED_TRACE(size);
        const LuSDKExportParamSuite suite = ForeignSuite::Make(size);
        EXPECT_EQ(Vekta::GetTextValue(&suite, 1, kText), std::u16string(static_cast<std::size_t>(size / 2), u'\x7171'));
        EXPECT_EQ(Vekta::GetArrayText(&suite, 1, kBytes), std::u16string(static_cast<std::size_t>(size / 2), u'\x7171'));
    }
}

TEST_F(ParameterAccessTest, DescriptorsBecomeParametersWithTheirTypesValues) {
    auto make = [](const char* id, std::int32_t type) {
        Vekta::ParamDescriptor descriptor{};
        EXPECT_TRUE(Vekta::CopyIdentifier(descriptor.identifier, id));
        EXPECT_TRUE(Vekta::CopyIdentifier(descriptor.parentGroupID, kGroup));
        descriptor.type = type;
        descriptor.flags = 77;
        descriptor.minimum = {-5, -2.5, -50};
        descriptor.maximum = {5, 2.5, 50};
        descriptor.defaultValue = {3, 1.5, 30};
        descriptor.label = "label";
        return descriptor;
    };
    const Vekta::ParamDescriptor table[] = {
        make("Check", kParamTypeCheckbox), make("Int", kParamTypeInteger), make("Float", kParamTypeFloat),
        make("Time", kParamTypeTime),      make("Hidden64", kParamTypeHiddenInt64), make("Bytes", kParamTypeByteArray),
    };
    for (std::size_t i = 0; i < std::size(table); ++i) Vekta::AddParameterFromDescriptor(suite, kInstance, i, table);

    const auto check = instance.Entry("Check");
    EXPECT_EQ(check.value.intValue, 3);
    EXPECT_EQ(check.minimum.intValue, 0) << "a checkbox takes only its default";
    EXPECT_EQ(check.maximum.intValue, 0);
    const auto integer = instance.Entry("Int");
    EXPECT_EQ(std::make_tuple(integer.minimum.intValue, integer.maximum.intValue, integer.value.intValue),
              std::make_tuple(-5, 5, 3));
    const auto real = instance.Entry("Float");
    EXPECT_EQ(std::make_tuple(real.minimum.floatValue, real.maximum.floatValue, real.value.floatValue),
              std::make_tuple(-2.5, 2.5, 1.5));
    for (const char* id : {"Time", "Hidden64"}) {
        const auto wide = instance.Entry(id);
        EXPECT_EQ(std::make_tuple(wide.minimum.timeValue, wide.maximum.timeValue, wide.value.timeValue),
                  std::make_tuple(-50, 50, 30))
            << id;
    }
    const auto bytes = instance.Entry("Bytes");
    EXPECT_EQ(bytes.value.timeValue, 0);
    EXPECT_EQ(bytes.flags, 77);
    EXPECT_EQ(bytes.parentID, kGroup);
}

TEST_F(ParameterAccessTest, IdentifiersFillingTheirFieldAreAddedAndUnterminatedOnesRefused) {
    Vekta::ParamDescriptor table[3] = {};
    const std::string longest(255, 'L');
    ASSERT_TRUE(Vekta::CopyIdentifier(table[0].identifier, longest));
    EXPECT_FALSE(Vekta::CopyIdentifier(table[1].identifier, std::string(256, 'M'))) << "refused, not cut";
    std::memset(table[1].identifier, 'M', sizeof table[1].identifier);
    ASSERT_TRUE(Vekta::CopyIdentifier(table[2].identifier, "Fine"));
    std::memset(table[2].parentGroupID, 'P', sizeof table[2].parentGroupID);
    for (auto& descriptor : table) descriptor.type = kParamTypeCheckbox;
    ASSERT_TRUE(Vekta::CopyIdentifier(table[0].parentGroupID, kGroup));
    ASSERT_TRUE(Vekta::CopyIdentifier(table[1].parentGroupID, kGroup));

    const std::size_t before = ExportParamHost::Get().Snapshot(kInstance)->size();
    for (std::size_t i = 0; i < 4; ++i) Vekta::AddParameterFromDescriptor(suite, kInstance, i, table);
    EXPECT_EQ(ExportParamHost::Get().Snapshot(kInstance)->size(), before + 1);
    EXPECT_EQ(instance.Entry(longest).parentID, kGroup);
}

TEST_F(ParameterAccessTest, ParameterTextsAreLocalisedAndAMissingTooltipClearsTheOldOne) {
    Vekta::ParamDescriptor table[1] = {};
    ASSERT_TRUE(Vekta::CopyIdentifier(table[0].identifier, kText));
    table[0].label = "$$$/Test/Label=Caption";
    table[0].tooltip = "$$$/Test/Tip=Say something#{comment}";
    Vekta::ApplyParameterTexts(suite, kInstance, 0, table);
    EXPECT_EQ(instance.Entry(kText).name, u"Caption");
    EXPECT_EQ(instance.Entry(kText).description, u"Say something");
    table[0].tooltip = nullptr;
    table[0].label = "plain";
    Vekta::ApplyParameterTexts(suite, kInstance, 0, table);
    EXPECT_EQ(instance.Entry(kText).name, u"plain");
    EXPECT_EQ(instance.Entry(kText).description, u"");
}

}  // namespace

namespace {

// Grows the stored value right after the suite has answered the size query, as a writer on another
// thread might.
struct GrowingSuite {
    static inline std::uint32_t instanceID = 0;
    static inline int sizeQueries = 0;
    static std::int32_t GetArrayValue(std::uint32_t instance, std::int32_t groupIndex, const char* parameterID,
                                      std::int32_t* size, void* buffer) {
        const std::int32_t result = ExportParamHost::Suite()->GetArrayValue(instance, groupIndex, parameterID, size, buffer);
        if (buffer == nullptr && ++sizeQueries == 1) {
            const std::u16string longer = u"a much longer value than before";
            Vekta::SetArrayText(longer, ExportParamHost::Suite(), instanceID, parameterID);
        }
        return result;
    }
};

TEST_F(ParameterAccessTest, AValueThatGrowsBetweenSizeAndCopyIsReadWhole) {
    Vekta::SetArrayText(u"short", suite, kInstance, kBytes);
    LuSDKExportParamSuite growing = *suite;
    growing.GetArrayValue = &GrowingSuite::GetArrayValue;
    GrowingSuite::instanceID = kInstance;
    GrowingSuite::sizeQueries = 0;
    EXPECT_EQ(Vekta::GetArrayText(&growing, kInstance, kBytes), u"a much longer value than before");
}

}  // namespace
