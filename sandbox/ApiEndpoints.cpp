#include "sandbox/ApiEndpoints.h"

#include <array>
#include <string_view>

#include "sandbox/ChunkPlan.h"
#include "sandbox/UrlCodec.h"

namespace vekta::sandbox {
namespace {

struct UserField {
    std::string_view name;
    const char* scope;
};

constexpr std::array<UserField, 14> kUserFields{{
    {"open_id", "user.info.basic"},
    {"union_id", "user.info.basic"},
    {"avatar_url", "user.info.basic"},
    {"avatar_url_100", "user.info.basic"},
    {"avatar_large_url", "user.info.basic"},
    {"display_name", "user.info.basic"},
    {"bio_description", "user.info.profile"},
    {"profile_deep_link", "user.info.profile"},
    {"is_verified", "user.info.profile"},
    {"username", "user.info.profile"},
    {"follower_count", "user.info.stats"},
    {"following_count", "user.info.stats"},
    {"likes_count", "user.info.stats"},
    {"video_count", "user.info.stats"},
}};

constexpr std::size_t kMaxTitleUtf16Units = 2200;

// Nothing when the text is not valid UTF-8.
std::optional<std::size_t> Utf16Length(const std::string& text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t point = 0;
        if (lead < 0x80) {
            length = 1, point = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, point = lead & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + length > text.size()) return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            point = (point << 6) | (next & 0x3F);
        }
        static constexpr std::array<std::uint32_t, 5> kSmallest{0, 0, 0x80, 0x800, 0x10000};
        if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return std::nullopt;
        }
        units += point >= 0x10000 ? 2 : 1;
        i += length;
    }
    return units;
}

// Why post_info is refused, or empty when it is acceptable; `privacyMismatch` tells which code.
std::string CheckPostInfo(const nlohmann::json& postInfo, const std::vector<std::string>& privacyOptions,
                          bool& privacyMismatch) {
    if (!postInfo.is_object()) return "post_info must be an object";
    const auto privacy = postInfo.find("privacy_level");
    if (privacy == postInfo.end() || !privacy->is_string()) return "post_info.privacy_level is required";
    if (const auto title = postInfo.find("title"); title != postInfo.end()) {
        if (!title->is_string()) return "post_info.title must be a string";
        const auto units = Utf16Length(title->get<std::string>());
        if (!units) return "post_info.title must be valid UTF-8";
        if (*units > kMaxTitleUtf16Units) return "post_info.title must be at most 2200 characters";
    }
    for (const char* flag : {"disable_comment", "disable_duet", "disable_stitch", "brand_content_toggle",
                             "brand_organic_toggle", "is_aigc"}) {
        if (const auto value = postInfo.find(flag); value != postInfo.end() && !value->is_boolean()) {
            return std::string("post_info.") + flag + " must be a boolean";
        }
    }
    if (const auto cover = postInfo.find("video_cover_timestamp_ms"); cover != postInfo.end()) {
        if (!cover->is_number_unsigned() && !(cover->is_number_integer() && cover->get<std::int64_t>() >= 0)) {
            return "post_info.video_cover_timestamp_ms must be a non-negative integer";
        }
    }
    const auto& level = privacy->get_ref<const std::string&>();
    if (std::find(privacyOptions.begin(), privacyOptions.end(), level) == privacyOptions.end()) {
        privacyMismatch = true;
        return "post_info.privacy_level is not one of the creator's privacy_level_options";
    }
    return {};
}

}  // namespace

std::vector<std::string> PrivacyLevelOptions(const CreatorSettings& creator) {
    if (creator.privateAccount) return {"FOLLOWER_OF_CREATOR", "MUTUAL_FOLLOW_FRIENDS", "SELF_ONLY"};
    return {"PUBLIC_TO_EVERYONE", "MUTUAL_FOLLOW_FRIENDS", "SELF_ONLY"};
}

ApiEndpoints::ApiEndpoints(const LiveConfig& config, const AuthStore& auth, UploadStore& uploads,
                           const std::string& origin)
    : config_(config), auth_(auth), uploads_(uploads), origin_(origin) {}

std::optional<AccessGrant> ApiEndpoints::Authenticate(Exchange& ex, const char* requiredScope) {
    const auto header = ex.SingleHeader("Authorization");
    constexpr std::string_view kScheme = "Bearer ";
    std::optional<AccessGrant> grant;
    if (header && header->size() > kScheme.size() && header->compare(0, kScheme.size(), kScheme) == 0) {
        grant = auth_.CheckAccessToken(header->substr(kScheme.size()));
    }
    if (!grant) {
        ex.SendError(401, "access_token_invalid", "The access token is invalid or not found in the request.");
        return std::nullopt;
    }
    if (requiredScope && !grant->HasScope(requiredScope)) {
        ex.SendError(403, "scope_not_authorized",
                     std::string("The user did not authorize the scope required for this endpoint: ") + requiredScope);
        return std::nullopt;
    }
    return grant;
}

std::optional<nlohmann::json> ApiEndpoints::JsonBody(Exchange& ex, bool emptyIsObject) {
    if (MediaType(ex.request.get_header_value("Content-Type")) != "application/json") {
        ex.SendError(400, "invalid_params", "Content-Type must be application/json; charset=UTF-8");
        return std::nullopt;
    }
    if (ex.request.body.empty() && emptyIsObject) return nlohmann::json::object();
    auto body = nlohmann::json::parse(ex.request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        ex.SendError(400, "invalid_params", "The request body must be a JSON object");
        return std::nullopt;
    }
    for (const auto& item : body.items()) ex.record.jsonFieldNames.push_back(item.key());
    return body;
}

void ApiEndpoints::UserInfo(Exchange& ex) {
    const auto query = ParseUrlEncoded(QueryOf(ex.request.target));
    if (query) ex.record.queryParamNames = FieldNames(*query);
    const auto grant = Authenticate(ex, nullptr);
    if (!grant) return;
    const auto fieldsText = query ? SingleValue(*query, "fields") : std::nullopt;
    if (!fieldsText || fieldsText->empty()) return ex.SendError(400, "invalid_params", "fields is required");

    const CreatorSettings creator = config_.Snapshot().creator;
    const std::string avatar = origin_ + kAvatarPath;
    const nlohmann::json values = {
        {"open_id", grant->openId},
        {"union_id", auth_.UnionId()},
        {"avatar_url", avatar},
        {"avatar_url_100", avatar},
        {"avatar_large_url", avatar},
        {"display_name", creator.nickname},
        {"bio_description", "Local sandbox account"},
        {"profile_deep_link", "https://www.tiktok.com/@" + creator.username},
        {"is_verified", false},
        {"username", creator.username},
        {"follower_count", 1024},
        {"following_count", 64},
        {"likes_count", 4096},
        {"video_count", 12},
    };
    nlohmann::json user = nlohmann::json::object();
    std::size_t start = 0;
    while (start <= fieldsText->size()) {
        std::size_t end = fieldsText->find(',', start);
        if (end == std::string::npos) end = fieldsText->size();
        const std::string name = fieldsText->substr(start, end - start);
        const auto field = std::find_if(kUserFields.begin(), kUserFields.end(),
                                        [&](const UserField& known) { return known.name == name; });
        if (field == kUserFields.end()) {
            return ex.SendError(400, "invalid_params", "fields: unknown field " + name);
        }
        if (!grant->HasScope(field->scope)) {
            return ex.SendError(
                403, "scope_not_authorized",
                std::string("The user did not authorize the scope required for field ") + name + ": " + field->scope);
        }
        user[name] = values.at(name);
        start = end + 1;
    }
    ex.SendData({{"user", user}});
}

void ApiEndpoints::CreatorInfo(Exchange& ex) {
    if (!Authenticate(ex, "video.publish")) return;
    if (!JsonBody(ex, true)) return;
    const CreatorSettings creator = config_.Snapshot().creator;
    ex.SendData({
        {"creator_avatar_url", origin_ + kAvatarPath},
        {"creator_username", creator.username},
        {"creator_nickname", creator.nickname},
        {"privacy_level_options", PrivacyLevelOptions(creator)},
        {"comment_disabled", creator.commentDisabled},
        {"duet_disabled", creator.duetDisabled},
        {"stitch_disabled", creator.stitchDisabled},
        {"max_video_post_duration_sec", creator.maxVideoPostDurationSec},
    });
}

void ApiEndpoints::Init(Exchange& ex, InitKind kind) {
    if (!Authenticate(ex, kind == InitKind::DirectPost ? "video.publish" : "video.upload")) return;
    const auto body = JsonBody(ex, false);
    if (!body) return;
    const SandboxConfig config = config_.Snapshot();

    nlohmann::json postInfo;
    const auto post = body->find("post_info");
    if (kind == InitKind::Inbox) {
        if (post != body->end()) {
            return ex.SendError(400, "invalid_params", "post_info is not accepted for an inbox upload");
        }
    } else {
        if (post == body->end()) return ex.SendError(400, "invalid_params", "post_info is required");
        bool privacyMismatch = false;
        const std::string problem = CheckPostInfo(*post, PrivacyLevelOptions(config.creator), privacyMismatch);
        if (!problem.empty()) {
            return ex.SendError(400, privacyMismatch ? "privacy_level_option_mismatch" : "invalid_params", problem);
        }
        postInfo = *post;
    }

    const auto source = body->find("source_info");
    if (source == body->end() || !source->is_object()) {
        return ex.SendError(400, "invalid_params", "source_info is required");
    }
    const auto sourceKind = source->find("source");
    if (sourceKind == source->end() || *sourceKind != "FILE_UPLOAD") {
        return ex.SendError(400, "invalid_params", "source_info.source must be FILE_UPLOAD");
    }
    std::array<std::uint64_t, 3> numbers{};
    constexpr std::array<const char*, 3> kNumberFields{"video_size", "chunk_size", "total_chunk_count"};
    for (std::size_t i = 0; i < kNumberFields.size(); ++i) {
        const auto value = source->find(kNumberFields[i]);
        const auto parsed = value == source->end() ? std::nullopt : ParseSourceNumber(*value);
        if (!parsed) {
            return ex.SendError(400, "invalid_params",
                                std::string("source_info.") + kNumberFields[i] + " must be a non-negative integer");
        }
        numbers[i] = *parsed;
    }
    const auto plan = MakeChunkPlan(numbers[0], numbers[1], numbers[2]);
    if (const auto* problem = std::get_if<std::string>(&plan)) {
        return ex.SendError(400, "invalid_params", *problem);
    }
    if (config.maxPendingUploads > 0 && uploads_.PendingCount() >= static_cast<std::size_t>(config.maxPendingUploads)) {
        return ex.SendError(403, "spam_risk_too_many_pending_share",
                            "The user has too many pending shares; finish or wait for earlier uploads");
    }
    const auto session = uploads_.Create(kind, std::get<ChunkPlan>(plan), postInfo, *source, config.uploadUrlLifetime,
                                         config.dataDir, config.keepUploadBytesInMemory);
    const auto& identity = session->Identity();
    ex.SendData({
        {"publish_id", identity.publishId},
        {"upload_url",
         origin_ + kUploadPath + "?upload_id=" + identity.uploadId + "&upload_token=" + identity.uploadToken},
    });
}

}  // namespace vekta::sandbox
