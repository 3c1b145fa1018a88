#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "refhost/ExportParamHost.h"
#include "refhost/SettingsTable.h"
#include "settings/ParameterAccess.h"
#include "settings/TikTokParameterTables.h"
#include "settings/TikTokParameters.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

using vekta::host::EntryKind;
using vekta::host::EntrySnapshot;
using vekta::host::ExportParamHost;

EntrySnapshot Group(std::string id, std::string parent, std::u16string title) {
    EntrySnapshot entry;
    entry.kind = EntryKind::Group;
    entry.id = std::move(id);
    entry.parentID = std::move(parent);
    entry.name = std::move(title);
    return entry;
}

EntrySnapshot Parameter(std::string id, std::string parent, std::int32_t type, std::u16string label) {
    EntrySnapshot entry;
    entry.id = std::move(id);
    entry.parentID = std::move(parent);
    entry.type = type;
    entry.name = std::move(label);
    return entry;
}

TEST(SettingsTable, ShowsNestingLabelsTypesValuesAndState) {
    std::vector<EntrySnapshot> entries;
    entries.push_back(Group("Host", "", u"Export"));
    entries.push_back(Group("Top", "Host", u"TikTok"));
    auto popup = Parameter("Type", "Top", kParamTypeInteger, u"Type");
    popup.choices = {{{.intValue = 0}, u"Post"}, {{.intValue = 1}, u"Draft"}};
    popup.value.intValue = 1;
    entries.push_back(popup);
    auto caption = Parameter("Caption", "Top", kParamTypeText, u"Caption");
    caption.text = u"two\nlines";
    caption.disabled = true;
    entries.push_back(caption);
    entries.push_back(Group("Sub", "Top", u""));
    auto check = Parameter("Comment", "Sub", kParamTypeCheckbox, u"Comment");
    check.value.intValue = 1;
    entries.push_back(check);
    entries.push_back(Parameter("Stitch", "Sub", kParamTypeCheckbox, u""));
    auto token = Parameter("Token", "Top", kParamTypeByteArray, u"temp1");
    token.bytes = {'s', 0, 'e', 0, 'c', 0, 0, 0};
    token.hidden = token.disabled = true;
    entries.push_back(token);
    entries.push_back(Parameter("Orphan", "Elsewhere", kParamTypeCheckbox, u"Orphan"));

    EXPECT_EQ(vekta::host::FormatSettingsTable(entries, "Top"),
              "TikTok\n"
              "  Type       popup     Draft\n"
              "                       choices: 0 Post | 1 Draft\n"
              "  Caption    text      \"two\\nlines\"  (disabled)\n"
              "  (Sub)\n"
              "    Comment  checkbox  [x]\n"
              "    Stitch   checkbox  [ ]\n");
    const std::string all = vekta::host::FormatSettingsTable(entries, "", {.showHidden = true, .showIDs = true});
    EXPECT_NE(all.find("Export  [Host]\n  TikTok  [Top]\n"), std::string::npos) << all;
    EXPECT_NE(all.find("    temp1      bytes     3 characters  (disabled) (hidden) [Token]\n"), std::string::npos) << all;
    EXPECT_EQ(all.find("sec"), std::string::npos) << "a hidden value's content never shows";
    EXPECT_EQ(vekta::host::FormatSettingsTable(entries, "NoSuchGroup"), "");
}

TEST(SettingsTable, TheTikTokGroupAfterAddParametersHidesItsTokens) {
    vekta::test::SuiteInstance instance(3301);
    ASSERT_EQ(Vekta::AddTikTokParameters(&instance.record), 0);
    for (std::size_t i = 0; i < Vekta::kTikTokParamDescriptors.size(); ++i)
        Vekta::ApplyParameterTexts(instance.suite, instance.id, i, Vekta::kTikTokParamDescriptors);
    Vekta::SetArrayText(u"rft.secret", instance.suite, instance.id, Vekta::kTikTokRefreshTokenID);

    const std::string visible = vekta::host::FormatSettingsTable(instance.id, Vekta::kTikTokGroupID);
    EXPECT_EQ(visible.rfind("TikTok\n", 0), 0u) << visible;
    EXPECT_NE(visible.find("Delete local file after upload"), std::string::npos);
    EXPECT_NE(visible.find("Privacy (required)"), std::string::npos);
    EXPECT_EQ(visible.find("temp1"), std::string::npos);
    EXPECT_EQ(visible.find("tempAccountPrivacy"), std::string::npos);

    const std::string everything =
        vekta::host::FormatSettingsTable(instance.id, Vekta::kTikTokGroupID, {.showHidden = true});
    EXPECT_NE(everything.find("temp1"), std::string::npos);
    EXPECT_NE(everything.find("10 characters"), std::string::npos);
    EXPECT_EQ(everything.find("secret"), std::string::npos);
}

}  // namespace
