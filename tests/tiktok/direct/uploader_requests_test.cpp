// TikTokUploader's account requests called directly against the sandbox: tokens read on other
// threads while a refresh writes them, which the callbacks cannot drive concurrently.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "sandbox/Sandbox.h"
#include "talcore/threads/MainThread.h"
#include "talnet/http/OriginMap.h"
#include "tiktok/TikTokUploader.h"

namespace {

using vekta::sandbox::Endpoint;
using vekta::sandbox::Fault;

TEST(UploaderRequests, TokensReadOnOtherThreadsWhileRefreshesWriteThem) {
    vekta::sandbox::Sandbox sandbox;
    ASSERT_TRUE(sandbox.Start(0));
    talnet::http::SetOriginMapping("https://open.tiktokapis.com", sandbox.Origin());
    HostInstanceRecord record{};
    talcore::utility::RefCountedPtr<Vekta::TikTokUploader> uploader(
        new Vekta::TikTokUploader(record, nullptr, nullptr));
    uploader->SetRefreshToken(u"rft.first");
    // One answer first, refused for the unknown token: the sandbox's HTTP server builds shared state
    // while it answers its first request, which TSan reports when that races the concurrent ones.
    uploader->RequestUserInfo();
    constexpr int kRounds = 20;
    sandbox.Faults().Add(
        Endpoint::Token,
        Fault::Respond(200, R"({"access_token":"act.next","refresh_token":"rft.next"})").Times(kRounds));
    sandbox.Faults().Add(
        Endpoint::UserInfo,
        Fault::Respond(200, R"({"data":{"user":{"profile_deep_link":"https://x/@y"}}})").Times(kRounds));
    std::thread refresher([&] {
        for (int i = 0; i < kRounds; ++i) uploader->RefreshAccessToken();
    });
    std::thread publisher([&] {
        for (int i = 0; i < kRounds; ++i) uploader->RequestUserInfo();
    });
    for (int i = 0; i < 200; ++i) {
        std::u16string tooltip;
        EXPECT_TRUE(uploader->HasCredentials());
        uploader->GetStatusText(tooltip);
    }
    refresher.join();
    publisher.join();
    const auto requests = sandbox.Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(), [](const auto& r) { return r.endpoint == "token"; }),
              kRounds);
    EXPECT_EQ(uploader->GetProfileDeepLink(), u"https://x/@y");

    uploader.Reset();
    talcore::threads::PumpMainThreadTasks();
    sandbox.Stop();
    talnet::http::ClearOriginMappings();
}

}  // namespace
