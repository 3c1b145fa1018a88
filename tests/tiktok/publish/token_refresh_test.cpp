// The refresh of the access token with the uploader itself at hand, against a sandbox that rotates
// refresh tokens and refuses the ones it rotated out, as TikTok does: callers on several threads at
// once share one refresh, and an upload's rotated token reaches the host at the end of Execute.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "plugin/CallbackTable.h"
#include "plugin/InstanceLookup.h"
#include "refhost/BasicSuiteHost.h"
#include "refhost/HostRecord.h"
#include "talcore/threads/MainThread.h"
#include "tests/tiktok/PublishTestSupport.h"
#include "tests/tiktok/publish/LinkedTable.h"

namespace {

using namespace vekta::test;
using namespace std::chrono_literals;
using vekta::sandbox::Endpoint;
using vekta::sandbox::Fault;

class RotatingRefresh : public ::testing::Test {
protected:
    void SetUp() override {
        h.Sandbox().SetRotateRefreshTokens(true);
        h.Sandbox().SetRefuseRotatedRefreshTokens(true);
        SignedInForPost(h);
        uploader_ = Vekta::LookupInstance(&h.Record());
        ASSERT_TRUE(uploader_);
    }

    PluginHarness h{LinkedTable()};
    talcore::utility::RefCountedPtr<Vekta::TikTokUploader> uploader_;
};

// A settings refresh and an upload may refresh at the same moment. Two refreshes with one token
// would have the second refused (the first retired it) and sign the user out; and a request sent
// while the token is being refreshed would go out with an empty bearer. Here one refresh is held
// at the sandbox while two more refreshes, a creator query and a user query come: all of them wait
// for it and go on with its token.
TEST_F(RotatingRefresh, CallersDuringARefreshShareItAndNoRequestGoesOutWithoutAToken) {
    const auto tokensBefore = CountRequests(h.Sandbox(), "token");
    const auto creatorQueriesBefore = CountRequests(h.Sandbox(), "creator_info");
    const auto userQueriesBefore = CountRequests(h.Sandbox(), "user_info");
    h.Sandbox().Faults().Add(Endpoint::Token, Fault::Hang());

    std::atomic<int> refreshed{0};
    std::atomic<bool> creatorQueried{false};
    std::vector<std::thread> callers;
    const auto refresh = [&] { refreshed += uploader_->RefreshAccessToken() ? 1 : 0; };
    callers.emplace_back(refresh);
    ASSERT_TRUE(h.Sandbox().Faults().WaitUntilHanging(1, 10s));
    callers.emplace_back(refresh);
    callers.emplace_back(refresh);
    callers.emplace_back([&] { creatorQueried = uploader_->QueryCreatorInfo([](const Vekta::TikTokCreatorInfo&) {}); });
    callers.emplace_back([&] { uploader_->RequestUserInfo(); });
    const bool allWaiting = WaitUntil([&] { return uploader_->RefreshWaitersForTesting() == 4; }, 10s);
    h.Sandbox().Faults().ReleaseHangs();
    for (auto& caller : callers) caller.join();

    ASSERT_TRUE(allWaiting);
    EXPECT_EQ(refreshed, 3);
    EXPECT_TRUE(creatorQueried);
    EXPECT_EQ(CountRequests(h.Sandbox(), "token"), tokensBefore + 1);
    EXPECT_EQ(CountRequests(h.Sandbox(), "creator_info"), creatorQueriesBefore + 1);
    EXPECT_EQ(CountRequests(h.Sandbox(), "user_info"), userQueriesBefore + 1);
    for (const auto& request : h.Sandbox().Requests()) EXPECT_EQ(request.errorCode, "") << request.endpoint;
    EXPECT_EQ(uploader_->GetProfileDeepLink(), u"https://www.tiktok.com/@sandbox.creator");
    // The token it rotated in is the one in use now.
    EXPECT_TRUE(h.HasCredentials());
    EXPECT_TRUE(uploader_->RefreshAccessToken());
}

// Execute refreshes before the upload; the token it rotated in is in the settings when it returns,
// so a host that saves them now keeps a token that still works.
TEST_F(RotatingRefresh, AnUploadsRotatedTokenIsHandedToTheHostWhenExecuteReturns) {
    TempFolder folder;
    const auto file = folder / "export.mp4";
    WriteRandomFile(file, 1000);
    DescribeExport(h, {file});
    ASSERT_EQ(h.Refresh(), 0);
    const std::u16string beforeUpload = h.ArrayText("VOXATikTokRefreshToken");
    ASSERT_FALSE(beforeUpload.empty());
    ASSERT_EQ(h.Table().execute(&h.Record(), kExecuteSelectorPublish), kCallbackDone);
    const std::u16string afterUpload = h.ArrayText("VOXATikTokRefreshToken");
    EXPECT_FALSE(afterUpload.empty());
    EXPECT_NE(afterUpload, beforeUpload);
    ASSERT_EQ(h.Sandbox().Uploads().size(), 1u);
    EXPECT_TRUE(h.Sandbox().Uploads()[0].complete);

    // A new instance given only what the host kept is signed in.
    const std::uint32_t nextID = h.InstanceID() + 100000;
    h.Settings().ResetInstance(nextID, vekta::host::kDefaultHostGroupID);
    auto next =
        vekta::host::MakeHostInstanceRecord(nextID, vekta::host::kDefaultHostGroupID, vekta::host::kBasicSuiteAccessor);
    ASSERT_EQ(h.Table().createInstance(&next, &vekta::host::StatusRecorder::StatusCallback,
                                       &vekta::host::StatusRecorder::AccountCallback),
              0);
    ASSERT_EQ(h.Table().addParameters(&next), kCallbackDone);
    std::vector<std::uint8_t> kept(afterUpload.size() * 2 + 2, 0);
    std::memcpy(kept.data(), afterUpload.data(), afterUpload.size() * 2);
    ASSERT_EQ(h.Settings().SetValue(nextID, "VOXATikTokRefreshToken", vekta::host::ParameterValue(kept)), 0);
    ASSERT_EQ(h.Table().refreshParameters(&next), kCallbackDone);
    std::uint8_t signedIn = 0;
    h.Table().queryHasCredentials(&next, &signedIn);
    EXPECT_EQ(signedIn, 1);
    EXPECT_EQ(h.Table().destroyInstance(&next), kCallbackDone);
    talcore::threads::PumpMainThreadTasks();
    h.Settings().RemoveInstance(nextID);
}

}  // namespace
