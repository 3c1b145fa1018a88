// Tokens: the code exchange at the end of a sign-in, the refresh before every account query and
// upload, and the hand-over of the refresh token to the settings.
#include "talcore/serialization/JSON.h"
#include "talcore/string/Unicode.h"
#include "talnet/http/HttpHelpers.h"
#include "tiktok/TikTokEndpoints.h"
#include "tiktok/TikTokTrace.h"
#include "tiktok/TikTokUploader.h"

namespace Vekta {

using talnet::http::RequestID;
namespace json = talcore::serialization;

void TikTokUploader::FetchRefreshToken(const std::string& code, const std::string& redirectURI) {
    const std::string verifier = signIn_.CodeVerifier();
    PostForm(TikTokEndpoints::TokenEndpoint().UTF8(),
             {{"client_key", TikTokEndpoints::ClientKey()},
              {"client_secret", TikTokEndpoints::ClientSecret()},
              {"code", code},
              {"grant_type", TikTokEndpoints::AuthorizationCodeGrant()},
              {"redirect_uri", redirectURI},
              {"code_verifier", verifier}},
             TokenGrant::AuthorizationCode);

    std::u16string refresh;
    bool bothTokens = false;
    {
        std::lock_guard lock(tokenMutex_);
        refresh = refreshToken_;
        bothTokens = !refreshToken_.empty() && !accessToken_.empty();
    }
    // The caller's completion, the host and the prompt are called with no lock held: each may come
    // back into the uploader.
    const LoginCallback callback = signIn_.Callback();
    if (bothTokens && callback) {
        {
            std::lock_guard lock(tokenMutex_);
            handedOverRefreshToken_ = refresh;
        }
        callback(HasCredentials(), refresh);
    }
    NotifyAccountChanged();
    signIn_.ClosePrompt();
}

bool TikTokUploader::RefreshAccessToken() {
    std::string refresh;
    {
        std::unique_lock lock(tokenMutex_);
        if (refreshInFlight_) {
            // A second refresh with the same token would be refused once the first has rotated
            // it, and would sign the user out: the one in flight answers for both.
            const std::uint64_t round = refreshRound_;
            ++refreshWaiters_;
            refreshFinished_.wait(lock, [&] { return refreshRound_ != round; });
            --refreshWaiters_;
            return lastRefreshSucceeded_;
        }
        accessToken_.clear();
        if (refreshToken_.empty()) return false;
        refreshInFlight_ = true;
        refreshingToken_ = refreshToken_;
        refresh = talcore::string::UTF16to8(refreshToken_);
    }
    try {
        PostForm(TikTokEndpoints::TokenEndpoint().UTF8(),
                 {{"client_key", TikTokEndpoints::ClientKey()},
                  {"client_secret", TikTokEndpoints::ClientSecret()},
                  {"grant_type", "refresh_token"},
                  {"refresh_token", refresh}},
                 TokenGrant::Refresh);
    } catch (...) {
        FinishRefresh();
        throw;
    }
    return FinishRefresh();
}

bool TikTokUploader::FinishRefresh() {
    bool succeeded = false;
    {
        std::lock_guard lock(tokenMutex_);
        refreshInFlight_ = false;
        refreshingToken_.clear();
        ++refreshRound_;
        succeeded = lastRefreshSucceeded_ = !accessToken_.empty();
    }
    refreshFinished_.notify_all();
    return succeeded;
}

void TikTokUploader::SetRefreshToken(const std::u16string& token) {
    std::lock_guard lock(tokenMutex_);
    // The settings give back the token that this uploader handed them at the end of its own
    // sign-in or after a rotation. It holds that token already, or its rotated successor; the
    // retired one would sign the user out at the next refresh.
    if (!refreshToken_.empty() && token == handedOverRefreshToken_) return;
    refreshToken_ = token;
    refreshTokenHandOverPending_ = false;
}

bool TikTokUploader::TakeRefreshTokenHandOver(std::u16string& token) {
    std::lock_guard lock(tokenMutex_);
    if (!refreshTokenHandOverPending_) return false;
    refreshTokenHandOverPending_ = false;
    // Signed out since: nothing to keep.
    if (refreshToken_.empty()) return false;
    token = refreshToken_;
    handedOverRefreshToken_ = refreshToken_;
    return true;
}

void TikTokUploader::HandleTokenResponse(TokenGrant grant, const RequestID& id, const ResponsePtr& response) {
    try {
        if (!response || response->status != 200) return;
        const std::string body = talnet::http::HandleBody(id, response);
        // TikTok answers token errors with status 200 and an "error" member.
        if (body.find("error") != std::string::npos) {
            {
                std::lock_guard lock(tokenMutex_);
                accessToken_.clear();
                refreshToken_.clear();
                refreshTokenHandOverPending_ = false;
            }
            NotifyAccountChanged();
            return;
        }
        const json::JSONNode root = json::JSONParse(body);
        if (grant == TokenGrant::AuthorizationCode) {
            std::u16string access = talnet::http::GetItemFor(root, "access_token");
            std::u16string refresh = talnet::http::GetItemFor(root, "refresh_token");
            {
                std::lock_guard lock(tokenMutex_);
                accessToken_ = std::move(access);
                refreshToken_ = std::move(refresh);
                refreshTokenHandOverPending_ = false;
            }
            signIn_.ForgetCodeVerifier();
        } else {
            std::u16string access = talnet::http::GetItemFor(root, "access_token");
            // TikTok may rotate refresh tokens; the newest one is the one that stays valid.
            std::u16string rotated;
            const auto refreshNode = json::GetVariantInObject(root, "refresh_token");
            if (!json::IsNull(refreshNode) && refreshNode->type() == typeid(std::string)) {
                rotated = talcore::string::UTF8to16(std::any_cast<const std::string&>(*refreshNode));
            }
            std::lock_guard lock(tokenMutex_);
            // The answer belongs to the token that was sent: a sign-out or another account given
            // meanwhile is not undone by it.
            if (refreshToken_ == refreshingToken_) {
                accessToken_ = std::move(access);
                if (!rotated.empty() && rotated != refreshToken_) {
                    refreshToken_ = std::move(rotated);
                    // The host must keep this one now: the one it holds is retired.
                    refreshTokenHandOverPending_ = true;
                }
            }
        }
    } catch (const std::exception& e) {
        TraceHandlerError("HandleTokenResponse", id, e);
    }
}

}  // namespace Vekta
