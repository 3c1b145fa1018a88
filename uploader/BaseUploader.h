// The destination-independent half of every publish destination: the host's callbacks and record,
// the account tokens, the exported files, the job state, and the status notifications to the host.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PostProcessSDK.h"
#include "talcore/filesupport/File.h"
#include "talcore/utility/RefCounted.h"
#include "talnet/http/RequestProcessor.h"
#include "uploader/UploadTypes.h"

namespace Vekta {

// One exported file as a job took it over: its path, and the identity of the file that path named
// then, so that the job deletes that file and never another one put in its place.
struct JobFile {
    std::u16string path;
    std::optional<talcore::filesupport::FileIdentity> identity;
};

class BaseUploader : public talcore::utility::RefCountedObjectWithWeakPtr {
public:
    // Copies the record; either callback may be null.
    BaseUploader(const HostInstanceRecord& record, PostProcessStatusCallback statusCallback,
                 AccountStatusCallback accountCallback, DestinationIndex destination);

    // --- Virtual operations, in slot order after the destructor. ---
    // Whether the account holds a token: the refresh token when authorized by one, else the access token.
    virtual bool HasCredentials() const;
    // The account status line; `tooltip` receives its tooltip.
    virtual std::u16string GetStatusText(std::u16string& tooltip) const;
    virtual void SetPageID(const std::u16string& pageID);
    virtual bool IsLoginOffered() const;
    virtual void NotifyAccountChanged();
    virtual void NotifyAccountMessage(const std::u16string& message);
    virtual void OnAccountSelected();
    // [any-thread] Asks the running transfer to stop at its next chunk; neither waits nor notifies.
    // The request holds for the uploader's life, so an abort the host sends before the upload starts
    // (between rendering and Execute) is not lost.
    virtual void Abort();
    // [any-thread] The files of the next job; a running job keeps the copy it took when it started.
    virtual void SetOutputFiles(std::uint32_t count, const OutputFileEntry* entries);
    // Called after a job ended as Aborted or Failed.
    virtual void OnUploadEnded();

    // --- Operations for the host's callbacks and the publish run. ---
    UploadState GetState() const noexcept { return state_.load(std::memory_order_acquire); }
    // [any-thread] Armed or Idle. Ignored while a job runs: the state is how that job reports its
    // end, and the host's commands are about the next one.
    void SetArmed(bool armed);
    // [any-thread] The format flag of the next job; a running job keeps its copy.
    void SetFormatSupported(bool supported);
    bool IsFormatSupported() const;
    // Also mirrors the flag into DeleteRequestRegistry at this uploader's index.
    void SetDeleteLocalFile(bool deleteLocalFile);
    bool GetDeleteLocalFile() const noexcept { return deleteLocalFile_; }
    // [any-thread] The cover frame of the next job; a running job keeps its copy.
    void SetCoverTime(std::int64_t ticks);
    std::int64_t GetCoverTime() const;
    std::vector<std::u16string> GetOutputFiles() const;
    // Empties both tokens and the page id; tells the host when `notify`.
    void SignOut(bool notify);
    // [main-thread] When any destination is busy: aborts and waits until none is, at most 301
    // slices of 50 ms. `fromRelease` is informational.
    void StopAndWait(bool fromRelease);
    // For tests: StopAndWait's slice in place of the real 50 ms (the number of slices stays).
    void SetStopWaitSliceForTesting(std::chrono::milliseconds slice) { stopWaitSlice_ = slice; }
    bool AbortRequested() const noexcept { return abortRequested_.load(std::memory_order_acquire) != 0; }
    DestinationIndex GetDestinationIndex() const noexcept { return destination_; }
    const HostInstanceRecord& GetHostRecord() const noexcept { return hostRecord_; }

    // --- Operations for the destination's upload code. ---
    void Notify(float progress, UploadState state, ResultCode code, const std::u16string& text);
    void ReportProgress(float progress, ResultCode code, const std::u16string& text);
    void MarkAborted(const std::u16string& text);
    void Fail(ResultCode code, const std::u16string& text);
    void PostNotice(const std::u16string& text);
    void PostWarning(const std::u16string& text);
    void Complete();
    // After a successful transfer: deletes the job's files when asked and no other destination
    // needs them, each only while its path still names the file the job took; a file that cannot
    // be deleted, or that was put in the exported file's place, becomes a warning.
    void DeleteLocalFilesIfAllowed();

protected:
    ~BaseUploader() override;
    void SetState(UploadState state) noexcept { state_.store(state, std::memory_order_release); }
    void SetBusy(bool busy);

    // [job thread] A job starts: the state becomes Uploading and the busy flag is set; from now until
    // EndJob the host's arm and idle commands are ignored.
    void BeginJob();
    void EndJob();
    // [job thread] Copies what the host handed over for this job (the output files with the
    // identities their paths name now, the format flag, the cover time) into the job's own copy. `copyOwn` copies
    // the destination's own hand-overs under the same lock, so that all of them are of one moment.
    void TakeHandOver(const std::function<void()>& copyOwn);
    // [any-thread] Runs `access` under the hand-over lock; for the destination's own hand-overs.
    void UnderHandOverLock(const std::function<void()>& access) const;
    // The running job's copies; only the job's thread uses them.
    std::vector<JobFile>& JobFiles() noexcept { return jobFiles_; }
    bool JobFormatSupported() const noexcept { return jobFormatSupported_; }
    std::int64_t JobCoverTime() const noexcept { return jobCoverTime_; }

    std::int32_t requestTimeout_ = 60;             // seconds, for one request's gate
    std::int32_t idleLimitSeconds_ = 240;          // longest silence of a chunk request
    std::int32_t waitSliceSeconds_ = 15;           // one wait of the transfer loop
    std::chrono::milliseconds stopWaitSlice_{50};  // one wait of StopAndWait

private:
    PostProcessStatusCallback statusCallback_;
    AccountStatusCallback accountCallback_;
    HostInstanceRecord hostRecord_;
    // Read by the host from any thread while the publishing and network threads write it.
    std::atomic<UploadState> state_{UploadState::Idle};
    DestinationIndex destination_;
    // The host hands over the next export from any thread, also while a job runs.
    mutable std::mutex handOverMutex_;
    std::vector<std::u16string> outputFiles_;
    std::atomic<std::uint8_t> abortRequested_{0};
    // Whether a job runs; guarded by jobMutex_ together with the host's changes of the state.
    std::mutex jobMutex_;
    bool jobRunning_ = false;
    std::vector<JobFile> jobFiles_;
    bool jobFormatSupported_ = true;
    std::int64_t jobCoverTime_ = 0;

protected:
    bool authorizedByRefreshToken_ = false;
    // The tokens are written by response handlers and read by the host's threads; both go through
    // this lock.
    mutable std::mutex tokenMutex_;
    std::u16string refreshToken_;
    std::u16string accessToken_;

private:
    std::u16string pageID_;

protected:
    std::shared_ptr<talnet::http::RequestProcessor> requestProcessor_;

private:
    // Guarded by handOverMutex_: the settings set them on the host's main thread.
    bool formatSupported_ = true;
    std::int64_t coverTime_ = 0;  // ticks of 1/254016000000 s
    bool deleteLocalFile_ = false;
};

}  // namespace Vekta
