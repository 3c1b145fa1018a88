// Browser sign-in: the loopback listener, TikTok's authorization page in the system browser (reached
// through a single-use start address of the listener), the modal prompt, and the five-minute
// time-out.
#include <atomic>
#include <string>

#include "brimkit/IdleCountdownTimer.h"
#include "talcore/config/Localizer.h"
#include "talcore/crypto/ConstantTimeCompare.h"
#include "talcore/crypto/SecureRandom.h"
#include "talcore/threads/Executor.h"
#include "talcore/threads/MainThread.h"
#include "talcore/utility/OpenFileInDefaultApplication.h"
#include "talnet/http/HttpHelpers.h"
#include "talui/MessageBox.h"
#include "talworkspace/Workspace.h"
#include "tiktok/AuthServer.h"
#include "tiktok/LowerHex.h"
#include "tiktok/Pkce.h"
#include "tiktok/TikTokEndpoints.h"
#include "tiktok/TikTokUploader.h"

namespace Vekta {

std::string MakeRedirectUri(std::uint32_t port) {
    return TikTokEndpoints::LoopbackPrefix().UTF8() + std::to_string(port) + TikTokEndpoints::RedirectPath().UTF8();
}

namespace {

// The page the browser shows after the redirect; it moves on at once to the maker's home page.
const std::shared_ptr<const std::string>& LoginCompletePage() {
    static const auto page = std::make_shared<const std::string>(
        "<html><head>"
        "<title>Login Complete </title>"
        "<meta http-equiv = \"refresh\" content = \"0; URL=https://www.corvane.com/\"/>"
        "</head><body><p><h1>Login Complete!</h1></p><p><h2> Please return to your Corvane application.</h2></p>"
        "</body>"
        "</html>");
    return page;
}

// Receives TikTok's redirect: checks the state, hands the code to a worker and answers the browser.
class TikTokService final : public AuthService, public std::enable_shared_from_this<TikTokService> {
public:
    using CodeCallback = std::function<void(const std::string& code, const std::string& redirectURI)>;

    TikTokService(talcore::utility::Guid loginState, CodeCallback callback)
        : codeCallback_(std::move(callback)), state_(loginState), stateText_(loginState.AsUTF8String()) {}

    void Handle(const talnet::http::server::Request& request,
                std::shared_ptr<talnet::http::server::MutableResponse> response,
                talnet::http::server::ServiceCompletion completion) override {
        std::string receivedState;
        std::string code = "ERROR! Code not found!";
        const bool valid = request.GetQueryParameter("state", receivedState) &&
                           talcore::crypto::ConstantTimeEquals(receivedState, stateText_) &&
                           request.GetQueryParameter("code", code);
        // A state is good for one code: a reloaded or prefetched redirect must not start a second
        // exchange.
        if (valid && !delivered_.exchange(true)) {
            if (codeCallback_) {
                const std::string redirectURI = MakeRedirectUri(port_.load());
                // The queued call keeps this service alive until it has run.
                talcore::threads::CallAsync(
                    talcore::threads::GetCPUBoundExecutor(),
                    [self = shared_from_this(), code, redirectURI] { self->DeliverCode(code, redirectURI); }, 0);
            }
            response->SetStatus(200);
            response->SetHeader("Referrer-Policy", "no-referrer");
            response->SetHeader("Cache-Control", "no-store");
            response->SetPayload(LoginCompletePage(), "text/html; charset=utf-8");
        } else {
            response->SetStatus(404);
        }
        completion(response);
    }

    std::string GetPath() const override { return TikTokEndpoints::RedirectPath().UTF8(); }

    void DeliverCode(const std::string& code, const std::string& redirectURI) {
        if (codeCallback_) codeCallback_(code, redirectURI);
    }

    // The port the listener bound, for the redirect URI that the code exchange repeats.
    void SetPort(std::uint32_t boundPort) { port_.store(boundPort); }

private:
    CodeCallback codeCallback_;
    talcore::utility::Guid state_;
    std::string stateText_;
    std::atomic<std::uint32_t> port_{0};
    std::atomic<bool> delivered_{false};
};

// The address the browser is opened with: a path of the listener that answers its first GET with
// a redirect to TikTok's authorization page. The authorization address itself (state and code
// challenge) never stands on a command line, where every local user could read it and start a
// sign-in of their own with our challenge.
class TikTokStartService final : public AuthService {
public:
    TikTokStartService(std::string startPath, std::string authorizationAddress)
        : path_(std::move(startPath)), location_(std::move(authorizationAddress)) {}

    void Handle(const talnet::http::server::Request& request,
                std::shared_ptr<talnet::http::server::MutableResponse> response,
                talnet::http::server::ServiceCompletion completion) override {
        // Single use: after the first visit, a reload, a prefetch or a copy of the address gets nothing.
        if (request.GetMethod() == "GET" && !used_.exchange(true)) {
            response->SetStatus(302);
            response->SetHeader("Location", location_);
            response->SetHeader("Cache-Control", "no-store");
            response->SetHeader("Referrer-Policy", "no-referrer");
        } else {
            response->SetStatus(404);
        }
        completion(response);
    }

    std::string GetPath() const override { return path_; }

private:
    const std::string path_;
    const std::string location_;
    std::atomic<bool> used_{false};
};

// "/VektaAuthTikTok/start/" and 128 bits from the secure generator in hex.
std::string MakeStartPath() {
    std::uint8_t bytes[16];
    talcore::crypto::FillSecureRandom(bytes, sizeof bytes);
    return TikTokEndpoints::RedirectPath().UTF8() + "/start/" + LowerHex(bytes);
}

talcore::messaging::MessageID TimerExpiredMessageID() {
    static const auto id =
        talcore::messaging::HashMessageTypeNameToMessageID(Brim::MessageNameForIdleCountdownTimerMessage);
    return id;
}

}  // namespace

bool TikTokUploader::LoginBrowser(LoginCallback callback) {
    const talcore::utility::Guid oauthState = signIn_.Begin(std::move(callback));
    auto service = std::make_shared<TikTokService>(
        oauthState, [key = GetWeakKey()](const std::string& code, const std::string& redirectURI) {
            auto locked = talcore::utility::RefCountedObjectWithWeakPtr::Lock(key);
            if (auto* self = dynamic_cast<TikTokUploader*>(locked.Get())) self->FetchRefreshToken(code, redirectURI);
        });

    if (signIn_.StartListener(service) == 200) {
        const std::uint32_t port = signIn_.ListenerPort();
        service->SetPort(port);
        std::string challenge, method;
        MakeCodeChallenge(signIn_.NewCodeVerifier(), challenge, method);
        const std::string authorizationAddress = TikTokEndpoints::AuthorizationPage().UTF8() + "?" +
                                                 talnet::http::QuoteURL({{"client_key", TikTokEndpoints::ClientKey()},
                                                                         {"scope", TikTokEndpoints::Scopes()},
                                                                         {"response_type", "code"},
                                                                         {"redirect_uri", MakeRedirectUri(port)},
                                                                         {"state", oauthState.AsUTF8String()},
                                                                         {"code_challenge", challenge},
                                                                         {"code_challenge_method", method}});
        const std::string startPath = MakeStartPath();
        signIn_.AddService(
            std::make_shared<TikTokStartService>(startPath, talcore::utility::BrowserAddress(authorizationAddress)));
        const std::string startAddress = TikTokEndpoints::LoopbackPrefix().UTF8() + std::to_string(port) + startPath;

        const auto& localizer = talcore::config::Localizer::Get();
        const std::u16string cancel = localizer.Localize("$$$/Vekta/PostProcess/TikTok/LoginCancel=Cancel");
        const std::u16string message = localizer.Localize(
            "$$$/Vekta/PostProcess/TikTok/LoginMessage=Please use your web browser to log in to TikTok");
        const std::u16string title = localizer.Localize("$$$/Vekta/PostProcess/TikTok/LoginTitle=Log in");
        auto* mainWindow = talworkspace::workspace::WorkspaceUtils::FindMainTopLevelWindow();
        const talui::ui::WindowVariant parent(mainWindow ? mainWindow->GetNode() : nullptr);
        SignInAttempt::PromptPtr prompt(new talui::dialogs::UI_MessageBox(
            talui::ui::UI_NodeManager::Get(0).GetDefaultDrawSupplier(), title, message, parent, u"", cancel, u"", u"",
            2048, 2048, 0, 0u, 0.0f, 0.0f, {}, true, 5));
        signIn_.SetPrompt(prompt);

        talcore::utility::OpenFileInDefaultApplication(startAddress);
        StartLoginTimeout();
        if (talcore::threads::CurrentThreadIsMainThread()) prompt->RunModal();
        prompt.Reset();
        signIn_.ReleasePrompt();
        StopLoginTimeout();
        signIn_.ReleaseListener();
        if (auto* window = talworkspace::workspace::WorkspaceUtils::FindMainTopLevelWindow()) {
            if (auto* workspace = window->GetWorkspace()) workspace->BringAppToFront();
        }
    }
    NotifyAccountChanged();
    return true;
}

void TikTokUploader::StartLoginTimeout() { signIn_.StartTimeout(loginTimeoutMs_, *this, *this); }

void TikTokUploader::StopLoginTimeout() { signIn_.StopTimeout(*this); }

void TikTokUploader::ReleaseLoginListener() {
    StopLoginTimeout();
    signIn_.ReleaseListener();
}

void TikTokUploader::ReceiveMessage(const talcore::messaging::Message& message) {
    if (message.type == TimerExpiredMessageID()) ReleaseLoginListener();
}

}  // namespace Vekta
