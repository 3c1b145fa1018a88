// A sign-in completion writes parameters from a worker thread while the main thread reads them;
// every read must see one whole value, never a mixture. Meant to run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "refhost/ExportParamHost.h"
#include "settings/ParameterAccess.h"
#include "settings/TikTokParameterTables.h"
#include "settings/TikTokParameters.h"
#include "tests/refhost/SuiteTestSupport.h"

namespace {

using vekta::host::ExportParamHost;

constexpr int kRounds = 2000;

TEST(SuiteConcurrency, ReadersSeeWholeValuesWhileWorkersWrite) {
    vekta::test::SuiteInstance instance(2401);
    ASSERT_EQ(Vekta::AddTikTokParameters(&instance.record), 0);
    const LuSDKExportParamSuite* suite = instance.suite;
    const std::uint32_t id = instance.id;
    const std::u16string tokens[2] = {u"short-token", std::u16string(600, u'T') + u"\U0001F600"};
    const std::u16string captions[2] = {u"#short", std::u16string(700, u'c')};

    std::atomic<int> running{3};
    {
        std::jthread tokenWriter([&] {
            for (int i = 0; i < kRounds; ++i)
                Vekta::SetArrayText(tokens[i % 2], suite, id, Vekta::kTikTokRefreshTokenID);
            --running;
        });
        std::jthread captionWriter([&] {
            for (int i = 0; i < kRounds; ++i)
                ExportParamHost::Get().SetValue(id, Vekta::kTikTokCaptionID, captions[i % 2]);
            --running;
        });
        std::jthread groupSwitcher([&] {
            for (int i = 0; i < kRounds; ++i) {
                ParamValue value;
                std::memset(&value, 0, sizeof value);
                if (suite->GetValue(id, 0, Vekta::kTikTokGroupID, &value) != 0) continue;
                value.disabled = i % 2;
                suite->ChangeValue(id, 0, Vekta::kTikTokGroupID, &value);
            }
            --running;
        });

        int reads = 0;
        while (running.load() > 0 || reads < 100) {
            ++reads;
            const std::u16string token = Vekta::GetArrayText(suite, id, Vekta::kTikTokRefreshTokenID);
            EXPECT_TRUE(token.empty() || token == tokens[0] || token == tokens[1]) << "torn token, " << token.size();
            const std::u16string caption = Vekta::GetTextValue(suite, id, Vekta::kTikTokCaptionID);
            EXPECT_TRUE(caption.empty() || caption == captions[0] || caption == captions[1])
                << "torn caption, " << caption.size();
            Vekta::IsGroupEnabled(&instance.record, Vekta::kTikTokGroupID);
            EXPECT_EQ(ExportParamHost::Get().Snapshot(id)->size(), 27u);
            if (HasFailure()) break;
        }
    }
    EXPECT_EQ(Vekta::GetArrayText(suite, id, Vekta::kTikTokRefreshTokenID), tokens[(kRounds - 1) % 2]);
    EXPECT_EQ(Vekta::GetTextValue(suite, id, Vekta::kTikTokCaptionID), captions[(kRounds - 1) % 2]);
}

}  // namespace
