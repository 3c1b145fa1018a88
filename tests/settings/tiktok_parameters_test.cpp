#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "refhost/BasicSuiteHost.h"
#include "refhost/ExportParamHost.h"
#include "settings/TikTokParameterTables.h"
#include "settings/TikTokParameters.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

using vekta::host::EntryKind;
using vekta::host::EntrySnapshot;
using vekta::host::ExportParamHost;
using vekta::test::SuiteInstance;

constexpr std::uint32_t kInstance = 2101;
constexpr char kHostGroup[] = "HostExportGroup";

// One line per entry, the common id prefix left out, so that a wrong tree shows as a readable diff.
std::string Describe(const EntrySnapshot& entry) {
    auto shortID = [](const std::string& id) { return id.rfind("VOXATikTok", 0) == 0 ? id.substr(10) : id; };
    std::string line = shortID(entry.id) + " < " + shortID(entry.parentID);
    if (entry.kind == EntryKind::Group) {
        line += " group \"" + std::string(entry.name.begin(), entry.name.end()) + "\" flags";
        for (const auto flag : entry.groupFlags) line += " " + std::to_string(flag);
    } else {
        const bool wide = entry.type == kParamTypeTime || entry.type == kParamTypeHiddenInt64;
        auto number = [wide](const ParamValueUnion& v) { return std::to_string(wide ? v.timeValue : v.intValue); };
        line += " type " + std::to_string(entry.type) + " flags " + std::to_string(entry.flags) + " range " +
                number(entry.minimum) + ".." + number(entry.maximum) + " default " + number(entry.value);
        if (!entry.text.empty() || !entry.bytes.empty() || !entry.choices.empty()) line += " has a value";
    }
    return line + (entry.hidden ? " hidden" : "") + (entry.disabled ? " disabled" : "");
}

TEST(TikTokParameters, TheRealSuiteHoldsTheTreeInOrderWithSubGroupsRightBeforeTheirFirstMember) {
    SuiteInstance instance{kInstance, kHostGroup};
    ASSERT_EQ(Vekta::AddTikTokParameters(&instance.record), 0);
    const auto entries = ExportParamHost::Get().Snapshot(kInstance);
    ASSERT_TRUE(entries);
    std::vector<std::string> actual;
    for (const auto& entry : *entries) actual.push_back(Describe(entry));
    const std::vector<std::string> expected = {
        "HostExportGroup <  group \"\" flags 0 0 0",
        "Group < HostExportGroup group \"TikTok\" flags 0 1 0",
        "LoginSubGroup < Group group \"\" flags 0 0 0",
        "StatusText < LoginSubGroup type 2 flags 0 range 0..0 default 0",
        "Login < LoginSubGroup type 7 flags 0 range 0..0 default 0",
        "PublishType < Group type 2 flags 0 range 0..1 default 0",
        "FormatRequirements < Group type 7 flags 520 range 0..0 default 0",
        "Caption < Group type 6 flags 8 range 0..0 default 0",
        "CaptionChanged < Group type 1 flags 0 range 0..0 default 0 hidden disabled",
        "CoverImageSubGroup < Group group \"\" flags 0 0 1",
        "CoverImageThumbnailTime < CoverImageSubGroup type 4 flags 0 range 0..0 default 0",
        "CoverImageThumbnailTimeBtn < CoverImageSubGroup type 7 flags 0 range 0..0 default 0",
        "CoverImageThumbnailTimeToken < Group type 5 flags 0 range 0..0 default 0 hidden disabled",
        "CoverImageFileToken < Group type 8 flags 0 range 0..0 default 0 hidden disabled",
        "PrivateAccount < Group type 1 flags 0 range 0..0 default 0 hidden disabled",
        "AccountCommentDisabled < Group type 1 flags 0 range 0..0 default 0 hidden disabled",
        "AccountDuetDisabled < Group type 1 flags 0 range 0..0 default 0 hidden disabled",
        "AccountStitchDisabled < Group type 1 flags 0 range 0..0 default 0 hidden disabled",
        "AccountMaxDuration < Group type 2 flags 0 range 0..0 default 0 hidden disabled",
        "Privacy < Group type 2 flags 0 range 0..0 default 4",
        "PrivacyToken < Group type 8 flags 0 range 0..0 default 0 hidden disabled",
        "PermissionsSubGroup < Group group \"Allow users to\" flags 0 0 1",
        "CommentPermission < PermissionsSubGroup type 1 flags 0 range 0..0 default 0",
        "DuetPermission < PermissionsSubGroup type 1 flags 0 range 0..0 default 0",
        "StitchPermission < PermissionsSubGroup type 1 flags 0 range 0..0 default 0",
        "DeleteLocalFile < Group type 1 flags 0 range 0..0 default 0",
        "RefreshToken < Group type 8 flags 0 range 0..0 default 0 hidden disabled",
    };
    EXPECT_EQ(actual, expected);
}

TEST(TikTokParameters, WithoutTheSuiteNothingIsAddedAndTheCallFails) {
    SuiteInstance instance{kInstance, kHostGroup};
    {
        vekta::host::ScopedExportParamSuiteUnavailable unavailable;
        EXPECT_EQ(Vekta::AddTikTokParameters(&instance.record), 1);
    }
    HostInstanceRecord noAccessor = vekta::host::MakeHostInstanceRecord(kInstance, kHostGroup, nullptr);
    EXPECT_EQ(Vekta::AddTikTokParameters(&noAccessor), 1);
    EXPECT_EQ(Vekta::AddTikTokParameters(nullptr), 1);
    EXPECT_EQ(ExportParamHost::Get().Snapshot(kInstance)->size(), 1u) << "only the host's own group";
}

TEST(TikTokParameters, TheHostGroupIDIsReadWholeButNeverBeyondItsField) {
    const std::string longest(255, 'g');
    SuiteInstance instance(2102, longest);
    ASSERT_EQ(Vekta::AddTikTokParameters(&instance.record), 0);
    EXPECT_EQ(instance.Entry(Vekta::kTikTokGroupID).parentID, longest);

    SuiteInstance unterminated(2103);
    std::memset(unterminated.record.parentGroupID, 'g', sizeof unterminated.record.parentGroupID);
    EXPECT_EQ(Vekta::AddTikTokParameters(&unterminated.record), 0);
    // 260 characters name no group the host can have, so nothing lands anywhere.
    EXPECT_EQ(ExportParamHost::Get().Snapshot(2103)->size(), 1u);
}

// Popup values are stored as positions in their option tables and mapped back the same way.
TEST(TikTokOptionTables, PopupValuesArePositionsAndAffectedParametersExist) {
    for (std::size_t position = 0; position < Vekta::kPrivacyOptions.size(); ++position)
        EXPECT_EQ(Vekta::kPrivacyOptions[position].code, position);
    for (std::size_t position = 0; position < Vekta::kPublishTypeOptions.size(); ++position)
        EXPECT_EQ(Vekta::kPublishTypeOptions[position].value, static_cast<std::int32_t>(position));
    for (const std::string id : Vekta::kPublishTypeAffectedParameters) {
        bool found = false;
        for (const auto& descriptor : Vekta::kTikTokParamDescriptors) found |= id == descriptor.identifier;
        EXPECT_TRUE(found) << id;
    }
}

}  // namespace
