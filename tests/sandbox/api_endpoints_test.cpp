// The bearer-token API: user info, creator info and the two kinds of upload init.
#include <gtest/gtest.h>

#include "tests/sandbox/SandboxTestSupport.h"

namespace vekta::test {

using namespace vekta::sandbox;
namespace {

const char* const kDirectInit = "/v2/post/publish/video/init/";
const char* const kInboxInit = "/v2/post/publish/inbox/video/init/";

std::string ErrorCode(const httplib::Result& res) {
    const Json body = ParseJson(res->body);
    return body.contains("error") ? body["error"].value("code", "") : "";
}

Json Post(const Json& changes = Json::object()) {
    Json post = {{"title", "My video #sandbox"}, {"privacy_level", "SELF_ONLY"}, {"disable_comment", false},
                 {"disable_duet", true},         {"disable_stitch", false},      {"video_cover_timestamp_ms", 1000}};
    if (changes.is_object()) post.merge_patch(changes);  // a null value removes that field
    return post;
}

// User info and both inits: a valid request per kind, then one broken rule per row.
TEST(ApiEndpointsTest, RefusesRequestsThatBreakTheRules) {
    struct Case {
        const char* name;
        std::string target;
        Json body;  // null: a GET
        int status;
        const char* code;
        std::optional<std::string> authorization = std::nullopt;  // nothing: a bearer token with every scope
    };
    RunningSandbox running;
    running.sandbox.SetMaxPendingUploads(0);
    const Tokens tokens = SignIn(running);
    const std::string uploadOnly = "Bearer " + SignIn(running, "user.info.basic,video.upload").accessToken;
    const std::string publishOnly = "Bearer " + SignIn(running, "user.info.basic,video.publish").accessToken;
    const std::string basicOnly = "Bearer " + SignIn(running, "user.info.basic").accessToken;
    const std::string userInfo = "/v2/user/info/?fields=";
    const Json small = FileSource(1000, 1000, 1);
    auto inbox = [](const Json& source) { return Json{{"source_info", source}}; };
    auto direct = [&](const Json& changes) { return Json{{"post_info", Post(changes)}, {"source_info", small}}; };
    Json pullFromUrl = small;
    pullFromUrl["source"] = "PULL_FROM_URL";
    // 2200 UTF-16 units, with a surrogate pair counting twice.
    const std::string longestTitle = std::string(2198, 'a') + "\xF0\x9F\x8E\xAC";
    const Case cases[] = {
        {"user info", userInfo + "open_id,display_name", nullptr, 200, "ok"},
        {"no token", userInfo + "open_id", nullptr, 401, "access_token_invalid", ""},
        {"unknown token", userInfo + "open_id", nullptr, 401, "access_token_invalid", "Bearer act.nosuchtoken"},
        {"wrong scheme", userInfo + "open_id", nullptr, 401, "access_token_invalid", "Basic " + tokens.accessToken},
        {"unknown field", userInfo + "open_id,shoe_size", nullptr, 400, "invalid_params"},
        {"no fields", userInfo, nullptr, 400, "invalid_params"},
        {"field outside the scopes", userInfo + "open_id,username", nullptr, 403, "scope_not_authorized", basicOnly},
        {"direct post", kDirectInit, direct({}), 200, "ok"},
        {"inbox upload", kInboxInit, inbox(small), 200, "ok"},
        {"numbers as digit strings", kInboxInit, inbox(FileSource("12582919", "5242880", "2")), 200, "ok"},
        {"fractional size", kInboxInit, inbox(FileSource(1000.5, 1000.5, 1)), 400, "invalid_params"},
        {"word string", kInboxInit, inbox(FileSource("thousand", 1000, 1)), 400, "invalid_params"},
        {"missing count", kInboxInit, inbox({{"source", "FILE_UPLOAD"}, {"video_size", 1}, {"chunk_size", 1}}), 400,
         "invalid_params"},
        {"pull from url", kInboxInit, inbox(pullFromUrl), 400, "invalid_params"},
        {"missing source_info", kInboxInit, Json::object(), 400, "invalid_params"},
        {"zero size", kInboxInit, inbox(FileSource(0, 0, 0)), 400, "invalid_params"},
        {"small video in two chunks", kInboxInit, inbox(FileSource(4 * MB, 2 * MB, 2)), 400, "invalid_params"},
        {"small video, larger chunk", kInboxInit, inbox(FileSource(4 * MB, 5 * MB, 1)), 400, "invalid_params"},
        {"remainder in the last chunk", kInboxInit, inbox(FileSource(12 * MB + 7, 5 * MB, 2)), 200, "ok"},
        {"count rounded up", kInboxInit, inbox(FileSource(12 * MB + 7, 5 * MB, 3)), 400, "invalid_params"},
        {"64 MB in one chunk", kInboxInit, inbox(FileSource(64 * MB, 64 * MB, 1)), 200, "ok"},
        {"65 MB in one chunk", kInboxInit, inbox(FileSource(65 * MB, 65 * MB, 1)), 400, "invalid_params"},
        {"chunk below 5 MB", kInboxInit, inbox(FileSource(20 * MB, 5 * MB - 1, 4)), 400, "invalid_params"},
        {"chunk above 64 MB", kInboxInit, inbox(FileSource(200 * MB, 64 * MB + 1, 3)), 400, "invalid_params"},
        {"4 GB in 64 MB chunks", kInboxInit, inbox(FileSource(4096 * MB, 64 * MB, 64)), 200, "ok"},
        {"over 4 GB", kInboxInit, inbox(FileSource(4096 * MB + 1, 64 * MB, 64)), 400, "invalid_params"},
        {"post_info on inbox", kInboxInit, {{"post_info", Post()}, {"source_info", small}}, 400, "invalid_params"},
        {"missing post_info", kDirectInit, inbox(small), 400, "invalid_params"},
        {"missing privacy", kDirectInit, direct({{"privacy_level", nullptr}}), 400, "invalid_params"},
        {"unknown privacy", kDirectInit, direct({{"privacy_level", "FRIENDS"}}), 400, "privacy_level_option_mismatch"},
        {"longest title", kDirectInit, direct({{"title", longestTitle}}), 200, "ok"},
        {"title too long", kDirectInit, direct({{"title", longestTitle + "a"}}), 400, "invalid_params"},
        {"title not a string", kDirectInit, direct({{"title", 5}}), 400, "invalid_params"},
        {"flag as string", kDirectInit, direct({{"disable_duet", "true"}}), 400, "invalid_params"},
        {"negative cover time", kDirectInit, direct({{"video_cover_timestamp_ms", -1}}), 400, "invalid_params"},
        {"direct post without its scope", kDirectInit, direct({}), 403, "scope_not_authorized", uploadOnly},
        {"inbox without its scope", kInboxInit, inbox(small), 403, "scope_not_authorized", publishOnly},
    };
    auto client = running.NewClient();
    for (const auto& c : cases) {
        httplib::Headers headers;
        const std::string authorization = c.authorization.value_or("Bearer " + tokens.accessToken);
        if (!authorization.empty()) headers.emplace("Authorization", authorization);
        auto res = c.body.is_null() ? client->Get(c.target, headers)
                                    : client->Post(c.target, headers, c.body.dump(), "application/json; charset=UTF-8");
        ASSERT_TRUE(res) << c.name;
        EXPECT_EQ(res->status, c.status) << c.name << ": " << res->body;
        EXPECT_EQ(ErrorCode(res), c.code) << c.name;
        EXPECT_FALSE(res->get_header_value("X-Tt-Logid").empty()) << c.name;
    }
}

TEST(ApiEndpointsTest, TooManyUnfinishedUploadsAreRefusedAsSpamRisk) {
    RunningSandbox running;
    const Tokens tokens = SignIn(running);
    auto client = running.NewClient();
    auto init = [&](const std::string& accessToken) {
        return PostJson(*client, kInboxInit, accessToken, Json{{"source_info", FileSource(1000, 1000, 1)}}.dump());
    };
    for (int i = 0; i < 5; ++i) ASSERT_EQ(StatusOf(init(tokens.accessToken)), 200);
    auto refused = init(tokens.accessToken);
    ASSERT_EQ(StatusOf(refused), 403);
    EXPECT_EQ(ErrorCode(refused), "spam_risk_too_many_pending_share");
    // Upload URLs that expired no longer count as pending.
    running.sandbox.AdvanceClock(std::chrono::seconds(3600));
    EXPECT_EQ(StatusOf(init(SignIn(running).accessToken)), 200);
}

}  // namespace
}  // namespace vekta::test
