#pragma once

#include <httplib.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "sandbox/Sandbox.h"
#include "sandbox/UrlCodec.h"

namespace tiktok_sandbox::test {

using Json = nlohmann::json;
inline constexpr auto kTimeout = std::chrono::seconds(10);
inline constexpr const char* kAllScopes = "user.info.basic,user.info.profile,video.publish,video.upload";

Json ParseJson(const std::string& text);

// A sandbox on an ephemeral port, stopped when the test ends.
struct RunningSandbox {
  explicit RunningSandbox(SandboxConfig config = {});
  ~RunningSandbox();
  Sandbox sandbox;
  std::unique_ptr<httplib::Client> NewClient() const;
};

struct Pkce {
  std::string verifier;
  std::string challenge;
};
Pkce NewPkce();

// The query of a valid authorization request; tests change or remove fields to break rules.
FormFields AuthorizeParams(const std::string& redirectUri, const std::string& challenge,
                           const std::string& scopes = kAllScopes);
void SetField(FormFields& fields, const std::string& name, std::optional<std::string> value);
std::string AuthorizeTarget(const FormFields& params);

// A loopback redirect listener like the plug-in's: records the query of the last callback.
class RedirectCatcher {
 public:
  RedirectCatcher();
  ~RedirectCatcher();
  std::string Uri() const;
  std::optional<FormFields> LastQuery() const;
  std::string LastTarget() const;  // as sent, still percent-encoded

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::optional<FormFields> lastQuery_;
  std::string lastTarget_;
};

// A code for a valid authorization request, through the auto-approving redirect.
std::string ObtainCode(RunningSandbox& running, const std::string& redirectUri, const Pkce& pkce,
                       const std::string& scopes = kAllScopes);
FormFields CodeExchangeForm(const std::string& code, const std::string& redirectUri, const Pkce& pkce);
httplib::Result PostForm(httplib::Client& client, const std::string& path, const FormFields& form);

struct Tokens {
  std::string accessToken;
  std::string refreshToken;
};
// Signs in with the given scopes (auto-approve) and exchanges the code.
Tokens SignIn(RunningSandbox& running, const std::string& scopes = kAllScopes);

httplib::Result PostJson(httplib::Client& client, const std::string& path, const std::string& accessToken,
                         const std::string& body);
httplib::Headers Bearer(const std::string& accessToken);

// Bytes with a pattern that shifts, so a misplaced chunk changes the hash.
std::string TestBytes(std::size_t size);

struct OpenedUpload {
  std::string publishId;
  std::string uploadId;
  std::string target;  // path and query of the upload URL
};
OpenedUpload OpenUpload(RunningSandbox& running, const std::string& accessToken, std::uint64_t videoSize,
                        std::uint64_t chunkSize, std::uint64_t chunkCount);
httplib::Result PutChunk(httplib::Client& client, const std::string& target, const std::string& body,
                         std::uint64_t first, std::uint64_t last, std::uint64_t total,
                         const std::string& contentType = "video/mp4");

}  // namespace tiktok_sandbox::test
