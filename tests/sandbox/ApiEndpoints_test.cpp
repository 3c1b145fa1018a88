// The bearer-token API: user info, creator info and the two kinds of upload init.
#include <gtest/gtest.h>

#include "SandboxTestSupport.h"

namespace tiktok_sandbox::test {
namespace {

const char* const kUserInfo = "/v2/user/info/";
const char* const kCreatorInfo = "/v2/post/publish/creator_info/query/";
const char* const kDirectInit = "/v2/post/publish/video/init/";
const char* const kInboxInit = "/v2/post/publish/inbox/video/init/";

std::string ErrorCode(const httplib::Result& res) {
  const Json body = ParseJson(res->body);
  return body.contains("error") ? body["error"].value("code", "") : "";
}

TEST(ApiEndpointsTest, UserInfoAnswersTheRequestedFields) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  auto client = running.NewClient();
  auto res = client->Get(std::string(kUserInfo) + "?fields=open_id,display_name,profile_deep_link,username",
                         Bearer(tokens.accessToken));
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200);
  const Json body = ParseJson(res->body);
  EXPECT_EQ(body["error"]["code"], "ok");
  EXPECT_FALSE(body["error"]["log_id"].get<std::string>().empty());
  const Json user = body["data"]["user"];
  EXPECT_EQ(user.size(), 4u);
  EXPECT_EQ(user["display_name"], "Sandbox Creator");
  EXPECT_EQ(user["profile_deep_link"], "https://www.tiktok.com/@sandbox.creator");
  EXPECT_FALSE(user["open_id"].get<std::string>().empty());
}

struct ApiCase {
  const char* name;
  std::optional<std::string> authorization;  // nothing: no header
  const char* fields;
  int status;
  const char* code;
};

TEST(ApiEndpointsTest, UserInfoRefusesBadTokensFieldsAndScopes) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  const Tokens basicOnly = SignIn(running, "user.info.basic");
  const ApiCase cases[] = {
      {"no token", std::nullopt, "open_id", 401, "access_token_invalid"},
      {"unknown token", "Bearer act.nosuchtoken", "open_id", 401, "access_token_invalid"},
      {"wrong scheme", "Basic " + tokens.accessToken, "open_id", 401, "access_token_invalid"},
      {"unknown field", "Bearer " + tokens.accessToken, "open_id,shoe_size", 400, "invalid_params"},
      {"no fields", "Bearer " + tokens.accessToken, "", 400, "invalid_params"},
      {"field outside the scopes", "Bearer " + basicOnly.accessToken, "open_id,username", 403,
       "scope_not_authorized"},
  };
  auto client = running.NewClient();
  for (const auto& c : cases) {
    httplib::Headers headers;
    if (c.authorization) headers.emplace("Authorization", *c.authorization);
    auto res = client->Get(std::string(kUserInfo) + "?fields=" + c.fields, headers);
    ASSERT_TRUE(res) << c.name;
    EXPECT_EQ(res->status, c.status) << c.name;
    EXPECT_EQ(ErrorCode(res), c.code) << c.name;
  }
}

TEST(ApiEndpointsTest, AccessTokensExpireWithTheClockAndOnDemand) {
  RunningSandbox running;
  auto client = running.NewClient();
  const std::string target = std::string(kUserInfo) + "?fields=open_id";

  const Tokens aged = SignIn(running);
  running.sandbox.AdvanceClock(std::chrono::seconds(86400));
  auto afterLifetime = client->Get(target, Bearer(aged.accessToken));
  ASSERT_TRUE(afterLifetime);
  EXPECT_EQ(afterLifetime->status, 401);

  const Tokens fresh = SignIn(running);
  auto beforeExpiry = client->Get(target, Bearer(fresh.accessToken));
  running.sandbox.ExpireAccessTokens();
  auto afterExpiry = client->Get(target, Bearer(fresh.accessToken));
  ASSERT_TRUE(beforeExpiry && afterExpiry);
  EXPECT_EQ(beforeExpiry->status, 200);
  EXPECT_EQ(afterExpiry->status, 401);
  EXPECT_EQ(ErrorCode(afterExpiry), "access_token_invalid");
}

TEST(ApiEndpointsTest, CreatorInfoFollowsTheAccountsPrivacy) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  auto client = running.NewClient();

  auto pub = PostJson(*client, kCreatorInfo, tokens.accessToken, "");
  ASSERT_TRUE(pub);
  ASSERT_EQ(pub->status, 200);
  const Json data = ParseJson(pub->body)["data"];
  EXPECT_EQ(data["privacy_level_options"],
            Json::array({"PUBLIC_TO_EVERYONE", "MUTUAL_FOLLOW_FRIENDS", "SELF_ONLY"}));
  EXPECT_EQ(data["max_video_post_duration_sec"], 600);
  for (const char* field : {"creator_avatar_url", "creator_username", "creator_nickname", "comment_disabled",
                            "duet_disabled", "stitch_disabled"}) {
    EXPECT_TRUE(data.contains(field)) << field;
  }

  running.sandbox.SetPrivateAccount(true);
  auto priv = PostJson(*client, kCreatorInfo, tokens.accessToken, "{}");
  ASSERT_TRUE(priv);
  const Json options = ParseJson(priv->body)["data"]["privacy_level_options"];
  EXPECT_NE(std::find(options.begin(), options.end(), "FOLLOWER_OF_CREATOR"), options.end());
  EXPECT_EQ(std::find(options.begin(), options.end(), "PUBLIC_TO_EVERYONE"), options.end());

  auto wrongType = client->Post(kCreatorInfo, Bearer(tokens.accessToken), "", "text/plain");
  ASSERT_TRUE(wrongType);
  EXPECT_EQ(wrongType->status, 400);
}

Json Source(Json videoSize, Json chunkSize, Json chunkCount) {
  return {{"source", "FILE_UPLOAD"}, {"video_size", videoSize}, {"chunk_size", chunkSize},
          {"total_chunk_count", chunkCount}};
}

Json Post(Json changes = Json::object()) {
  Json post = {{"title", "My video #sandbox"}, {"privacy_level", "SELF_ONLY"}, {"disable_comment", false},
               {"disable_duet", true},         {"disable_stitch", false},       {"video_cover_timestamp_ms", 1000}};
  post.merge_patch(changes);
  return post;
}

struct InitCase {
  const char* name;
  const char* path;
  Json body;
  int status;
  const char* code;
};

TEST(ApiEndpointsTest, InitChecksSourceAndPostInfo) {
  RunningSandbox running;
  running.sandbox.SetMaxPendingUploads(0);
  const Tokens tokens = SignIn(running);
  const std::uint64_t MB = 1024 * 1024;
  const Json small = Source(1000, 1000, 1);
  Json pullFromUrl = small;
  pullFromUrl["source"] = "PULL_FROM_URL";
  // 2200 UTF-16 units, with surrogate pairs counting twice.
  std::string longestTitle(2198, 'a');
  longestTitle += "\xF0\x9F\x8E\xAC";
  const InitCase cases[] = {
      {"direct post", kDirectInit, {{"post_info", Post()}, {"source_info", small}}, 200, "ok"},
      {"inbox upload", kInboxInit, {{"source_info", small}}, 200, "ok"},
      {"numbers as digit strings", kInboxInit, {{"source_info", Source("12582919", "5242880", "2")}}, 200, "ok"},
      {"remainder in last chunk", kInboxInit, {{"source_info", Source(12 * MB + 7, 5 * MB, 2)}}, 200, "ok"},
      {"negative size", kInboxInit, {{"source_info", Source(-1000, 1000, 1)}}, 400, "invalid_params"},
      {"fractional size", kInboxInit, {{"source_info", Source(1000.5, 1000.5, 1)}}, 400, "invalid_params"},
      {"negative string", kInboxInit, {{"source_info", Source("-1000", 1000, 1)}}, 400, "invalid_params"},
      {"fraction string", kInboxInit, {{"source_info", Source("1000.0", 1000, 1)}}, 400, "invalid_params"},
      {"word string", kInboxInit, {{"source_info", Source("thousand", 1000, 1)}}, 400, "invalid_params"},
      {"missing count", kInboxInit, {{"source_info", {{"source", "FILE_UPLOAD"}, {"video_size", 1}, {"chunk_size", 1}}}},
       400, "invalid_params"},
      {"pull from url", kInboxInit, {{"source_info", pullFromUrl}}, 400, "invalid_params"},
      {"missing source_info", kInboxInit, Json::object(), 400, "invalid_params"},
      {"small video in two chunks", kInboxInit, {{"source_info", Source(4 * MB, 2 * MB, 2)}}, 400, "invalid_params"},
      {"count rounded up", kInboxInit, {{"source_info", Source(12 * MB + 7, 5 * MB, 3)}}, 400, "invalid_params"},
      {"chunk too large", kInboxInit, {{"source_info", Source(200 * MB, 65 * MB, 3)}}, 400, "invalid_params"},
      {"video too large", kInboxInit, {{"source_info", Source(4097 * MB, 64 * MB, 64)}}, 400, "invalid_params"},
      {"post_info on inbox", kInboxInit, {{"post_info", Post()}, {"source_info", small}}, 400, "invalid_params"},
      {"missing post_info", kDirectInit, {{"source_info", small}}, 400, "invalid_params"},
      {"missing privacy", kDirectInit, {{"post_info", Post({{"privacy_level", nullptr}})}, {"source_info", small}},
       400, "invalid_params"},
      {"unknown privacy", kDirectInit, {{"post_info", Post({{"privacy_level", "FRIENDS"}})}, {"source_info", small}},
       400, "privacy_level_option_mismatch"},
      {"longest title", kDirectInit, {{"post_info", Post({{"title", longestTitle}})}, {"source_info", small}},
       200, "ok"},
      {"title too long", kDirectInit, {{"post_info", Post({{"title", longestTitle + "a"}})}, {"source_info", small}},
       400, "invalid_params"},
      {"title not a string", kDirectInit, {{"post_info", Post({{"title", 5}})}, {"source_info", small}},
       400, "invalid_params"},
      {"flag as string", kDirectInit, {{"post_info", Post({{"disable_duet", "true"}})}, {"source_info", small}},
       400, "invalid_params"},
      {"negative cover time", kDirectInit,
       {{"post_info", Post({{"video_cover_timestamp_ms", -1}})}, {"source_info", small}}, 400, "invalid_params"},
  };
  auto client = running.NewClient();
  for (const auto& c : cases) {
    auto res = PostJson(*client, c.path, tokens.accessToken, c.body.dump());
    ASSERT_TRUE(res) << c.name;
    EXPECT_EQ(res->status, c.status) << c.name << ": " << res->body;
    EXPECT_EQ(ErrorCode(res), c.code) << c.name;
    if (c.status != 200) continue;
    const Json data = ParseJson(res->body)["data"];
    const std::string publishId = data["publish_id"];
    const char* prefix = std::string(c.path) == kDirectInit ? "v_pub_file~v2-1." : "v_inbox_file~v2-1.";
    EXPECT_EQ(publishId.rfind(prefix, 0), 0u) << publishId;
    EXPECT_EQ(data["upload_url"].get<std::string>().rfind(running.sandbox.Origin() + "/upload/?upload_id=", 0), 0u);
  }
}

TEST(ApiEndpointsTest, InitNeedsTheMatchingScopeAndPrivacyOption) {
  RunningSandbox running;
  const Tokens uploadOnly = SignIn(running, "user.info.basic,video.upload");
  const Tokens publishOnly = SignIn(running, "user.info.basic,video.publish");
  auto client = running.NewClient();
  const Json inbox = {{"source_info", Source(1000, 1000, 1)}};
  const Json direct = {{"post_info", Post({{"privacy_level", "PUBLIC_TO_EVERYONE"}})},
                       {"source_info", Source(1000, 1000, 1)}};

  auto directWithoutScope = PostJson(*client, kDirectInit, uploadOnly.accessToken, direct.dump());
  auto inboxWithoutScope = PostJson(*client, kInboxInit, publishOnly.accessToken, inbox.dump());
  ASSERT_TRUE(directWithoutScope && inboxWithoutScope);
  EXPECT_EQ(directWithoutScope->status, 403);
  EXPECT_EQ(ErrorCode(directWithoutScope), "scope_not_authorized");
  EXPECT_EQ(inboxWithoutScope->status, 403);

  running.sandbox.SetPrivateAccount(true);
  auto publicOnPrivate = PostJson(*client, kDirectInit, publishOnly.accessToken, direct.dump());
  ASSERT_TRUE(publicOnPrivate);
  EXPECT_EQ(publicOnPrivate->status, 400);
  EXPECT_EQ(ErrorCode(publicOnPrivate), "privacy_level_option_mismatch");
}

TEST(ApiEndpointsTest, TooManyUnfinishedUploadsAreRefusedAsSpamRisk) {
  RunningSandbox running;
  const Tokens tokens = SignIn(running);
  auto client = running.NewClient();
  const std::string body = Json{{"source_info", Source(1000, 1000, 1)}}.dump();
  for (int i = 0; i < 5; ++i) {
    auto res = PostJson(*client, kInboxInit, tokens.accessToken, body);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
  }
  auto refused = PostJson(*client, kInboxInit, tokens.accessToken, body);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 403);
  EXPECT_EQ(ErrorCode(refused), "spam_risk_too_many_pending_share");

  // Upload URLs that expired no longer count as pending.
  running.sandbox.AdvanceClock(std::chrono::seconds(3600));
  const Tokens later = SignIn(running);
  auto accepted = PostJson(*client, kInboxInit, later.accessToken, body);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->status, 200);
}

}  // namespace
}  // namespace tiktok_sandbox::test
