#include "tiktok/SignInAttempt.h"

#include <utility>

#include "brimkit/IdleCountdownTimer.h"
#include "talui/MessageBox.h"
#include "tiktok/AuthServer.h"
#include "tiktok/Pkce.h"

namespace Vekta {

SignInAttempt::SignInAttempt() = default;

SignInAttempt::~SignInAttempt() = default;

talcore::utility::Guid SignInAttempt::Begin(LoginCallback callback) {
    std::lock_guard lock(mutex_);
    loginCallback_ = std::move(callback);
    oauthState_ = talcore::utility::Guid::CreateUnique();
    return oauthState_;
}

int SignInAttempt::StartListener(const std::shared_ptr<AuthService>& service) {
    std::shared_ptr<AuthServer> server;
    {
        std::lock_guard lock(mutex_);
        if (!authServer_) authServer_ = std::make_shared<AuthServer>(AuthServer::kBasePort, AuthServer::kPortAttempts);
        server = authServer_;
    }
    // Binding and starting threads: no lock held meanwhile.
    return server->StartService(service);
}

bool SignInAttempt::AddService(const std::shared_ptr<AuthService>& service) {
    std::shared_ptr<AuthServer> server;
    {
        std::lock_guard lock(mutex_);
        server = authServer_;
    }
    return server && server->AddService(service);
}

std::uint32_t SignInAttempt::ListenerPort() const {
    std::lock_guard lock(mutex_);
    return authServer_ ? authServer_->GetPort() : 0;
}

void SignInAttempt::ReleaseListener() {
    std::shared_ptr<AuthServer> server;
    {
        std::lock_guard lock(mutex_);
        server = std::move(authServer_);
    }
    server.reset();  // stops the server, outside the lock
}

std::string SignInAttempt::NewCodeVerifier() {
    std::string verifier = GetCodeVerifier();
    std::lock_guard lock(mutex_);
    codeVerifier_ = verifier;
    return verifier;
}

std::string SignInAttempt::CodeVerifier() const {
    std::lock_guard lock(mutex_);
    return codeVerifier_;
}

void SignInAttempt::ForgetCodeVerifier() {
    std::lock_guard lock(mutex_);
    codeVerifier_.clear();
}

SignInAttempt::LoginCallback SignInAttempt::Callback() const {
    std::lock_guard lock(mutex_);
    return loginCallback_;
}

void SignInAttempt::SetPrompt(PromptPtr prompt) {
    PromptPtr previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(loginPrompt_, std::move(prompt));
    }
}

void SignInAttempt::ReleasePrompt() { SetPrompt(PromptPtr()); }

void SignInAttempt::ClosePrompt() {
    // Held while closing, so a prompt released at this moment by the sign-in stays valid.
    PromptPtr prompt;
    {
        std::lock_guard lock(mutex_);
        prompt = loginPrompt_;
    }
    if (prompt) prompt->Close();
}

void SignInAttempt::StartTimeout(std::int64_t durationMs, const talcore::utility::RefCountedObjectWithWeakPtr& owner,
                                 talcore::messaging::CommonListener& listener) {
    StopTimeout(listener);
    auto timer = std::make_shared<Brim::IdleCountdownTimer>();
    talcore::messaging::AddWeakListener(timer->GetStationID(), owner, listener);
    timer->SetDuration(durationMs);
    timer->ArmTimer();
    std::lock_guard lock(mutex_);
    loginTimer_ = std::move(timer);
}

void SignInAttempt::StopTimeout(talcore::messaging::CommonListener& listener) {
    std::shared_ptr<Brim::IdleCountdownTimer> timer;
    {
        std::lock_guard lock(mutex_);
        timer = std::move(loginTimer_);
    }
    if (!timer) return;
    talcore::messaging::RemoveListener(timer->GetStationID(), listener);
}

}  // namespace Vekta
