// TikTokUploader's account requests called directly against the sandbox: what the callbacks cannot
// reach in reasonable time (a request that outlasts its time-out), and tokens read on other threads
// while a refresh writes them.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "../SignInSupport.h"
#include "talcore/threads/MainThread.h"
#include "talnet/http/OriginMap.h"
#include "tiktok/TikTokUploader.h"

namespace {

using namespace std::chrono_literals;
using tiktok_sandbox::Endpoint;
using tiktok_sandbox::Fault;
using vekta::test::CountRequests;

class UploaderRequests : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sandbox.Start(0));
        talnet::http::SetOriginMapping("https://www.tiktok.com", sandbox.Origin());
        talnet::http::SetOriginMapping("https://open.tiktokapis.com", sandbox.Origin());
        HostInstanceRecord record{};
        uploader = talcore::utility::RefCountedPtr<Vekta::TikTokUploader>(
            new Vekta::TikTokUploader(record, nullptr, nullptr));
    }
    void TearDown() override {
        uploader.Reset();
        talcore::threads::PumpMainThreadTasks();
        sandbox.Stop();
        talnet::http::ClearOriginMappings();
    }

    // Runs `operation` on another thread and waits for it, boundedly; hung sandbox answers are
    // released when it does not come back.
    bool ReturnsWithin(std::chrono::seconds limit, const std::function<void()>& operation) {
        std::packaged_task<void()> task(operation);
        auto done = task.get_future();
        std::thread runner(std::move(task));
        const bool returned = done.wait_for(limit) == std::future_status::ready;
        sandbox.Faults().ReleaseHangs();
        runner.join();
        return returned;
    }

    tiktok_sandbox::Sandbox sandbox;
    talcore::utility::RefCountedPtr<Vekta::TikTokUploader> uploader;
};

TEST_F(UploaderRequests, WithoutARefreshTokenNothingIsSentAndAHandedOverOneReadsAsSignedIn) {
    std::u16string tooltip = u"stale";
    EXPECT_EQ(uploader->GetStatusText(tooltip), u"Not logged in");
    EXPECT_EQ(tooltip, u"");
    EXPECT_FALSE(uploader->RefreshAccessToken());
    EXPECT_FALSE(uploader->QueryCreatorInfo([](const Vekta::TikTokCreatorInfo&) { FAIL() << "no answer to report"; }));
    EXPECT_TRUE(sandbox.Requests().empty());
    // Handed over, not yet asked about: signed in, nickname still unknown.
    uploader->SetRefreshToken(u"rft.handed-over");
    EXPECT_EQ(uploader->GetStatusText(tooltip), u"Signed in as ");
    EXPECT_FALSE(uploader->IsLoginOffered());
}

TEST_F(UploaderRequests, ProfileLinkComesFromTheUserInfoAnswer) {
    uploader->SetRefreshToken(u"rft.unknown");
    const struct {
        int status;
        std::string body;
        std::u16string link;
    } answers[] = {
        {200, R"({"data":{"user":{"profile_deep_link":"https://www.tiktok.com/@first"}}})", u"https://www.tiktok.com/@first"},
        {200, R"({"data":{"user":{}}})", u"https://www.tiktok.com/@first"},
        {500, R"({"data":{"user":{"profile_deep_link":"https://www.tiktok.com/@second"}}})", u"https://www.tiktok.com/@first"},
        {200, R"({"data":{"user":{"profile_deep_link":7}}})", u"https://www.tiktok.com/@first"},
        {200, R"({"data":{"user":{"profile_deep_link":"https://www.tiktok.com/@third"}}})", u"https://www.tiktok.com/@third"},
    };
    for (const auto& a : answers) {
        SCOPED_TRACE(a.body);
        sandbox.Faults().Add(Endpoint::UserInfo, Fault::Respond(a.status, a.body));
        uploader->RequestUserInfo();
        EXPECT_EQ(uploader->GetProfileDeepLink(), a.link);
    }
    // Unshaped, so the sandbox reads the request (and refuses the unknown token).
    uploader->RequestUserInfo();
    EXPECT_EQ(uploader->GetProfileDeepLink(), u"https://www.tiktok.com/@third");
    const auto requests = sandbox.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().status, 401);
    EXPECT_EQ(requests.back().method, "GET");
    EXPECT_EQ(requests.back().queryParamNames, std::vector<std::string>{"fields"});
    const auto& headers = requests.back().headerNames;
    EXPECT_NE(std::find(headers.begin(), headers.end(), "authorization"), headers.end());
}

TEST_F(UploaderRequests, UserInfoOutlastingItsTimeoutIsCancelledTracedAndChangesNothing) {
    uploader->SetRequestTimeoutForTesting(1);
    const vekta::test::TraceCapture trace;
    sandbox.Faults().Add(Endpoint::UserInfo, Fault::Hang());
    std::size_t stillHanging = 0;
    ASSERT_TRUE(ReturnsWithin(30s, [&] {
        uploader->RequestUserInfo();
        stillHanging = sandbox.Faults().Hanging();
    }));
    // It returned through the cancellation, not through TikTok's answer.
    EXPECT_EQ(stillHanging, 1u);
    EXPECT_EQ(uploader->GetProfileDeepLink(), u"");
    EXPECT_NE(trace.Text().find("RequestUserInfo timeout: "), std::string::npos) << trace.Text();
}

TEST_F(UploaderRequests, TokensReadOnOtherThreadsWhileRefreshesWriteThem) {
    uploader->SetRefreshToken(u"rft.first");
    constexpr int kRounds = 20;
    sandbox.Faults().Add(Endpoint::Token,
                         Fault::Respond(200, R"({"access_token":"act.next","refresh_token":"rft.next"})").Times(kRounds));
    sandbox.Faults().Add(Endpoint::UserInfo,
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
    EXPECT_EQ(CountRequests(sandbox, "token"), static_cast<std::size_t>(kRounds));
    EXPECT_EQ(uploader->GetProfileDeepLink(), u"https://x/@y");
}

}  // namespace
