#include <gtest/gtest.h>

#include <string>

#include "refhost/ExportParamHost.h"
#include "refhost/SettingsTable.h"
#include "settings/ParameterAccess.h"
#include "settings/TikTokParameterTables.h"
#include "settings/TikTokParameters.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

// The table is what a person sees of the settings: hidden entries only on request, their content never.
TEST(SettingsTable, TheTikTokGroupShowsItsLabelsAndNeverTheTokens) {
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
