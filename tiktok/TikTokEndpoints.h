// TikTok's addresses and this application's registration, made once when the module loads.
#pragma once

#include <string>

#include "talcore/string/ImmutableString.h"

namespace Vekta::TikTokEndpoints {

const talcore::utility::ImmutableString& AuthorizationPage();
const talcore::utility::ImmutableString& LoopbackPrefix();
const talcore::utility::ImmutableString& RedirectPath();
const talcore::utility::ImmutableString& TokenEndpoint();
const talcore::utility::ImmutableString& UserInfoEndpoint();
const talcore::utility::ImmutableString& CreatorInfoEndpoint();
const talcore::utility::ImmutableString& DirectPostInitEndpoint();
const talcore::utility::ImmutableString& InboxInitEndpoint();
const std::string& Scopes();
const std::string& ClientKey();
const std::string& ClientSecret();
const std::string& AuthorizationCodeGrant();
// TikTok's public page of video requirements.
const std::string& FormatRequirementsURL();

}  // namespace Vekta::TikTokEndpoints
