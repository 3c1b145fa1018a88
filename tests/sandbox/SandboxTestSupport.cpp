#include "SandboxTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

#include "sandbox/Pkce.h"
#include "sandbox/Url.h"

namespace tiktok_sandbox::test {
namespace {

// A server that drops a connection must fail the client's call, not kill the test process.
const bool kSigpipeIgnored = [] {
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}();

}  // namespace

Json ParseJson(const std::string& text) { return Json::parse(text, nullptr, false); }

RunningSandbox::RunningSandbox(SandboxConfig config) : sandbox(std::move(config)) {
  EXPECT_TRUE(kSigpipeIgnored);
  EXPECT_TRUE(sandbox.Start());
}

RunningSandbox::~RunningSandbox() { sandbox.Stop(); }

std::unique_ptr<httplib::Client> RunningSandbox::NewClient() const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", sandbox.Port());
  client->set_connection_timeout(kTimeout);
  client->set_read_timeout(kTimeout);
  client->set_write_timeout(kTimeout);
  return client;
}

Pkce NewPkce() {
  static std::atomic<int> counter{0};
  Pkce pkce;
  pkce.verifier = "verifier-" + std::string(50, 'x') + "._~" + std::to_string(counter++);
  pkce.challenge = CodeChallengeFor(pkce.verifier);
  return pkce;
}

FormFields AuthorizeParams(const std::string& redirectUri, const std::string& challenge, const std::string& scopes) {
  return {{"client_key", SandboxConfig{}.clientKey},
          {"scope", scopes},
          {"response_type", "code"},
          {"redirect_uri", redirectUri},
          {"state", "state-123"},
          {"code_challenge", challenge},
          {"code_challenge_method", "S256"}};
}

void SetField(FormFields& fields, const std::string& name, std::optional<std::string> value) {
  std::erase_if(fields, [&](const FormField& field) { return field.name == name; });
  if (value) fields.push_back({name, *value});
}

std::string AuthorizeTarget(const FormFields& params) {
  return std::string("/v2/auth/authorize/?") + EncodeUrlEncoded(params);
}

RedirectCatcher::RedirectCatcher() {
  server_.Get("/callback", [this](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(mutex_);
    lastQuery_ = ParseUrlEncoded(QueryOf(req.target));
    lastTarget_ = req.target;
    res.set_content("<html><body>You may close this window.</body></html>", "text/html");
  });
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  while (!server_.is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

RedirectCatcher::~RedirectCatcher() {
  server_.stop();
  thread_.join();
}

std::string RedirectCatcher::Uri() const { return "http://127.0.0.1:" + std::to_string(port_) + "/callback"; }

std::optional<FormFields> RedirectCatcher::LastQuery() const {
  std::lock_guard lock(mutex_);
  return lastQuery_;
}

std::string RedirectCatcher::LastTarget() const {
  std::lock_guard lock(mutex_);
  return lastTarget_;
}

std::string ObtainCode(RunningSandbox& running, const std::string& redirectUri, const Pkce& pkce,
                       const std::string& scopes) {
  running.sandbox.SetAutoApprove(true);
  auto client = running.NewClient();
  auto res = client->Get(AuthorizeTarget(AuthorizeParams(redirectUri, pkce.challenge, scopes)));
  if (!res || res->status != 302) return {};
  const auto location = ParseHttpUrl(res->get_header_value("Location"));
  const auto query = location ? ParseUrlEncoded(location->query) : std::nullopt;
  return query ? SingleValue(*query, "code").value_or("") : "";
}

FormFields CodeExchangeForm(const std::string& code, const std::string& redirectUri, const Pkce& pkce) {
  const SandboxConfig defaults;
  return {{"client_key", defaults.clientKey},     {"client_secret", defaults.clientSecret},
          {"code", code},                         {"grant_type", "authorization_code"},
          {"redirect_uri", redirectUri},          {"code_verifier", pkce.verifier}};
}

httplib::Result PostForm(httplib::Client& client, const std::string& path, const FormFields& form) {
  return client.Post(path, EncodeUrlEncoded(form), "application/x-www-form-urlencoded");
}

Tokens SignIn(RunningSandbox& running, const std::string& scopes) {
  const std::string redirectUri = "http://127.0.0.1:1/callback";
  const Pkce pkce = NewPkce();
  const std::string code = ObtainCode(running, redirectUri, pkce, scopes);
  auto client = running.NewClient();
  auto res = PostForm(*client, "/v2/oauth/token/", CodeExchangeForm(code, redirectUri, pkce));
  if (!res) return {};
  const Json body = ParseJson(res->body);
  return {body.value("access_token", ""), body.value("refresh_token", "")};
}

httplib::Headers Bearer(const std::string& accessToken) { return {{"Authorization", "Bearer " + accessToken}}; }

httplib::Result PostJson(httplib::Client& client, const std::string& path, const std::string& accessToken,
                         const std::string& body) {
  return client.Post(path, Bearer(accessToken), body, "application/json; charset=UTF-8");
}

std::string TestBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 4096) & 0xFF);
  return bytes;
}

OpenedUpload OpenUpload(RunningSandbox& running, const std::string& accessToken, std::uint64_t videoSize,
                        std::uint64_t chunkSize, std::uint64_t chunkCount) {
  auto client = running.NewClient();
  const Json request = {{"source_info",
                         {{"source", "FILE_UPLOAD"},
                          {"video_size", videoSize},
                          {"chunk_size", chunkSize},
                          {"total_chunk_count", chunkCount}}}};
  auto res = PostJson(*client, "/v2/post/publish/inbox/video/init/", accessToken, request.dump());
  if (!res || res->status != 200) return {};
  const Json data = ParseJson(res->body)["data"];
  const auto url = ParseHttpUrl(data["upload_url"].get<std::string>());
  const auto query = ParseUrlEncoded(url->query);
  return {data["publish_id"], SingleValue(*query, "upload_id").value_or(""), url->Target()};
}

httplib::Result PutChunk(httplib::Client& client, const std::string& target, const std::string& body,
                         std::uint64_t first, std::uint64_t last, std::uint64_t total, const std::string& contentType) {
  const httplib::Headers headers{
      {"Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(total)}};
  return client.Put(target, headers, body, contentType);
}

}  // namespace tiktok_sandbox::test
