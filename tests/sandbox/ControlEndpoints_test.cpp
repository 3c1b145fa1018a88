// The /_sandbox/ control API, the request log's contents and where the sandbox listens.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "SandboxTestSupport.h"
#include "sandbox/HeadlessBrowser.h"

namespace tiktok_sandbox::test {
namespace {

Json GetJson(httplib::Client& client, const std::string& path) {
  auto res = client.Get(path);
  return res && res->status == 200 ? ParseJson(res->body) : Json();
}

httplib::Result PostControl(httplib::Client& client, const std::string& path, const Json& body) {
  return client.Post(path, body.dump(), "application/json");
}

TEST(ControlEndpointsTest, FaultsCanBeQueuedAndClearedOverHttp) {
  RunningSandbox running;
  auto client = running.NewClient();
  auto queued = PostControl(*client, "/_sandbox/faults",
                            {{"endpoint", "token"}, {"status", 429}, {"body", "{}"}, {"count", 2}});
  ASSERT_TRUE(queued);
  EXPECT_EQ(queued->status, 200);
  EXPECT_EQ(ParseJson(queued->body)["queued"], 2);
  EXPECT_EQ(PostForm(*client, "/v2/oauth/token/", {})->status, 429);

  ASSERT_TRUE(client->Delete("/_sandbox/faults"));
  EXPECT_EQ(PostForm(*client, "/v2/oauth/token/", {})->status, 200);

  for (const Json& bad : {Json{{"endpoint", "nowhere"}}, Json{{"endpoint", "token"}, {"action", "explode"}},
                          Json{{"endpoint", "token"}, {"count", 0}}, Json{{"endpoint", "token"}, {"status", "x"}}}) {
    auto refused = PostControl(*client, "/_sandbox/faults", bad);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400) << bad.dump();
  }
}

TEST(ControlEndpointsTest, HangCanBeReleasedOverHttp) {
  RunningSandbox running;
  auto control = running.NewClient();
  ASSERT_EQ(PostControl(*control, "/_sandbox/faults", {{"endpoint", "authorize"}, {"action", "hang"}})->status, 200);
  auto client = running.NewClient();
  std::thread caller([&] { client->Get("/v2/auth/authorize/"); });
  ASSERT_TRUE(running.sandbox.Faults().WaitUntilHanging(1, kTimeout));
  EXPECT_EQ(GetJson(*control, "/_sandbox/faults/hanging")["hanging"], 1);
  ASSERT_TRUE(control->Post("/_sandbox/faults/release"));
  caller.join();  // bounded by the client's read timeout
  EXPECT_EQ(running.sandbox.Requests().back().status, 400);
}

TEST(ControlEndpointsTest, CreatorClockAndTokensCanBeChangedOverHttp) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  auto client = running.NewClient();

  auto creator = PostControl(*client, "/_sandbox/creator", {{"private_account", true}, {"nickname", "Ada"}});
  ASSERT_TRUE(creator);
  EXPECT_EQ(ParseJson(creator->body)["privacy_level_options"][0], "FOLLOWER_OF_CREATOR");
  auto info = PostJson(*client, "/v2/post/publish/creator_info/query/", tokens.accessToken, "{}");
  EXPECT_EQ(ParseJson(info->body)["data"]["creator_nickname"], "Ada");
  EXPECT_EQ(PostControl(*client, "/_sandbox/creator", {{"private_account", "yes"}})->status, 400);

  ASSERT_TRUE(client->Post("/_sandbox/tokens/expire-access"));
  EXPECT_EQ(client->Get("/v2/user/info/?fields=open_id", Bearer(tokens.accessToken))->status, 401);

  const Tokens later = SignIn(running);
  ASSERT_EQ(PostControl(*client, "/_sandbox/clock", {{"advance_seconds", 86400}})->status, 200);
  EXPECT_EQ(client->Get("/v2/user/info/?fields=open_id", Bearer(later.accessToken))->status, 401);
}

TEST(ControlEndpointsTest, UploadsAndRequestsAreListedOverHttp) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  const std::string video = TestBytes(4000);
  const OpenedUpload upload = OpenUpload(running, tokens.accessToken, video.size(), video.size(), 1);
  auto client = running.NewClient();
  ASSERT_EQ(PutChunk(*client, upload.target, video, 0, video.size() - 1, video.size(), "video/webm")->status, 201);

  const Json uploads = GetJson(*client, "/_sandbox/uploads")["uploads"];
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0]["upload_id"], upload.uploadId);
  EXPECT_EQ(uploads[0]["kind"], "inbox");
  EXPECT_EQ(uploads[0]["complete"], true);
  EXPECT_EQ(uploads[0]["chunks"][0]["content_type"], "video/webm");
  EXPECT_EQ(uploads[0]["source_info"]["video_size"], 4000);

  const Json requests = GetJson(*client, "/_sandbox/requests")["requests"];
  ASSERT_FALSE(requests.empty());
  const Json put = requests.back();
  EXPECT_EQ(put["method"], "PUT");
  EXPECT_EQ(put["path"], "/upload/");
  EXPECT_EQ(put["endpoint"], "upload");
  EXPECT_EQ(put["status"], 201);
  EXPECT_EQ(put["content_range"], "bytes 0-3999/4000");
  EXPECT_EQ(put["content_length"], "4000");
  EXPECT_EQ(put["query_param_names"], Json::array({"upload_id", "upload_token"}));

  ASSERT_TRUE(client->Delete("/_sandbox/requests"));
  EXPECT_TRUE(GetJson(*client, "/_sandbox/requests")["requests"].empty());
}

TEST(ControlEndpointsTest, RequestLogKeepsNamesButNoSecrets) {
  RunningSandbox running;
  RedirectCatcher catcher;
  const Pkce pkce = NewPkce();
  ASSERT_TRUE(HeadlessBrowser().Open(running.sandbox.Origin() +
                                     AuthorizeTarget(AuthorizeParams(catcher.Uri(), pkce.challenge))).ok);
  const std::string code = SingleValue(*catcher.LastQuery(), "code").value();
  auto client = running.NewClient();
  auto tokenRes = PostForm(*client, "/v2/oauth/token/", CodeExchangeForm(code, catcher.Uri(), pkce));
  const Json tokens = ParseJson(tokenRes->body);
  const std::string access = tokens["access_token"];
  const std::string video = TestBytes(100);
  const OpenedUpload upload = OpenUpload(running, access, video.size(), video.size(), 1);
  PutChunk(*client, upload.target, video, 0, 99, 100);
  // A header sent twice is reported by name.
  client->Get("/v2/user/info/?fields=open_id", {{"Authorization", "Bearer " + access}, {"Authorization", "x"}});

  Json all = Json::array();
  for (const auto& record : running.sandbox.Requests()) all.push_back(ToJson(record));
  const std::string logText = all.dump() + client->Get("/_sandbox/requests")->body;
  const std::string uploadToken = upload.target.substr(upload.target.find("upload_token=") + 13);
  for (const std::string& secret : {SandboxConfig{}.clientSecret, code, pkce.verifier, pkce.challenge,
                                    access, tokens["refresh_token"].get<std::string>(), uploadToken}) {
    EXPECT_EQ(logText.find(secret), std::string::npos) << secret;
  }
  const auto records = running.sandbox.Requests();
  const auto token = std::find_if(records.begin(), records.end(), [](const RequestRecord& r) { return r.endpoint == "token"; });
  ASSERT_NE(token, records.end());
  EXPECT_EQ(token->formFieldNames, (std::vector<std::string>{"client_key", "client_secret", "code", "grant_type",
                                                             "redirect_uri", "code_verifier"}));
  EXPECT_EQ(records.back().repeatedHeaders, std::vector<std::string>{"authorization"});
  EXPECT_EQ(records.back().status, 401);
  const auto& headers = records.back().headerNames;
  EXPECT_NE(std::find(headers.begin(), headers.end(), "authorization"), headers.end());
  EXPECT_EQ(std::find(headers.begin(), headers.end(), "remote_addr"), headers.end());
}

TEST(ControlEndpointsTest, ListensOnLoopbackOnly) {
  RunningSandbox running;
  EXPECT_EQ(running.sandbox.Origin(), "http://127.0.0.1:" + std::to_string(running.sandbox.Port()));
  // The kernel's table of listening sockets: 0100007F is 127.0.0.1, state 0A is LISTEN.
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::ostringstream port;
  port << std::uppercase << std::hex << running.sandbox.Port();
  std::string portHex = port.str();
  portHex.insert(0, 4 - portHex.size(), '0');
  std::vector<std::string> listeners;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state == "0A" && local.size() > 5 && local.substr(local.size() - 4) == portHex) listeners.push_back(local);
  }
  EXPECT_EQ(listeners, std::vector<std::string>{"0100007F:" + portHex});
}

}  // namespace
}  // namespace tiktok_sandbox::test
