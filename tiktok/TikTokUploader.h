// The TikTok destination: sign-in, account information, settings hand-over and the upload of one
// export.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PostProcessSDK.h"
#include "talcore/filesupport/ByteStream.h"
#include "talcore/filesupport/File.h"
#include "talcore/messaging/Messaging.h"
#include "talcore/string/ImmutableString.h"
#include "talcore/threads/Gate.h"
#include "talcore/utility/Guid.h"
#include "talcore/utility/RefCounted.h"
#include "talnet/http/RequestProcessor.h"
#include "tiktok/PublishSettings.h"
#include "tiktok/SignInAttempt.h"
#include "tiktok/TikTokCreatorInfo.h"
#include "tiktok/UploadSession.h"
#include "uploader/BaseUploader.h"

namespace Vekta {

enum class TokenGrant { AuthorizationCode = 0, Refresh = 1 };

class TikTokUploader : public BaseUploader, public talcore::messaging::Listener {
public:
    using LoginCallback = SignInAttempt::LoginCallback;
    using CreatorInfoCallback = std::function<void(const TikTokCreatorInfo&)>;

    TikTokUploader(const HostInstanceRecord& record, PostProcessStatusCallback statusCallback,
                   AccountStatusCallback accountCallback);

    // --- Overrides of the base uploader. ---
    // "Signed in as <nickname>" or "Not logged in"; the tooltip stays empty.
    std::u16string GetStatusText(std::u16string& tooltip) const override;
    // Offered exactly while nobody is signed in.
    bool IsLoginOffered() const override;

    // --- Sign-in. ---
    // [main-thread] Runs the browser sign-in and its modal prompt; returns once the sign-in has
    // ended (finished, cancelled or timed out). Always true.
    bool LoginBrowser(LoginCallback callback);
    // [worker] Exchanges an authorization code for tokens; ends the prompt.
    void FetchRefreshToken(const std::string& code, const std::string& redirectURI);
    // [any-thread, blocking] A fresh access token from the refresh token; true when one came. One
    // refresh at a time: a caller that comes while one is in flight waits for it and shares its
    // result.
    bool RefreshAccessToken();
    void SetRefreshToken(const std::u16string& token);
    // [any-thread] A refresh token that TikTok rotated in and the settings have not been given yet:
    // true with it in `token`; it then counts as handed over.
    bool TakeRefreshTokenHandOver(std::u16string& token);

    // --- Account. ---
    // [blocking] Refreshes the access token and reads the creator's capabilities; calls `callback`
    // with them (unchanged after a failed query). False when no access token could be had.
    bool QueryCreatorInfo(CreatorInfoCallback callback);
    // [blocking] Reads the profile link.
    void RequestUserInfo();
    const TikTokCreatorInfo& GetCreatorInfo() const noexcept { return creatorInfo_; }
    // [main-thread] Back to the facts of no account (all false, 0, empty), for a sign-out and
    // before another account's first query: a private account's flag must not carry over.
    void ForgetCreatorInfo();
    const std::u16string& GetProfileDeepLink() const noexcept { return profileDeepLink_; }

    // --- Publishing. ---
    // [any-thread] The description of the next export; a running job keeps the copy it took.
    void SetVideoInfo(const ExportVideoInfo& info);
    ExportVideoInfo GetVideoInfo() const;
    void SetPublishSettings(std::string privacyLevel, std::string title, bool disableComment, bool disableDuet,
                            bool disableStitch);
    const PublishSettings& GetPublishSettings() const noexcept { return publishSettings_; }
    // [blocking] The whole upload of one export: checks, upload initialisation and transfer. False
    // for a refusal before the transfer (reported through the status callback as well). Works
    // from a copy of what the host handed over when it started, so the host may hand over the next
    // export meanwhile; whatever way it ends, the job has a final state and the busy flag is clear.
    bool Publish(bool directPost);

    // [main-thread] Messages of the login time-out.
    void ReceiveMessage(const talcore::messaging::Message& message) override;

    // For tests: time limits in place of the real ones (the defaults stay as they are).
    void SetIdleLimitSecondsForTesting(std::int32_t seconds) { idleLimitSeconds_ = seconds; }
    void SetWaitSliceSecondsForTesting(std::int32_t seconds) { waitSliceSeconds_ = seconds; }
    void SetRequestTimeoutForTesting(std::int32_t seconds) { requestTimeout_ = seconds; }
    void SetLoginTimeoutMillisecondsForTesting(std::int64_t ms) { loginTimeoutMs_ = ms; }
    // Callers waiting for the refresh in flight (to refresh, or for the access token to send).
    std::size_t RefreshWaitersForTesting() const {
        std::lock_guard lock(tokenMutex_);
        return refreshWaiters_;
    }
    // For tests: TikTok's answers from a processor of the test's own, in place of the host's.
    void SetRequestProcessorForTesting(std::shared_ptr<talnet::http::RequestProcessor> processor) {
        requestProcessor_ = std::move(processor);
    }
    // For tests: how the exported file is opened, in place of the platform's stream.
    using SourceOpener = UploadSession::SourceOpener;
    void SetSourceOpenerForTesting(SourceOpener opener) { sourceOpener_ = std::move(opener); }
    std::int32_t GetIdleLimitSeconds() const noexcept { return idleLimitSeconds_; }
    std::int32_t GetRequestTimeout() const noexcept { return requestTimeout_; }

protected:
    ~TikTokUploader() override;

private:
    using Gate = talcore::threads::Gate;
    using GatePtr = std::shared_ptr<Gate>;
    using ResponsePtr = std::shared_ptr<talnet::http::Response>;

    // Opens a request's gate when it goes out of scope, on every way out of a completion or of the
    // first step of a chain, exceptions included; a chain step that sent the next request keeps it
    // closed, since that request's completion has the gate now.
    class GateOpener {
    public:
        explicit GateOpener(GatePtr gate) noexcept : gate_(std::move(gate)) {}
        ~GateOpener() {
            if (gate_ && !keepClosed_) gate_->Open();
        }
        GateOpener(const GateOpener&) = delete;
        GateOpener& operator=(const GateOpener&) = delete;
        void KeepClosed(bool keep = true) noexcept { keepClosed_ = keep; }

    private:
        GatePtr gate_;
        bool keepClosed_ = false;
    };
    using Handler =
        std::function<void(TikTokUploader&, const talnet::http::RequestID&, const ResponsePtr&, GateOpener&)>;
    // What ends a job when a step of its request chain fails with an exception.
    using FailureAction = std::function<void(TikTokUploader&)>;
    using SessionPtr = std::shared_ptr<UploadSession>;

    // Request plumbing: a completion that finds the uploader by its weak key and runs `handler`
    // through RunGuarded; the gate opens when the handler is done, whatever way it ends.
    talnet::http::RequestCompletion MakeCompletion(const GatePtr& gate, const char* handlerName, Handler handler,
                                                   FailureAction onFailure = nullptr);
    // Runs `step` and catches everything it throws: the exception is traced under `name` and, when
    // `onFailure` is given, ends the job; the gate then opens even when the step meant to keep it
    // closed.
    void RunGuarded(const char* name, const talnet::http::RequestID& id, GateOpener& opener, FailureAction onFailure,
                    const std::function<void()>& step) noexcept;
    // Waits for `gate`; on time-out cancels `id` and waits until its completion has run.
    void AwaitResponse(const GatePtr& gate, const talnet::http::RequestID& id, const char* timeoutTrace = nullptr);
    void PostForm(const std::string& url, const std::vector<std::pair<std::string, std::string>>& form,
                  TokenGrant grant);
    // Waits for a refresh in flight, whose answer brings the access token to send.
    talnet::http::HeaderMap AuthorizationHeaders();
    // Ends the refresh in flight and wakes its waiters; whether it brought an access token.
    bool FinishRefresh();
    // Every request to TikTok: the processor's defaults, with the answer held to what TikTok's
    // answers can take, so a runaway answer cannot take the host's memory.
    static const talnet::http::RequestOptions& BoundedRequestOptions();

    // Response handlers; the completion opens the gate once they are done.
    void HandleTokenResponse(TokenGrant grant, const talnet::http::RequestID& id, const ResponsePtr& response);
    void HandleQueryCreatorInfoResponse(const talnet::http::RequestID& id, const ResponsePtr& response);
    void HandleUserInfoResponse(const talnet::http::RequestID& id, const ResponsePtr& response);
    void HandleUploadInitializationResponse(UploadSession& session, const talnet::http::RequestID& id,
                                            const ResponsePtr& response);

    // Sign-in.
    void StartLoginTimeout();
    void StopLoginTimeout();
    void ReleaseLoginListener();

    // Upload.
    bool PublishJob(bool directPost);
    // Whatever way Publish leaves: an exception that escaped it ends the job.
    void EndJobAfterError();
    bool InitializeUpload(std::uint64_t fileSize, bool directPost, std::u16string& message);
    bool UploadFile();
    // Opens the exported file once for the whole job; false when it cannot be opened.
    bool OpenSourceStream();
    void ReleaseSource();
    // One step of the chunk chain: sends the next chunk, or ends the chain. True when a chunk is on
    // its way; its answer then takes the next step.
    bool SendNextChunk(const SessionPtr& session, bool first, const GatePtr& gate, const ResponsePtr& lastResponse);
    void HandleChunkResponse(const SessionPtr& session, const GatePtr& gate, const talnet::http::RequestID& id,
                             const ResponsePtr& response, GateOpener& opener);
    // The chain's failure action: a chunk that could not be made or sent ends the job (code 19).
    void FailChunkChain(UploadSession& session);
    // Ends the job (code 21) when the file no longer yields the bytes announced for it.
    void FailUnreadableSource(UploadSession& session);
    double NowSeconds() const;

    TikTokCreatorInfo creatorInfo_;
    CreatorInfoCallback creatorInfoCallback_;
    std::u16string profileDeepLink_;
    ExportVideoInfo videoInfo_{};     // as handed over; guarded by the base's hand-over lock
    ExportVideoInfo jobVideoInfo_{};  // the running job's copy
    PublishSettings publishSettings_;

    // The running job's upload; only the publishing thread replaces it. The chain's completions
    // hold the session they belong to.
    std::shared_ptr<UploadSession> session_;
    SourceOpener sourceOpener_;

    SignInAttempt signIn_;
    std::int64_t loginTimeoutMs_ = 300000;

    // Guarded by tokenMutex_: the refresh token last given to the settings (at the end of a sign-in
    // or after a rotation), and whether a rotated one still waits to be given.
    std::u16string handedOverRefreshToken_;
    bool refreshTokenHandOverPending_ = false;
    // The refresh in flight, guarded by tokenMutex_: the token it sent, and a round counter that
    // its waiters watch.
    bool refreshInFlight_ = false;
    std::u16string refreshingToken_;
    std::uint64_t refreshRound_ = 0;
    bool lastRefreshSucceeded_ = false;
    std::size_t refreshWaiters_ = 0;
    std::condition_variable refreshFinished_;
};

}  // namespace Vekta
