// Injected faults: answers replaced N times, delays, drops, hangs cut by Stop, and uploads.
#include <gtest/gtest.h>

#include <future>

#include "SandboxTestSupport.h"

namespace tiktok_sandbox::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const std::string kUserInfo = "/v2/user/info/?fields=open_id";

struct FaultFixture {
  FaultFixture() : tokens(SignIn(running)), client(running.NewClient()) {}
  httplib::Result UserInfo() { return client->Get(kUserInfo, Bearer(tokens.accessToken)); }
  RunningSandbox running;
  Tokens tokens;
  std::unique_ptr<httplib::Client> client;
};

// Faults on one endpoint take its next calls in the order queued, then it answers normally.
TEST(FaultInjectorTest, QueuedFaultsReplaceTheNextCallsInOrder) {
  FaultFixture f;
  FaultInjector& faults = f.running.sandbox.Faults();
  faults.Add(Endpoint::UserInfo, Fault::Respond(503, R"({"oops":1})").Times(2));
  faults.Add(Endpoint::UserInfo, Fault::Respond(200, R"({"error":{"code":"internal_error"}})"));
  faults.Add(Endpoint::UserInfo, Fault::Delay(milliseconds(300)));
  faults.Add(Endpoint::UserInfo, Fault::Drop());
  const std::pair<int, std::string> expected[] = {{503, R"({"oops":1})"},
                                                  {503, R"({"oops":1})"},
                                                  {200, R"({"error":{"code":"internal_error"}})"},
                                                  {200, "ok"},
                                                  {-1, ""},
                                                  {200, "ok"}};
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const auto start = steady_clock::now();
    auto res = f.UserInfo();
    const std::string body = res ? res->body : "";
    EXPECT_EQ(StatusOf(res), expected[i].first) << i;
    EXPECT_TRUE(expected[i].second == "ok" ? ParseJson(body)["error"]["code"] == "ok" : body == expected[i].second)
        << i << ": " << body;
    EXPECT_TRUE(i != 3 || steady_clock::now() - start >= milliseconds(300)) << "no delay";
  }
  std::vector<std::pair<std::string, int>> logged;
  for (const auto& record : f.running.sandbox.Requests()) {
    if (record.endpoint == "user_info") logged.emplace_back(record.fault, record.status);
  }
  EXPECT_EQ(logged, (std::vector<std::pair<std::string, int>>{
                        {"respond", 503}, {"respond", 503}, {"respond", 200}, {"delay", 200}, {"drop", 0}, {"", 200}}));
}

TEST(FaultInjectorTest, StopEndsAHangAndIdleConnectionsPromptly) {
  RunningSandbox running;
  running.sandbox.Faults().Add(Endpoint::Authorize, Fault::Hang());
  auto hung = running.NewClient();
  auto answer = std::async(std::launch::async, [&] { return hung->Get("/v2/auth/authorize/"); });
  ASSERT_TRUE(running.sandbox.Faults().WaitUntilHanging(1, kTimeout));
  auto idle = running.NewClient();
  idle->set_keep_alive(true);
  ASSERT_TRUE(idle->Get("/_sandbox/health"));

  const auto start = steady_clock::now();
  running.sandbox.Stop();
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_EQ(answer.wait_for(kTimeout), std::future_status::ready);
  EXPECT_FALSE(answer.get());
}

TEST(FaultInjectorTest, UploadFaultReadsTheChunkAwaySoTheConnectionStaysUsable) {
  FaultFixture f;
  const std::string video = TestBytes(3000000);
  const OpenedUpload upload = OpenUpload(f.running, f.tokens.accessToken, video.size(), video.size(), 1);
  f.running.sandbox.Faults().Add(Endpoint::UploadChunk, Fault::Respond(500, R"({"error":{"code":"internal"}})"));
  f.client->set_keep_alive(true);
  EXPECT_EQ(StatusOf(PutChunk(*f.client, upload.target, video, 0, video.size() - 1, video.size())), 500);
  EXPECT_EQ(StatusOf(PutChunk(*f.client, upload.target, video, 0, video.size() - 1, video.size())), 201);
  EXPECT_TRUE(f.running.sandbox.Upload(upload.uploadId)->complete);
}

}  // namespace
}  // namespace tiktok_sandbox::test
