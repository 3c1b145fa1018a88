// The /_sandbox/ control API, the request log's contents and how the sandbox listens.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/sandbox/SandboxTestSupport.h"

namespace vekta::test {

using namespace vekta::sandbox;
namespace {

// Each control request once; what the uploads listing and fault queueing answer is left to the
// end-to-end tests, which rely on them.
TEST(ControlEndpointsTest, ControlRequestsChangeTheRunningSandbox) {
    RunningSandbox running;
    const Tokens tokens = SignIn(running);
    auto client = running.NewClient();
    auto control = [&](const std::string& path, const Json& body = Json::object()) {
        return StatusOf(client->Post(path, body.dump(), "application/json"));
    };
    auto userInfo = [&](const Tokens& t) {
        return StatusOf(client->Get("/v2/user/info/?fields=open_id", Bearer(t.accessToken)));
    };

    ASSERT_EQ(control("/_sandbox/faults", {{"endpoint", "token"}, {"status", 429}, {"count", 2}}), 200);
    EXPECT_EQ(StatusOf(PostForm(*client, kTokenPath, {})), 429);
    ASSERT_EQ(StatusOf(client->Delete("/_sandbox/faults")), 200);
    EXPECT_EQ(StatusOf(PostForm(*client, kTokenPath, {})), 200);
    for (const Json& bad : {Json{{"endpoint", "nowhere"}}, Json{{"endpoint", "token"}, {"action", "explode"}},
                            Json{{"endpoint", "token"}, {"count", 0}}, Json{{"endpoint", "token"}, {"status", "x"}}}) {
        EXPECT_EQ(control("/_sandbox/faults", bad), 400) << bad.dump();
    }
    ASSERT_EQ(control("/_sandbox/faults", {{"endpoint", "authorize"}, {"action", "hang"}}), 200);
    auto hung = running.NewClient();
    std::thread caller([&] { hung->Get("/v2/auth/authorize/"); });  // bounded by the client's read timeout
    ASSERT_TRUE(running.sandbox.Faults().WaitUntilHanging(1, kTimeout));
    auto hanging = client->Get("/_sandbox/faults/hanging");
    EXPECT_EQ(hanging ? ParseJson(hanging->body)["hanging"] : Json(), 1);
    EXPECT_EQ(control("/_sandbox/faults/release"), 200);
    caller.join();
    EXPECT_EQ(running.sandbox.Requests().back().status, 400);  // answered normally: no parameters

    // A private account offers no public option, and init refuses one.
    EXPECT_EQ(control("/_sandbox/creator", {{"private_account", true}, {"nickname", "Ada"}}), 200);
    EXPECT_EQ(control("/_sandbox/creator", {{"private_account", "yes"}}), 400);
    auto info = PostJson(*client, "/v2/post/publish/creator_info/query/", tokens.accessToken, "{}");
    const Json creator = StatusOf(info) == 200 ? ParseJson(info->body)["data"] : Json();
    EXPECT_EQ(creator["creator_nickname"], "Ada");
    EXPECT_EQ(creator["privacy_level_options"],
              Json::array({"FOLLOWER_OF_CREATOR", "MUTUAL_FOLLOW_FRIENDS", "SELF_ONLY"}));
    const Json publicPost = {{"post_info", {{"title", ""}, {"privacy_level", "PUBLIC_TO_EVERYONE"}}},
                             {"source_info", FileSource(1000, 1000, 1)}};
    auto init = PostJson(*client, "/v2/post/publish/video/init/", tokens.accessToken, publicPost.dump());
    ASSERT_EQ(StatusOf(init), 400);
    EXPECT_EQ(ParseJson(init->body)["error"]["code"], "privacy_level_option_mismatch");

    const std::string redirectUri = "http://127.0.0.1:1/cb";
    const Pkce pkce = NewPkce();
    const FormFields exchange = CodeExchangeForm(ObtainCode(running, redirectUri, pkce), redirectUri, pkce);
    EXPECT_EQ(control("/_sandbox/codes/expire"), 200);
    EXPECT_EQ(TokenError(PostForm(*client, kTokenPath, exchange)), "invalid_grant");
    EXPECT_EQ(control("/_sandbox/tokens/expire-access"), 200);
    EXPECT_EQ(userInfo(tokens), 401);
    const Tokens later = SignIn(running);
    EXPECT_EQ(control("/_sandbox/clock", {{"advance_seconds", 86400}}), 200);  // access tokens live 24 h
    EXPECT_EQ(userInfo(later), 401);
}

TEST(ControlEndpointsTest, RequestLogKeepsNamesButNoSecrets) {
    RunningSandbox running;
    const std::string redirectUri = "http://127.0.0.1:1/cb";
    const Pkce pkce = NewPkce();
    const std::string code = ObtainCode(running, redirectUri, pkce);
    auto client = running.NewClient();
    auto tokenAnswer = PostForm(*client, kTokenPath, CodeExchangeForm(code, redirectUri, pkce));
    const Json tokens = tokenAnswer ? ParseJson(tokenAnswer->body) : Json::object();
    const std::string access = tokens.value("access_token", "");
    const OpenedUpload upload = OpenUpload(running, access, 100, 100, 1);
    EXPECT_EQ(StatusOf(PutChunk(*client, upload.target, TestBytes(100), 0, 99, 100)), 201);
    // A header sent twice is reported by name.
    client->Get("/v2/user/info/?fields=open_id", {{"Authorization", "Bearer " + access}, {"Authorization", "x"}});

    auto listed = client->Get("/_sandbox/requests");
    ASSERT_EQ(StatusOf(listed), 200);
    const std::string uploadToken = upload.target.substr(upload.target.find("upload_token=") + 13);
    for (const std::string& secret : {SandboxConfig{}.clientSecret, code, pkce.verifier, pkce.challenge, access,
                                      tokens.value("refresh_token", ""), uploadToken}) {
        EXPECT_EQ(listed->body.find(secret), std::string::npos) << secret;
    }
    // Names stay: the plug-in's tests judge its requests by them.
    const Json requests = ParseJson(listed->body)["requests"];
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[requests.size() - 2]["query_param_names"], Json::array({"upload_id", "upload_token"}));
    EXPECT_EQ(requests.back()["repeated_headers"], Json::array({"authorization"}));
    ASSERT_EQ(StatusOf(client->Delete("/_sandbox/requests")), 200);
    EXPECT_TRUE(running.sandbox.Requests().empty());
}

TEST(ControlEndpointsTest, ListensOnLoopbackOnly) {
    RunningSandbox running;
    // Another loopback address can take the same port only when the sandbox did not bind a wildcard.
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(running.sandbox.Port());
    address.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
    EXPECT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0) << std::strerror(errno);
    ::close(sock);
}

}  // namespace
}  // namespace vekta::test
