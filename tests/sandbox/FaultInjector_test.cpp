// Injected faults: answers replaced N times, delays, hangs released or cut by Stop, drops.
#include <gtest/gtest.h>

#include <future>

#include "SandboxTestSupport.h"

namespace tiktok_sandbox::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const std::string kUserInfo = "/v2/user/info/?fields=open_id";

TEST(FaultInjectorTest, RespondReplacesTheNextCallsThenAnswersNormally) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  running.sandbox.Faults().Add(Endpoint::UserInfo, Fault::Respond(503, R"({"oops":1})").Times(2));
  running.sandbox.Faults().Add(Endpoint::UserInfo, Fault::Respond(200, R"({"error":{"code":"internal_error"}})"));
  auto client = running.NewClient();

  std::vector<std::pair<int, std::string>> answers;
  for (int i = 0; i < 4; ++i) {
    auto res = client->Get(kUserInfo, Bearer(tokens.accessToken));
    ASSERT_TRUE(res);
    answers.emplace_back(res->status, res->body);
  }
  EXPECT_EQ(answers[0], std::make_pair(503, std::string(R"({"oops":1})")));
  EXPECT_EQ(answers[1].first, 503);
  EXPECT_EQ(answers[2], std::make_pair(200, std::string(R"({"error":{"code":"internal_error"}})")));
  EXPECT_EQ(answers[3].first, 200);
  EXPECT_EQ(ParseJson(answers[3].second)["error"]["code"], "ok");
  EXPECT_EQ(running.sandbox.Requests().back().fault, "");
  EXPECT_EQ(running.sandbox.Requests()[running.sandbox.Requests().size() - 2].fault, "respond");
}

TEST(FaultInjectorTest, DelayWaitsThenAnswersNormally) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  running.sandbox.Faults().Add(Endpoint::UserInfo, Fault::Delay(milliseconds(300)));
  auto client = running.NewClient();
  const auto start = steady_clock::now();
  auto res = client->Get(kUserInfo, Bearer(tokens.accessToken));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_GE(steady_clock::now() - start, milliseconds(300));
}

TEST(FaultInjectorTest, HangAnswersNormallyOnceReleased) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  running.sandbox.Faults().Add(Endpoint::UserInfo, Fault::Hang());
  auto client = running.NewClient();
  auto answer = std::async(std::launch::async, [&] { return client->Get(kUserInfo, Bearer(tokens.accessToken)); });

  ASSERT_TRUE(running.sandbox.Faults().WaitUntilHanging(1, kTimeout));
  EXPECT_EQ(answer.wait_for(milliseconds(100)), std::future_status::timeout);
  running.sandbox.Faults().ReleaseHangs();
  ASSERT_EQ(answer.wait_for(kTimeout), std::future_status::ready);
  auto res = answer.get();
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
}

TEST(FaultInjectorTest, StopEndsAHangWhoseClientAlreadyGaveUp) {
  RunningSandbox running;
  running.sandbox.Faults().Add(Endpoint::Token, Fault::Hang());
  auto client = running.NewClient();
  client->set_read_timeout(milliseconds(200));
  auto res = PostForm(*client, "/v2/oauth/token/", {{"grant_type", "refresh_token"}});
  EXPECT_FALSE(res);  // the client gave up
  ASSERT_TRUE(running.sandbox.Faults().WaitUntilHanging(1, kTimeout));

  const auto start = steady_clock::now();
  running.sandbox.Stop();
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(FaultInjectorTest, StopEndsAHangAndItsConnection) {
  RunningSandbox running;
  running.sandbox.Faults().Add(Endpoint::Authorize, Fault::Hang());
  auto client = running.NewClient();
  auto answer = std::async(std::launch::async, [&] { return client->Get("/v2/auth/authorize/"); });
  ASSERT_TRUE(running.sandbox.Faults().WaitUntilHanging(1, kTimeout));

  const auto start = steady_clock::now();
  running.sandbox.Stop();
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_EQ(answer.wait_for(kTimeout), std::future_status::ready);
  EXPECT_FALSE(answer.get());
}

TEST(FaultInjectorTest, StopDoesNotWaitForIdleKeepAliveConnections) {
  RunningSandbox running;
  auto client = running.NewClient();
  client->set_keep_alive(true);
  ASSERT_TRUE(client->Get("/_sandbox/health"));
  const auto start = steady_clock::now();
  running.sandbox.Stop();
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(FaultInjectorTest, DropClosesTheConnectionWithoutAnAnswer) {
  RunningSandbox running;
  running.sandbox.Faults().Add(Endpoint::CreatorInfo, Fault::Drop());
  const Tokens tokens = SignIn(running);
  auto client = running.NewClient();
  auto dropped = PostJson(*client, "/v2/post/publish/creator_info/query/", tokens.accessToken, "{}");
  EXPECT_FALSE(dropped);
  auto next = PostJson(*client, "/v2/post/publish/creator_info/query/", tokens.accessToken, "{}");
  ASSERT_TRUE(next);
  EXPECT_EQ(next->status, 200);
  const auto requests = running.sandbox.Requests();
  const auto& record = requests[requests.size() - 2];
  EXPECT_EQ(record.fault, "drop");
  EXPECT_EQ(record.status, 0);
}

TEST(FaultInjectorTest, UploadFaultReadsTheChunkAwaySoTheConnectionStaysUsable) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  const std::string video = TestBytes(3000000);
  const OpenedUpload upload = OpenUpload(running, tokens.accessToken, video.size(), video.size(), 1);
  running.sandbox.Faults().Add(Endpoint::UploadChunk, Fault::Respond(500, R"({"error":{"code":"internal"}})"));
  auto client = running.NewClient();
  client->set_keep_alive(true);

  auto failed = PutChunk(*client, upload.target, video, 0, video.size() - 1, video.size());
  auto retried = PutChunk(*client, upload.target, video, 0, video.size() - 1, video.size());
  ASSERT_TRUE(failed && retried);
  EXPECT_EQ(failed->status, 500);
  EXPECT_EQ(retried->status, 201);
  EXPECT_TRUE(running.sandbox.Upload(upload.uploadId)->complete);
}

}  // namespace
}  // namespace tiktok_sandbox::test
