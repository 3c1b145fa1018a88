#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "refhost/BasicSuiteHost.h"
#include "refhost/ExportParamHost.h"
#include "settings/TikTokParameterTables.h"
#include "settings/TikTokParameters.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

using vekta::host::EntryKind;
using vekta::host::EntrySnapshot;
using vekta::test::SuiteInstance;

constexpr std::uint32_t kInstance = 2101;
constexpr char kHostGroup[] = "HostExportGroup";

std::vector<std::string> IDsOf(const std::vector<EntrySnapshot>& entries) {
    std::vector<std::string> ids;
    for (const auto& entry : entries) ids.push_back(entry.id);
    return ids;
}

class TikTokParametersTest : public ::testing::Test {
protected:
    SuiteInstance instance{kInstance, kHostGroup};
};

TEST_F(TikTokParametersTest, AddsGroupsAndParametersInTableOrderWithSubGroupsBeforeTheirFirstMember) {
    ASSERT_EQ(Vekta::AddTikTokParameters(&instance.record), 0);
    const auto entries = vekta::host::ExportParamHost::Get().Snapshot(kInstance);
    ASSERT_TRUE(entries);
    const std::vector<std::string> expected = {
        kHostGroup,
        "VOXATikTokGroup",
        "VOXATikTokLoginSubGroup",
        "VOXATikTokStatusText",
        "VOXATikTokLogin",
        "VOXATikTokPublishType",
        "VOXATikTokFormatRequirements",
        "VOXATikTokCaption",
        "VOXATikTokCaptionChanged",
        "VOXATikTokCoverImageSubGroup",
        "VOXATikTokCoverImageThumbnailTime",
        "VOXATikTokCoverImageThumbnailTimeBtn",
        "VOXATikTokCoverImageThumbnailTimeToken",
        "VOXATikTokCoverImageFileToken",
        "VOXATikTokPrivateAccount",
        "VOXATikTokAccountCommentDisabled",
        "VOXATikTokAccountDuetDisabled",
        "VOXATikTokAccountStitchDisabled",
        "VOXATikTokAccountMaxDuration",
        "VOXATikTokPrivacy",
        "VOXATikTokPrivacyToken",
        "VOXATikTokPermissionsSubGroup",
        "VOXATikTokCommentPermission",
        "VOXATikTokDuetPermission",
        "VOXATikTokStitchPermission",
        "VOXATikTokDeleteLocalFile",
        "VOXATikTokRefreshToken",
    };
    EXPECT_EQ(IDsOf(*entries), expected);
}

TEST_F(TikTokParametersTest, GroupsHaveTheirParentsTitlesAndFlags) {
    ASSERT_EQ(Vekta::AddTikTokParameters(&instance.record), 0);
    struct ExpectedGroup {
        const char* id;
        const char* parent;
        std::u16string title;
        std::array<std::int32_t, 3> flags;
    };
    const ExpectedGroup groups[] = {
        {"VOXATikTokGroup", kHostGroup, u"TikTok", {0, 1, 0}},
        {"VOXATikTokLoginSubGroup", "VOXATikTokGroup", u"", {0, 0, 0}},
        {"VOXATikTokCoverImageSubGroup", "VOXATikTokGroup", u"", {0, 0, 1}},
        {"VOXATikTokPermissionsSubGroup", "VOXATikTokGroup", u"Allow users to", {0, 0, 1}},
    };
    for (const auto& expected : groups) {
        SCOPED_TRACE(expected.id);
        const EntrySnapshot group = instance.Entry(expected.id);
        EXPECT_EQ(group.kind, EntryKind::Group);
        EXPECT_EQ(group.parentID, expected.parent);
        EXPECT_EQ(group.name, expected.title);
        EXPECT_EQ(group.groupFlags, expected.flags);
        EXPECT_FALSE(group.disabled);
        EXPECT_FALSE(group.hidden);
    }
}

TEST_F(TikTokParametersTest, ParametersHaveTheirTypesPlacesRangesDefaultsAndFlags) {
    ASSERT_EQ(Vekta::AddTikTokParameters(&instance.record), 0);
    constexpr const char* kMain = "VOXATikTokGroup";
    constexpr const char* kLogin = "VOXATikTokLoginSubGroup";
    constexpr const char* kCover = "VOXATikTokCoverImageSubGroup";
    constexpr const char* kPermissions = "VOXATikTokPermissionsSubGroup";
    struct ExpectedParameter {
        const char* id;
        std::int32_t type;
        const char* parent;
        std::int32_t flags;
        std::int64_t minimum, maximum, defaultValue;
        bool hidden;
    };
    const ExpectedParameter parameters[] = {
        {"VOXATikTokStatusText", 2, kLogin, 0, 0, 0, 0, false},
        {"VOXATikTokLogin", 7, kLogin, 0, 0, 0, 0, false},
        {"VOXATikTokPublishType", 2, kMain, 0, 0, 1, 0, false},
        {"VOXATikTokFormatRequirements", 7, kMain, 520, 0, 0, 0, false},
        {"VOXATikTokCaption", 6, kMain, 8, 0, 0, 0, false},
        {"VOXATikTokCaptionChanged", 1, kMain, 0, 0, 0, 0, true},
        {"VOXATikTokCoverImageThumbnailTime", 4, kCover, 0, 0, 0, 0, false},
        {"VOXATikTokCoverImageThumbnailTimeBtn", 7, kCover, 0, 0, 0, 0, false},
        {"VOXATikTokCoverImageThumbnailTimeToken", 5, kMain, 0, 0, 0, 0, true},
        {"VOXATikTokCoverImageFileToken", 8, kMain, 0, 0, 0, 0, true},
        {"VOXATikTokPrivateAccount", 1, kMain, 0, 0, 0, 0, true},
        {"VOXATikTokAccountCommentDisabled", 1, kMain, 0, 0, 0, 0, true},
        {"VOXATikTokAccountDuetDisabled", 1, kMain, 0, 0, 0, 0, true},
        {"VOXATikTokAccountStitchDisabled", 1, kMain, 0, 0, 0, 0, true},
        {"VOXATikTokAccountMaxDuration", 2, kMain, 0, 0, 0, 0, true},
        {"VOXATikTokPrivacy", 2, kMain, 0, 0, 0, 4, false},
        {"VOXATikTokPrivacyToken", 8, kMain, 0, 0, 0, 0, true},
        {"VOXATikTokCommentPermission", 1, kPermissions, 0, 0, 0, 0, false},
        {"VOXATikTokDuetPermission", 1, kPermissions, 0, 0, 0, 0, false},
        {"VOXATikTokStitchPermission", 1, kPermissions, 0, 0, 0, 0, false},
        {"VOXATikTokDeleteLocalFile", 1, kMain, 0, 0, 0, 0, false},
        {"VOXATikTokRefreshToken", 8, kMain, 0, 0, 0, 0, true},
    };
    for (const auto& expected : parameters) {
        SCOPED_TRACE(expected.id);
        const EntrySnapshot parameter = instance.Entry(expected.id);
        EXPECT_EQ(parameter.kind, EntryKind::Parameter);
        EXPECT_EQ(parameter.type, expected.type);
        EXPECT_EQ(parameter.parentID, expected.parent);
        EXPECT_EQ(parameter.flags, expected.flags);
        EXPECT_EQ(parameter.hidden, expected.hidden);
        EXPECT_EQ(parameter.disabled, expected.hidden);  // hidden ones are disabled too, no others
        const bool wide = expected.type == kParamTypeTime || expected.type == kParamTypeHiddenInt64;
        EXPECT_EQ(wide ? parameter.minimum.timeValue : parameter.minimum.intValue, expected.minimum);
        EXPECT_EQ(wide ? parameter.maximum.timeValue : parameter.maximum.intValue, expected.maximum);
        EXPECT_EQ(wide ? parameter.value.timeValue : parameter.value.intValue, expected.defaultValue);
        EXPECT_TRUE(parameter.text.empty());
        EXPECT_TRUE(parameter.bytes.empty());
        EXPECT_TRUE(parameter.choices.empty());
        EXPECT_TRUE(parameter.name.empty()) << "labels come with the first refresh, not at creation";
    }
}

TEST_F(TikTokParametersTest, WithoutTheSuiteAddsNothingAndFails) {
    {
        vekta::host::ScopedExportParamSuiteUnavailable unavailable;
        EXPECT_EQ(Vekta::AddTikTokParameters(&instance.record), 1);
    }
    EXPECT_EQ(IDsOf(*vekta::host::ExportParamHost::Get().Snapshot(kInstance)), std::vector<std::string>{kHostGroup});

    HostInstanceRecord noAccessor = vekta::host::MakeHostInstanceRecord(kInstance, kHostGroup, nullptr);
    EXPECT_EQ(Vekta::AddTikTokParameters(&noAccessor), 1);
    EXPECT_EQ(Vekta::AddTikTokParameters(nullptr), 1);
    EXPECT_EQ(vekta::host::ExportParamHost::Get().Snapshot(kInstance)->size(), 1u);
}

TEST(TikTokParametersHostGroup, AParentGroupIDOfTheLongestAllowedLengthIsReadWhole) {
    const std::string longest(255, 'g');
    SuiteInstance instance(2102, longest);
    ASSERT_EQ(Vekta::AddTikTokParameters(&instance.record), 0);
    EXPECT_EQ(instance.Entry("VOXATikTokGroup").parentID, longest);
}

TEST(TikTokParametersHostGroup, AnUnterminatedParentGroupIDIsNotReadBeyondItsField) {
    SuiteInstance instance(2103);
    std::memset(instance.record.parentGroupID, 'g', sizeof instance.record.parentGroupID);
    EXPECT_EQ(Vekta::AddTikTokParameters(&instance.record), 0);
    // 260 characters name no group the host can have, so nothing lands anywhere.
    EXPECT_EQ(vekta::host::ExportParamHost::Get().Snapshot(2103)->size(), 1u);
}

// The option tables are what later behaviour relies on; these are the rules between them.
TEST(TikTokOptionTables, DefaultsArePositionsFoundInTheOptionTables) {
    EXPECT_EQ(Vekta::kPublishTypeOptions[Vekta::kPublishTypeDefaultIndex].value, Vekta::kPublishTypePost);
    EXPECT_EQ(Vekta::kPrivacyOptions[Vekta::kPrivacyDefaultIndex].code, 4u);
    EXPECT_TRUE(Vekta::kPrivacyOptions[Vekta::kPrivacyDefaultIndex].apiString.empty());
    for (std::size_t position = 0; position < Vekta::kPrivacyOptions.size(); ++position)
        EXPECT_EQ(Vekta::kPrivacyOptions[position].code, position) << "the popup value is both";
    for (std::size_t position = 0; position < Vekta::kPublishTypeOptions.size(); ++position)
        EXPECT_EQ(Vekta::kPublishTypeOptions[position].value, static_cast<std::int32_t>(position));
}

TEST(TikTokOptionTables, PublishTypeAffectsSevenExistingParametersInOrder) {
    const std::vector<std::string> expected = {
        "VOXATikTokCaption",          "VOXATikTokPrivacy",        "VOXATikTokCoverImageThumbnailTime",
        "VOXATikTokCoverImageThumbnailTimeBtn", "VOXATikTokCommentPermission", "VOXATikTokDuetPermission",
        "VOXATikTokStitchPermission"};
    std::vector<std::string> actual(Vekta::kPublishTypeAffectedParameters.begin(),
                                    Vekta::kPublishTypeAffectedParameters.end());
    EXPECT_EQ(actual, expected);
    std::set<std::string> descriptors;
    for (const auto& descriptor : Vekta::kTikTokParamDescriptors) descriptors.insert(descriptor.identifier);
    for (const auto& id : actual) EXPECT_TRUE(descriptors.count(id)) << id;
}

TEST(TikTokLazyTexts, FirstUseFromManyThreadsBuildsEachTextOnce) {
    std::vector<const std::u16string*> seen(8 * 3);
    {
        std::vector<std::jthread> threads;
        for (std::size_t t = 0; t < 8; ++t)
            threads.emplace_back([&seen, t] {
                seen[t * 3] = &Vekta::TikTokGroupTitle();
                seen[t * 3 + 1] = &Vekta::TikTokPermissionsTitle();
                seen[t * 3 + 2] = &Vekta::TikTokDefaultCaption();
            });
    }
    for (std::size_t t = 1; t < 8; ++t)
        for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(seen[t * 3 + k], seen[k]);
    EXPECT_EQ(*seen[0], u"TikTok");
    EXPECT_EQ(*seen[1], u"Allow users to");
    EXPECT_EQ(*seen[2], u"#CorvaneSolvane");
}

}  // namespace
