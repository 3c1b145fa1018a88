// What the signed-in creator may do, the profile link, and the account status line.
#include "talcore/config/Localizer.h"
#include "talcore/serialization/JSON.h"
#include "talcore/string/Unicode.h"
#include "talnet/Headers.h"
#include "talnet/http/HttpHelpers.h"
#include "tiktok/TikTokEndpoints.h"
#include "tiktok/TikTokTrace.h"
#include "tiktok/TikTokUploader.h"
#include "uploader/LocalizeWithArgument.h"

namespace Vekta {

using talcore::utility::ImmutableString;
using talnet::http::RequestID;
namespace json = talcore::serialization;

namespace {

// A boolean, a non-zero integer, or the strings "true" and "false"; anything else is a bad cast.
bool TruthValue(const json::JSONNode& node) {
    const std::any& value = *node;
    if (value.type() == typeid(bool)) return std::any_cast<bool>(value);
    if (value.type() == typeid(std::int64_t)) return std::any_cast<std::int64_t>(value) != 0;
    if (value.type() == typeid(std::uint64_t)) return std::any_cast<std::uint64_t>(value) != 0;
    const auto& text = std::any_cast<const std::string&>(value);
    if (text == "true") return true;
    if (text == "false") return false;
    throw std::bad_any_cast();
}

std::int32_t LowBits32(const json::JSONNode& node) {
    const std::any& value = *node;
    if (value.type() == typeid(std::int64_t)) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(std::any_cast<std::int64_t>(value)));
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(std::any_cast<std::uint64_t>(value)));
}

// The "data" object of a 200 answer; a null node for any other status or when it is missing.
json::JSONNode AnswerData(const RequestID& id, const std::shared_ptr<talnet::http::Response>& response) {
    const std::string body = talnet::http::HandleBody(id, response);
    if (response->status != 200) return {};
    return json::GetVariantInObject(json::JSONParse(body), "data");
}

}  // namespace

bool TikTokUploader::QueryCreatorInfo(CreatorInfoCallback callback) {
    if (!RefreshAccessToken()) return false;
    creatorInfoCallback_ = std::move(callback);

    talnet::http::HeaderMap headers = AuthorizationHeaders();
    headers.emplace(ImmutableString::Intern(talnet::kHEADER_CONTENT_TYPE),
                    ImmutableString::Intern(talnet::kHEADER_CONTENT_TYPE_APPLICATION_JSON_UTF_8));
    auto gate = std::make_shared<Gate>();
    auto completion = MakeCompletion(gate, "HandleQueryCreatorInfoResponse",
                                     [](TikTokUploader& self, const RequestID& id, const ResponsePtr& r, GateOpener&) {
                                         self.HandleQueryCreatorInfoResponse(id, r);
                                     });
    const RequestID id = RequestID::CreateUnique();
    if (requestProcessor_->Post(id, std::move(completion), TikTokEndpoints::CreatorInfoEndpoint(), nullptr, headers,
                                BoundedRequestOptions())) {
        AwaitResponse(gate, id);
    }
    if (creatorInfoCallback_) creatorInfoCallback_(creatorInfo_);
    return true;
}

void TikTokUploader::ForgetCreatorInfo() { creatorInfo_ = TikTokCreatorInfo{}; }

void TikTokUploader::HandleQueryCreatorInfoResponse(const RequestID& id, const ResponsePtr& response) {
    try {
        const auto data = AnswerData(id, response);
        if (json::IsNull(data)) return;
        const auto options = json::GetVariantInObject(data, "privacy_level_options");
        if (!json::IsNull(options) && options->type() == typeid(json::JSONArray)) {
            for (const auto& option : std::any_cast<const json::JSONArray&>(*options)) {
                if (!option) throw std::bad_any_cast();
                const auto level = talcore::string::UTF8to16(std::any_cast<const std::string&>(*option));
                if (level == u"FOLLOWER_OF_CREATOR") {
                    creatorInfo_.privateAccount = true;
                    break;
                }
            }
        }
        const struct {
            const char* key;
            bool TikTokCreatorInfo::*field;
        } flags[] = {{"comment_disabled", &TikTokCreatorInfo::commentDisabled},
                     {"duet_disabled", &TikTokCreatorInfo::duetDisabled},
                     {"stitch_disabled", &TikTokCreatorInfo::stitchDisabled}};
        for (const auto& flag : flags) {
            const auto node = json::GetVariantInObject(data, flag.key);
            if (!json::IsNull(node)) creatorInfo_.*flag.field = TruthValue(node);
        }
        if (const auto node = json::GetVariantInObject(data, "max_video_post_duration_sec"); !json::IsNull(node)) {
            creatorInfo_.maxVideoPostDurationSec = LowBits32(node);
        }
        if (const auto node = json::GetVariantInObject(data, "creator_nickname"); !json::IsNull(node)) {
            creatorInfo_.creatorNickname = talcore::string::UTF8to16(std::any_cast<const std::string&>(*node));
        }
    } catch (const std::exception& e) {
        TraceHandlerError("HandleQueryCreatorInfoResponse", id, e);
    }
}

void TikTokUploader::RequestUserInfo() {
    const std::string url =
        TikTokEndpoints::UserInfoEndpoint().UTF8() + "?" + talnet::http::QuoteURL({{"fields", "profile_deep_link"}});
    auto gate = std::make_shared<Gate>();
    auto completion = MakeCompletion(gate, "HandleUserInfoResponse",
                                     [](TikTokUploader& self, const RequestID& id, const ResponsePtr& r, GateOpener&) {
                                         self.HandleUserInfoResponse(id, r);
                                     });
    const RequestID id = RequestID::CreateUnique();
    if (!requestProcessor_->Get(id, std::move(completion), ImmutableString(url), AuthorizationHeaders(),
                                BoundedRequestOptions())) {
        return;
    }
    AwaitResponse(gate, id, "RequestUserInfo timeout: ");
}

void TikTokUploader::HandleUserInfoResponse(const RequestID& id, const ResponsePtr& response) {
    try {
        const auto data = AnswerData(id, response);
        if (!json::IsNull(data)) {
            const auto user = json::GetVariantInObject(data, "user");
            if (!json::IsNull(user)) {
                const auto link = json::GetVariantInObject(user, "profile_deep_link");
                if (!json::IsNull(link)) {
                    profileDeepLink_ = talcore::string::UTF8to16(std::any_cast<const std::string&>(*link));
                }
            }
        }
    } catch (const std::exception& e) {
        TraceHandlerError("HandleUserInfoResponse", id, e);
    }
}

std::u16string TikTokUploader::GetStatusText(std::u16string& tooltip) const {
    tooltip.clear();
    if (HasCredentials()) {
        return LocalizeWithArgument("$$$/Vekta/TikTokUploader/StatusText/SignedInAs=Signed in as @0",
                                    creatorInfo_.creatorNickname);
    }
    return talcore::config::Localizer::Get().Localize(
        "$$$/Vekta/TikTokUploader/StatusText/NotAuthorized=Not logged in");
}

}  // namespace Vekta
