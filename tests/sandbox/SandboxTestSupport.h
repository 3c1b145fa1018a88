#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "sandbox/Pkce.h"
#include "sandbox/Sandbox.h"
#include "sandbox/Url.h"
#include "sandbox/UrlCodec.h"

namespace vekta::test {

using namespace vekta::sandbox;

using Json = nlohmann::json;
inline constexpr auto kTimeout = std::chrono::seconds(10);
inline constexpr const char* kAllScopes = "user.info.basic,user.info.profile,video.publish,video.upload";
inline constexpr const char* kTokenPath = "/v2/oauth/token/";
inline constexpr std::uint64_t MB = 1024 * 1024;

inline Json ParseJson(const std::string& text) { return Json::parse(text, nullptr, false); }
inline int StatusOf(const httplib::Result& res) { return res ? res->status : -1; }  // -1: no answer

// A server that drops a connection must fail the client's call, not kill the test process.
inline const bool kSigpipeIgnored = [] { return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();

// A sandbox on an ephemeral port, stopped when the test ends.
struct RunningSandbox {
    explicit RunningSandbox(SandboxConfig config = {}) : sandbox(std::move(config)) {
        if (!kSigpipeIgnored || !sandbox.Start()) throw std::runtime_error("the sandbox did not start");
    }
    std::unique_ptr<httplib::Client> NewClient() const {
        auto client = std::make_unique<httplib::Client>("127.0.0.1", sandbox.Port());
        client->set_connection_timeout(kTimeout);
        client->set_read_timeout(kTimeout);
        client->set_write_timeout(kTimeout);
        client->set_tcp_nodelay(true);  // a POST's body would otherwise wait out a delayed acknowledgement
        return client;
    }
    Sandbox sandbox;  // stops when destroyed
};

struct Pkce {
    std::string verifier;
    std::string challenge;
};
inline Pkce NewPkce() {
    static std::atomic<int> counter{0};
    const std::string verifier = "verifier-" + std::string(50, 'x') + "._~" + std::to_string(counter++);
    return {verifier, CodeChallengeFor(verifier)};
}

// The query of a valid authorization request; tests change or remove fields to break rules.
inline FormFields AuthorizeParams(const std::string& redirectUri, const std::string& challenge,
                                  const std::string& scopes = kAllScopes) {
    return {{"client_key", SandboxConfig{}.clientKey},
            {"scope", scopes},
            {"response_type", "code"},
            {"redirect_uri", redirectUri},
            {"state", "state-123"},
            {"code_challenge", challenge},
            {"code_challenge_method", "S256"}};
}
inline void SetField(FormFields& fields, const std::string& name, std::optional<std::string> value) {
    std::erase_if(fields, [&](const FormField& field) { return field.name == name; });
    if (value) fields.push_back({name, *value});
}
inline std::string AuthorizeTarget(const FormFields& params) {
    return std::string("/v2/auth/authorize/?") + EncodeUrlEncoded(params);
}

// A code for a valid authorization request, through the auto-approving redirect.
inline std::string ObtainCode(RunningSandbox& running, const std::string& redirectUri, const Pkce& pkce,
                              const std::string& scopes = kAllScopes) {
    running.sandbox.SetAutoApprove(true);
    auto res = running.NewClient()->Get(AuthorizeTarget(AuthorizeParams(redirectUri, pkce.challenge, scopes)));
    const auto location = ParseHttpUrl(res ? res->get_header_value("Location") : "");
    const auto query = location ? ParseUrlEncoded(location->query) : std::nullopt;
    return query ? SingleValue(*query, "code").value_or("") : "";
}
inline FormFields CodeExchangeForm(const std::string& code, const std::string& redirectUri, const Pkce& pkce) {
    const SandboxConfig defaults;
    return {{"client_key", defaults.clientKey},
            {"client_secret", defaults.clientSecret},
            {"code", code},
            {"grant_type", "authorization_code"},
            {"redirect_uri", redirectUri},
            {"code_verifier", pkce.verifier}};
}
inline httplib::Result PostForm(httplib::Client& client, const std::string& path, const FormFields& form) {
    return client.Post(path, EncodeUrlEncoded(form), "application/x-www-form-urlencoded");
}
inline std::string TokenError(const httplib::Result& res) {  // "" for none
    return res ? ParseJson(res->body).value("error", "") : "<no answer>";
}

struct Tokens {
    std::string accessToken;
    std::string refreshToken;
};
inline Tokens SignIn(RunningSandbox& running, const std::string& scopes = kAllScopes) {
    const std::string redirectUri = "http://127.0.0.1:1/callback";
    const Pkce pkce = NewPkce();
    const std::string code = ObtainCode(running, redirectUri, pkce, scopes);
    auto res = PostForm(*running.NewClient(), kTokenPath, CodeExchangeForm(code, redirectUri, pkce));
    const Json body = res ? ParseJson(res->body) : Json::object();
    return {body.value("access_token", ""), body.value("refresh_token", "")};
}

inline httplib::Headers Bearer(const std::string& accessToken) { return {{"Authorization", "Bearer " + accessToken}}; }
inline httplib::Result PostJson(httplib::Client& client, const std::string& path, const std::string& accessToken,
                                const std::string& body) {
    return client.Post(path, Bearer(accessToken), body, "application/json; charset=UTF-8");
}

// Bytes with a pattern that shifts, so a misplaced chunk changes the hash.
inline std::string TestBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 4096) & 0xFF);
    return bytes;
}

struct OpenedUpload {
    std::string uploadId;
    std::string target;  // path and query of the upload URL
};
// The source_info of an init; the numbers may be given as JSON of any type, to break the rules.
inline Json FileSource(Json videoSize, Json chunkSize, Json chunkCount) {
    return {{"source", "FILE_UPLOAD"},
            {"video_size", std::move(videoSize)},
            {"chunk_size", std::move(chunkSize)},
            {"total_chunk_count", std::move(chunkCount)}};
}
inline OpenedUpload OpenUpload(RunningSandbox& running, const std::string& accessToken, std::uint64_t videoSize,
                               std::uint64_t chunkSize, std::uint64_t chunkCount) {
    const Json request = {{"source_info", FileSource(videoSize, chunkSize, chunkCount)}};
    auto res = PostJson(*running.NewClient(), "/v2/post/publish/inbox/video/init/", accessToken, request.dump());
    if (StatusOf(res) != 200) return {};
    const auto url = ParseHttpUrl(ParseJson(res->body)["data"]["upload_url"].get<std::string>());
    return {SingleValue(*ParseUrlEncoded(url->query), "upload_id").value_or(""), url->Target()};
}
inline httplib::Result PutChunk(httplib::Client& client, const std::string& target, const std::string& body,
                                std::uint64_t first, std::uint64_t last, std::uint64_t total,
                                const std::string& contentType = "video/mp4") {
    const std::string range =
        "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(total);
    return client.Put(target, {{"Content-Range", range}}, body, contentType);
}

}  // namespace vekta::test
