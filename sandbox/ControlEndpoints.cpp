#include "sandbox/ControlEndpoints.h"

#include <array>
#include <optional>

#include "sandbox/ApiEndpoints.h"

namespace vekta::sandbox {
namespace {

using Json = nlohmann::json;

void Reply(httplib::Response& res, const Json& body, int status = 200) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

void Refuse(httplib::Response& res, const std::string& message) { Reply(res, {{"error", message}}, 400); }

std::optional<Json> ObjectBody(const httplib::Request& req, httplib::Response& res) {
    if (req.body.empty()) return Json::object();
    auto body = Json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        Refuse(res, "the body must be a JSON object");
        return std::nullopt;
    }
    return body;
}

// Reads an optional member of the expected JSON type; false (after answering 400) on a wrong type.
template <typename T>
bool ReadOptional(const Json& body, const char* name, T& into, httplib::Response& res) {
    const auto found = body.find(name);
    if (found == body.end()) return true;
    try {
        into = found->get<T>();
        return true;
    } catch (const Json::exception&) {
        Refuse(res, std::string(name) + " has the wrong type");
        return false;
    }
}

std::optional<Fault> FaultFromJson(const Json& body, httplib::Response& res) {
    Fault fault;
    std::string action = "respond";
    long long delayMs = 0;
    if (!ReadOptional(body, "action", action, res) || !ReadOptional(body, "status", fault.status, res) ||
        !ReadOptional(body, "body", fault.body, res) || !ReadOptional(body, "content_type", fault.contentType, res) ||
        !ReadOptional(body, "delay_ms", delayMs, res) || !ReadOptional(body, "count", fault.count, res)) {
        return std::nullopt;
    }
    const auto parsedAction = FaultActionFromString(action);
    if (!parsedAction) {
        Refuse(res, "action must be respond, delay, hang, drop, reset, truncate or rewrite");
        return std::nullopt;
    }
    if (fault.count < 1 || delayMs < 0 || fault.status < 100 || fault.status > 599) {
        Refuse(res, "count must be at least 1, delay_ms at least 0 and status a valid HTTP status");
        return std::nullopt;
    }
    fault.action = *parsedAction;
    fault.delay = std::chrono::milliseconds(delayMs);
    return fault;
}

}  // namespace

ControlEndpoints::ControlEndpoints(SandboxState& state) : state_(state) {}

void ControlEndpoints::Register(httplib::Server& server) {
    server.Get("/_sandbox/health", [this](const httplib::Request&, httplib::Response& res) {
        Reply(res, {{"status", "ok"}, {"origin", state_.origin}});
    });

    server.Post("/_sandbox/faults", [this](const httplib::Request& req, httplib::Response& res) {
        const auto body = ObjectBody(req, res);
        if (!body) return;
        std::string endpointName;
        if (!ReadOptional(*body, "endpoint", endpointName, res)) return;
        const auto endpoint = EndpointFromString(endpointName);
        if (!endpoint) {
            return Refuse(res,
                          "endpoint must be one of authorize, token, user_info, creator_info, video_init, "
                          "inbox_video_init, upload");
        }
        const auto fault = FaultFromJson(*body, res);
        if (!fault) return;
        state_.faults.Add(*endpoint, *fault);
        Reply(res, {{"queued", state_.faults.Queued(*endpoint)}});
    });
    server.Delete("/_sandbox/faults", [this](const httplib::Request&, httplib::Response& res) {
        state_.faults.Clear();
        Reply(res, Json::object());
    });
    server.Post("/_sandbox/faults/release", [this](const httplib::Request&, httplib::Response& res) {
        state_.faults.ReleaseHangs();
        Reply(res, Json::object());
    });
    server.Get("/_sandbox/faults/hanging", [this](const httplib::Request&, httplib::Response& res) {
        Reply(res, {{"hanging", state_.faults.Hanging()}});
    });

    server.Get("/_sandbox/uploads", [this](const httplib::Request&, httplib::Response& res) {
        Json uploads = Json::array();
        for (const auto& upload : state_.uploads.Snapshot()) uploads.push_back(ToJson(upload));
        Reply(res, {{"uploads", uploads}});
    });
    server.Get("/_sandbox/requests", [this](const httplib::Request&, httplib::Response& res) {
        Json requests = Json::array();
        for (const auto& record : state_.requests.Snapshot()) requests.push_back(ToJson(record));
        Reply(res, {{"requests", requests}});
    });
    server.Delete("/_sandbox/requests", [this](const httplib::Request&, httplib::Response& res) {
        state_.requests.Clear();
        Reply(res, Json::object());
    });

    server.Get("/_sandbox/creator", [this](const httplib::Request&, httplib::Response& res) {
        const CreatorSettings creator = state_.config.Snapshot().creator;
        Reply(res, {{"nickname", creator.nickname},
                    {"username", creator.username},
                    {"private_account", creator.privateAccount},
                    {"comment_disabled", creator.commentDisabled},
                    {"duet_disabled", creator.duetDisabled},
                    {"stitch_disabled", creator.stitchDisabled},
                    {"max_video_post_duration_sec", creator.maxVideoPostDurationSec},
                    {"privacy_level_options", PrivacyLevelOptions(creator)}});
    });
    server.Post("/_sandbox/creator", [this](const httplib::Request& req, httplib::Response& res) {
        const auto body = ObjectBody(req, res);
        if (!body) return;
        CreatorSettings creator = state_.config.Snapshot().creator;
        if (!ReadOptional(*body, "nickname", creator.nickname, res) ||
            !ReadOptional(*body, "username", creator.username, res) ||
            !ReadOptional(*body, "private_account", creator.privateAccount, res) ||
            !ReadOptional(*body, "comment_disabled", creator.commentDisabled, res) ||
            !ReadOptional(*body, "duet_disabled", creator.duetDisabled, res) ||
            !ReadOptional(*body, "stitch_disabled", creator.stitchDisabled, res) ||
            !ReadOptional(*body, "max_video_post_duration_sec", creator.maxVideoPostDurationSec, res)) {
            return;
        }
        state_.config.Update([&](SandboxConfig& config) { config.creator = creator; });
        Reply(res, {{"privacy_level_options", PrivacyLevelOptions(creator)}});
    });
    server.Post("/_sandbox/config", [this](const httplib::Request& req, httplib::Response& res) {
        const auto body = ObjectBody(req, res);
        if (!body) return;
        SandboxConfig config = state_.config.Snapshot();
        if (!ReadOptional(*body, "auto_approve", config.autoApprove, res) ||
            !ReadOptional(*body, "rotate_refresh_tokens", config.rotateRefreshTokens, res) ||
            !ReadOptional(*body, "refuse_rotated_refresh_tokens", config.refuseRotatedRefreshTokens, res) ||
            !ReadOptional(*body, "max_pending_uploads", config.maxPendingUploads, res)) {
            return;
        }
        state_.config.Update([&](SandboxConfig& live) {
            live.autoApprove = config.autoApprove;
            live.rotateRefreshTokens = config.rotateRefreshTokens;
            live.refuseRotatedRefreshTokens = config.refuseRotatedRefreshTokens;
            live.maxPendingUploads = config.maxPendingUploads;
        });
        Reply(res, {{"auto_approve", config.autoApprove},
                    {"rotate_refresh_tokens", config.rotateRefreshTokens},
                    {"refuse_rotated_refresh_tokens", config.refuseRotatedRefreshTokens},
                    {"max_pending_uploads", config.maxPendingUploads}});
    });

    server.Post("/_sandbox/tokens/expire-access", [this](const httplib::Request&, httplib::Response& res) {
        state_.auth.ExpireAccessTokens();
        Reply(res, Json::object());
    });
    server.Post("/_sandbox/tokens/revoke-refresh", [this](const httplib::Request&, httplib::Response& res) {
        state_.auth.RevokeRefreshTokens();
        Reply(res, Json::object());
    });
    server.Post("/_sandbox/codes/expire", [this](const httplib::Request&, httplib::Response& res) {
        state_.auth.ExpireAuthorizationCodes();
        Reply(res, Json::object());
    });
    server.Post("/_sandbox/clock", [this](const httplib::Request& req, httplib::Response& res) {
        const auto body = ObjectBody(req, res);
        if (!body) return;
        long long seconds = 0;
        if (!ReadOptional(*body, "advance_seconds", seconds, res)) return;
        if (seconds < 0) return Refuse(res, "advance_seconds must not be negative");
        state_.clock.Advance(std::chrono::seconds(seconds));
        Reply(res, Json::object());
    });

    server.Get(kAvatarPath, [](const httplib::Request&, httplib::Response& res) {
        // A 1x1 grey PNG, so a host that shows the creator's avatar has something to show offline.
        static constexpr std::array<unsigned char, 67> kPng{
            0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00,
            0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x3A, 0x7E, 0x9B, 0x55, 0x00,
            0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0x68, 0x00, 0x00, 0x00, 0x82, 0x00, 0x81,
            0x77, 0xCD, 0x72, 0xB6, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
        res.set_content(reinterpret_cast<const char*>(kPng.data()), kPng.size(), "image/png");
    });
}

}  // namespace vekta::sandbox
