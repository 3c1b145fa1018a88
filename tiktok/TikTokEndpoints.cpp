#include "tiktok/TikTokEndpoints.h"

namespace Vekta::TikTokEndpoints {
namespace {

using talcore::utility::ImmutableString;

// TikTok's two hosts: the web host serves the authorization page, the open API host the rest.
constexpr const char* kWebOrigin = "https://www.tiktok.com";
constexpr const char* kApiOrigin = "https://open.tiktokapis.com";

const ImmutableString kAuthorizationPage = ImmutableString::Intern(std::string(kWebOrigin) + "/v2/auth/authorize/");
const ImmutableString kLoopbackPrefix = ImmutableString::Intern("http://127.0.0.1:");
const ImmutableString kRedirectPath = ImmutableString::Intern("/VektaAuthTikTok");
const std::string kScopes = "user.info.basic,user.info.profile,video.list,video.publish,video.upload";
const std::string kClientKey = "mqv27xk0pd4rh8sz";
const std::string kClientSecret = "3f6c0a9e5b17d4820c9ea3716bd05f4a";
const std::string kAuthorizationCodeGrant = "authorization_code";
const ImmutableString kTokenEndpoint = ImmutableString::Intern(std::string(kApiOrigin) + "/v2/oauth/token/");
const ImmutableString kUserInfoEndpoint = ImmutableString::Intern(std::string(kApiOrigin) + "/v2/user/info/");
const ImmutableString kCreatorInfoEndpoint =
    ImmutableString::Intern(std::string(kApiOrigin) + "/v2/post/publish/creator_info/query/");
const ImmutableString kDirectPostInitEndpoint =
    ImmutableString::Intern(std::string(kApiOrigin) + "/v2/post/publish/video/init/");
const ImmutableString kInboxInitEndpoint =
    ImmutableString::Intern(std::string(kApiOrigin) + "/v2/post/publish/inbox/video/init/");
const std::string kFormatRequirementsURL = "https://support.tiktok.com/en/using-tiktok/creating-videos";

}  // namespace

const ImmutableString& AuthorizationPage() { return kAuthorizationPage; }
const ImmutableString& LoopbackPrefix() { return kLoopbackPrefix; }
const ImmutableString& RedirectPath() { return kRedirectPath; }
const ImmutableString& TokenEndpoint() { return kTokenEndpoint; }
const ImmutableString& UserInfoEndpoint() { return kUserInfoEndpoint; }
const ImmutableString& CreatorInfoEndpoint() { return kCreatorInfoEndpoint; }
const ImmutableString& DirectPostInitEndpoint() { return kDirectPostInitEndpoint; }
const ImmutableString& InboxInitEndpoint() { return kInboxInitEndpoint; }
const std::string& Scopes() { return kScopes; }
const std::string& ClientKey() { return kClientKey; }
const std::string& ClientSecret() { return kClientSecret; }
const std::string& AuthorizationCodeGrant() { return kAuthorizationCodeGrant; }
const std::string& FormatRequirementsURL() { return kFormatRequirementsURL; }

}  // namespace Vekta::TikTokEndpoints
