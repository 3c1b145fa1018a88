// The fault matrix: every TikTok request of the plug-in, and the exported file, meeting each fault
// the sandbox can inject, one table row per case and one process per row. Rows drive the plug-in's
// code linked into the test program through the table the module hands out, with the time-outs
// shortened so that a silent TikTok costs seconds, not minutes.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "plugin/InstanceLookup.h"
#include "sandbox/Pkce.h"
#include "sandbox/Url.h"
#include "sandbox/UrlCodec.h"
#include "tests/tiktok/PublishTestSupport.h"
#include "tests/tiktok/publish/LinkedTable.h"
#include "uploader/UploadRegistries.h"

namespace vekta::test::faults {

using vekta::sandbox::Endpoint;
using vekta::sandbox::Fault;

// The shortened limits: a single request's answer, and a chunk's answer before it is given up.
// Loopback answers take milliseconds, so these leave ample room under a sanitizer.
inline constexpr std::int32_t kRequestTimeoutSeconds = 2;
inline constexpr std::int32_t kIdleLimitSeconds = 2;
inline constexpr std::int32_t kWaitSliceSeconds = 1;
// Every job of a row ends well within this, or the row fails instead of waiting on.
inline constexpr auto kJobBound = std::chrono::seconds(60);

// The bodies the rows answer with in place of TikTok's.
inline const std::string kTokens = R"({"access_token":"act.injected","refresh_token":"rft.injected","open_id":"x"})";
inline const std::string kTokenError =
    R"({"error":"invalid_grant","error_description":"Refresh token is invalid or expired","log_id":"202601010000"})";
inline const std::string kApiError =
    R"({"data":{},"error":{"code":"access_token_invalid","message":"The access token is invalid","log_id":"2026"}})";
inline const std::string kMalformedJson = R"({"data":{"upload_url":"http://127.0.0.1:1/upload/?upload_id=1",)";

// A refresh token of the sandbox's creator, obtained as any client obtains one, with a redirect
// address of its own: what a host hands the plug-in from a saved preset. The plug-in's listener and
// its fixed ports stay out of it, so these rows may run side by side.
inline std::string PresetRefreshToken(vekta::sandbox::Sandbox& sandbox) {
    const vekta::sandbox::SandboxConfig config = sandbox.Config();
    const std::string redirectUri = "http://127.0.0.1:1/preset";
    const std::string verifier = "preset-verifier-" + std::string(40, 'v');
    httplib::Client client("127.0.0.1", sandbox.Port());
    client.set_connection_timeout(10);
    client.set_read_timeout(10);
    sandbox.SetAutoApprove(true);
    const auto authorized = client.Get(
        "/v2/auth/authorize/?" +
        vekta::sandbox::EncodeUrlEncoded({{"client_key", config.clientKey},
                                          {"scope", "user.info.basic,user.info.profile,video.publish,video.upload"},
                                          {"response_type", "code"},
                                          {"redirect_uri", redirectUri},
                                          {"state", "preset"},
                                          {"code_challenge", vekta::sandbox::CodeChallengeFor(verifier)},
                                          {"code_challenge_method", "S256"}}));
    sandbox.SetAutoApprove(config.autoApprove);
    const auto location = vekta::sandbox::ParseHttpUrl(authorized ? authorized->get_header_value("Location") : "");
    const auto query = location ? vekta::sandbox::ParseUrlEncoded(location->query) : std::nullopt;
    const std::string code = query ? vekta::sandbox::SingleValue(*query, "code").value_or("") : "";
    const auto tokens = client.Post("/v2/oauth/token/",
                                    vekta::sandbox::EncodeUrlEncoded({{"client_key", config.clientKey},
                                                                      {"client_secret", config.clientSecret},
                                                                      {"code", code},
                                                                      {"grant_type", "authorization_code"},
                                                                      {"redirect_uri", redirectUri},
                                                                      {"code_verifier", verifier}}),
                                    "application/x-www-form-urlencoded");
    const auto body = nlohmann::json::parse(tokens ? tokens->body : "", nullptr, false);
    return body.is_object() ? body.value("refresh_token", "") : "";
}

// The hidden parameter holds the preset's token; the next refresh hands it to the uploader.
inline void SignInFromPreset(PluginHarness& h) {
    const std::string token = PresetRefreshToken(h.Sandbox());
    ASSERT_FALSE(token.empty());
    const std::u16string text = talcore::string::UTF8to16(token);
    std::vector<std::uint8_t> bytes((text.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    ASSERT_EQ(h.Settings().SetValue(h.InstanceID(), "VOXATikTokRefreshToken", host::ParameterValue(bytes)), 0);
    ASSERT_EQ(h.Refresh(), 0);
    ASSERT_TRUE(h.HasCredentials());
}

// What TikTok's side received since the log was last cleared: "endpoint:status" per request, in
// order (status 0: the connection went without an answer). The consent page's own form, which is
// the browser's business, is left out.
inline std::vector<std::string> Received(vekta::sandbox::Sandbox& sandbox) {
    std::vector<std::string> received;
    for (const auto& request : sandbox.Requests())
        if (!request.endpoint.empty()) received.push_back(request.endpoint + ":" + std::to_string(request.status));
    return received;
}

inline std::vector<std::uint32_t> States(const std::vector<host::StatusEvent>& events) {
    std::vector<std::uint32_t> states;
    for (const auto& event : events) states.push_back(event.state);
    return states;
}

inline bool Busy() { return Vekta::UploadBusyRegistry::Snapshot()[Vekta::kTikTokDestination] != 0; }

// The user-visible texts a job can end with.
enum class Text { None, NotSignedIn, NoUploadUrl, Generic, NoAnswer, FileMissing, OpenFail, ReadFail };

inline std::u16string Expected(Text text, const std::filesystem::path& file) {
    switch (text) {
        case Text::None:
            return u"";
        case Text::NotSignedIn:
            return NotSignedInText(file);
        case Text::NoUploadUrl:
            return u"Unable to upload to TikTok. You can upload it manually from:\n" + Utf16(file);
        case Text::Generic:
            return u"TikTok reported an error";
        case Text::NoAnswer:
            return u"The TikTok server failed to respond during upload. Please check your network connection.";
        case Text::FileMissing:
            return u"File does not exist.";
        case Text::OpenFail:
            return u"Unable to open source file";
        case Text::ReadFail:
            return u"The exported file could not be read completely. It may have been changed or removed during the "
                   u"upload.";
    }
    return u"?";
}

// What a fault leaves in the sandbox's log for the request it hits; a hang leaves nothing while it
// lasts.
inline std::string Logged(Endpoint endpoint, const Fault& fault) {
    const std::string name(vekta::sandbox::ToString(endpoint));
    switch (fault.action) {
        case Fault::Action::Drop:
        case Fault::Action::Reset:
            return name + ":0";
        case Fault::Action::Hang:
            return "";
        case Fault::Action::Delay:
            return name + ":200";
        default:
            return name + ":" + std::to_string(fault.status);
    }
}

// A signed-in instance of the linked plug-in with the shortened limits, and an export to publish.
class LinkedSignedIn {
public:
    void SetUpSignedIn() {
        h.CreateAddAndRefresh();
        uploader = Vekta::LookupInstance(&h.Record());
        ASSERT_TRUE(uploader);
        uploader->SetRequestTimeoutForTesting(kRequestTimeoutSeconds);
        uploader->SetIdleLimitSecondsForTesting(kIdleLimitSeconds);
        uploader->SetWaitSliceSecondsForTesting(kWaitSliceSeconds);
        SignInFromPreset(h);
        ChoosePrivacy(h, 0);
    }
    // Writes `size` random bytes to the export and describes it; returns their SHA-256.
    std::string Export(std::uint64_t size, unsigned seed = 1) {
        const std::string sha256 = WriteRandomFile(file, size, seed);
        DescribeExport(h, {file});
        return sha256;
    }
    // Execute(5) from a thread of its own, bounded, with `meanwhile` run on this thread while it
    // goes; the events it reported, and from the log what TikTok received meanwhile.
    // `ordinaryFileAccess`: the job's thread has an ordinary user's file access, also when the
    // tests run as root.
    struct JobRun {
        std::int32_t result = -1;
        std::vector<host::StatusEvent> events;
        std::vector<std::string> received;
    };
    JobRun Publish(const std::function<void()>& meanwhile = {}, bool ordinaryFileAccess = false) {
        h.Sandbox().ClearRequests();
        const auto before = h.StatusEvents().size();
        auto run = std::async(std::launch::async, [this, ordinaryFileAccess] {
            const bool dropRoot = ordinaryFileAccess && ::geteuid() == 0;
            // Linux keeps the file-system identity per thread, and root's override of the permission
            // bits goes with it.
            if (dropRoot) ::setfsuid(65534);
            const std::int32_t result = h.Table().execute(&h.Record(), kExecuteSelectorPublish);
            if (dropRoot) ::setfsuid(0);
            return result;
        });
        if (meanwhile) meanwhile();
        JobRun outcome;
        outcome.result = Finish(run, kJobBound);
        const auto all = h.StatusEvents();
        outcome.events.assign(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        outcome.received = Received(h.Sandbox());
        return outcome;
    }

    PluginHarness h{LinkedTable()};
    talcore::utility::RefCountedPtr<Vekta::TikTokUploader> uploader;
    TempFolder folder;
    std::filesystem::path file = folder / "export.mp4";
};

}  // namespace vekta::test::faults
