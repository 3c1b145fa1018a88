// The browser sign-in in progress: its OAuth state and PKCE verifier, the loopback listener, the
// modal prompt, the time-out, and the caller's completion.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "talcore/messaging/Messaging.h"
#include "talcore/utility/Guid.h"
#include "talcore/utility/RefCounted.h"

namespace Brim {
class IdleCountdownTimer;
}
namespace talui::dialogs {
class UI_MessageBox;
}

namespace Vekta {

class AuthServer;
class AuthService;

class SignInAttempt {
public:
    using LoginCallback = std::function<void(bool authorized, const std::u16string& refreshToken)>;
    using PromptPtr = talcore::utility::RefCountedPtr<talui::dialogs::UI_MessageBox>;

    SignInAttempt();
    ~SignInAttempt();
    SignInAttempt(const SignInAttempt&) = delete;
    SignInAttempt& operator=(const SignInAttempt&) = delete;

    // [main-thread] A new attempt: its completion and a fresh OAuth state, which it returns.
    talcore::utility::Guid Begin(LoginCallback callback);
    // [main-thread] Starts the listener with `service`; a listener kept from an attempt that found
    // no free port tries the ports again. 200 when listening, -3 when no port could be bound.
    int StartListener(const std::shared_ptr<AuthService>& service);
    bool AddService(const std::shared_ptr<AuthService>& service);
    std::uint32_t ListenerPort() const;
    // [main-thread] Stops the listener; a redirect that comes later reaches nobody.
    void ReleaseListener();

    // A new PKCE verifier for this attempt.
    std::string NewCodeVerifier();
    // [any-thread] The verifier the code exchange sends; emptied once the exchange has used it.
    std::string CodeVerifier() const;
    void ForgetCodeVerifier();
    // [any-thread] The completion of the attempt; called by the code exchange, outside this lock.
    LoginCallback Callback() const;

    // [main-thread] The prompt of this attempt, shown until ReleasePrompt.
    void SetPrompt(PromptPtr prompt);
    void ReleasePrompt();
    // [any-thread] Ends the prompt's modal run, when one is held.
    void ClosePrompt();

    // [main-thread] The time-out: after `durationMs` the timer's message reaches `listener`, which
    // `owner` owns.
    void StartTimeout(std::int64_t durationMs, const talcore::utility::RefCountedObjectWithWeakPtr& owner,
                      talcore::messaging::CommonListener& listener);
    void StopTimeout(talcore::messaging::CommonListener& listener);

private:
    // Guards everything below: the code exchange reads it on a worker while the sign-in runs.
    mutable std::mutex mutex_;
    talcore::utility::Guid oauthState_;
    std::string codeVerifier_;
    std::shared_ptr<AuthServer> authServer_;
    PromptPtr loginPrompt_;
    std::shared_ptr<Brim::IdleCountdownTimer> loginTimer_;
    LoginCallback loginCallback_;
};

}  // namespace Vekta
