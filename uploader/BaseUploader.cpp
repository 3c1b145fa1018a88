#include "uploader/BaseUploader.h"

#include <chrono>
#include <cstring>

#include "talcore/debug/Trace.h"
#include "talcore/string/Unicode.h"
#include "talcore/threads/Gate.h"
#include "uploader/UploadRegistries.h"

namespace Vekta {
namespace {

constexpr const char* kTraceCategory = "PostProcessBaseUploader";

}  // namespace

BaseUploader::BaseUploader(const HostInstanceRecord& record, PostProcessStatusCallback statusCallback,
                           AccountStatusCallback accountCallback, DestinationIndex destination)
    : statusCallback_(statusCallback),
      accountCallback_(accountCallback),
      destination_(destination),
      requestProcessor_(talnet::http::GetGlobalRequestProcessor()) {
    std::memcpy(&hostRecord_, &record, sizeof hostRecord_);
}

BaseUploader::~BaseUploader() = default;

bool BaseUploader::HasCredentials() const {
    std::lock_guard lock(tokenMutex_);
    return authorizedByRefreshToken_ ? !refreshToken_.empty() : !accessToken_.empty();
}

std::u16string BaseUploader::GetStatusText(std::u16string& tooltip) const {
    tooltip.clear();
    return {};
}

void BaseUploader::SetPageID(const std::u16string& pageID) {
    pageID_ = pageID;
    talcore::debug::Trace(kTraceCategory, 8, "Page ID " + talcore::string::UTF16to8(pageID_));
}

bool BaseUploader::IsLoginOffered() const { return true; }

void BaseUploader::NotifyAccountChanged() {
    if (!accountCallback_) return;
    try {
        accountCallback_(&hostRecord_, HasCredentials() ? 1 : 0, kAccountStatusChanged, nullptr);
    } catch (...) {
        talcore::debug::Trace(kTraceCategory, 1,
                              "Account callback caused exception on PostProcessID: " + std::to_string(destination_));
    }
}

void BaseUploader::NotifyAccountMessage(const std::u16string& message) {
    if (!accountCallback_) return;
    try {
        accountCallback_(&hostRecord_, HasCredentials() ? 1 : 0, kAccountStatusMessage, message.c_str());
    } catch (...) {
        talcore::debug::Trace(kTraceCategory, 1,
                              "Account callback caused exception on PostProcessID: " + std::to_string(destination_));
    }
}

void BaseUploader::OnAccountSelected() {}

void BaseUploader::Abort() { abortRequested_.exchange(1, std::memory_order_acq_rel); }

void BaseUploader::SetOutputFiles(std::uint32_t count, const OutputFileEntry* entries) {
    std::vector<std::u16string> files;
    for (std::uint32_t i = 0; entries && i < count; ++i) {
        // The entries are packed: copy the pointer out instead of reading it in place.
        const VektaUTF16Char* path = nullptr;
        std::memcpy(&path,
                    reinterpret_cast<const std::uint8_t*>(entries) + i * sizeof(OutputFileEntry) +
                        offsetof(OutputFileEntry, path),
                    sizeof path);
        files.emplace_back(path ? std::u16string(path) : std::u16string());
    }
    std::lock_guard lock(handOverMutex_);
    outputFiles_ = std::move(files);
}

std::vector<std::u16string> BaseUploader::GetOutputFiles() const {
    std::lock_guard lock(handOverMutex_);
    return outputFiles_;
}

void BaseUploader::SetFormatSupported(bool supported) {
    std::lock_guard lock(handOverMutex_);
    formatSupported_ = supported;
}

bool BaseUploader::IsFormatSupported() const {
    std::lock_guard lock(handOverMutex_);
    return formatSupported_;
}

void BaseUploader::SetCoverTime(std::int64_t ticks) {
    std::lock_guard lock(handOverMutex_);
    coverTime_ = ticks;
}

std::int64_t BaseUploader::GetCoverTime() const {
    std::lock_guard lock(handOverMutex_);
    return coverTime_;
}

void BaseUploader::UnderHandOverLock(const std::function<void()>& access) const {
    std::lock_guard lock(handOverMutex_);
    access();
}

void BaseUploader::TakeHandOver(const std::function<void()>& copyOwn) {
    std::vector<std::u16string> paths;
    {
        std::lock_guard lock(handOverMutex_);
        paths = outputFiles_;
        jobFormatSupported_ = formatSupported_;
        jobCoverTime_ = coverTime_;
        if (copyOwn) copyOwn();
    }
    jobFiles_.clear();
    for (auto& path : paths) {
        auto identity = talcore::filesupport::File(path, 0).Identity();
        jobFiles_.push_back({std::move(path), identity});
    }
}

void BaseUploader::BeginJob() {
    std::lock_guard lock(jobMutex_);
    jobRunning_ = true;
    SetState(UploadState::Uploading);
    SetBusy(true);
}

void BaseUploader::EndJob() {
    std::lock_guard lock(jobMutex_);
    jobRunning_ = false;
}

void BaseUploader::OnUploadEnded() {}

void BaseUploader::SetArmed(bool armed) {
    std::lock_guard lock(jobMutex_);
    if (jobRunning_) return;
    SetState(armed ? UploadState::Armed : UploadState::Idle);
}

void BaseUploader::SetDeleteLocalFile(bool deleteLocalFile) {
    deleteLocalFile_ = deleteLocalFile;
    DeleteRequestRegistry::SetDeleteRequested(destination_, deleteLocalFile);
}

void BaseUploader::SetBusy(bool busy) { UploadBusyRegistry::SetBusy(destination_, busy); }

void BaseUploader::SignOut(bool notify) {
    {
        std::lock_guard lock(tokenMutex_);
        refreshToken_.clear();
        accessToken_.clear();
    }
    SetPageID(u"");
    if (notify) NotifyAccountChanged();
}

void BaseUploader::StopAndWait(bool /*fromRelease*/) {
    if (!UploadBusyRegistry::AnyBusy(UploadBusyRegistry::Snapshot())) return;
    Abort();
    talcore::threads::Gate gate;
    gate.Close();
    for (int counter = 300;; --counter) {
        const bool passed = gate.PassThroughUntil(std::chrono::steady_clock::now() + stopWaitSlice_);
        if (passed || counter <= 0) break;
        // Opening lets the next wait return at once.
        if (!UploadBusyRegistry::AnyBusy(UploadBusyRegistry::Snapshot())) gate.Open();
    }
}

void BaseUploader::Notify(float progress, UploadState state, ResultCode code, const std::u16string& text) {
    if (!statusCallback_) return;
    const auto codeValue = static_cast<std::uint32_t>(code);
    try {
        statusCallback_(&hostRecord_, static_cast<std::uint32_t>(state), progress, text.c_str(),
                        static_cast<std::uint16_t>(text.size() & 0xFFFF), &codeValue);
    } catch (...) {
        talcore::debug::Trace(kTraceCategory, 1,
                              "Callback caused exception on PostProcessID: " + std::to_string(destination_));
    }
}

void BaseUploader::ReportProgress(float progress, ResultCode code, const std::u16string& text) {
    Notify(progress, GetState(), code, text);
}

void BaseUploader::MarkAborted(const std::u16string& text) {
    SetState(UploadState::Aborted);
    SetBusy(false);
    Notify(0.0f, UploadState::Aborted, ResultCode::Aborted, text);
    OnUploadEnded();
}

void BaseUploader::Fail(ResultCode code, const std::u16string& text) {
    SetState(UploadState::Failed);
    SetBusy(false);
    Notify(0.0f, UploadState::Failed, code, text);
    OnUploadEnded();
}

void BaseUploader::PostNotice(const std::u16string& text) {
    if (!text.empty()) Notify(0.0f, UploadState::Notice, ResultCode::None, text);
}

void BaseUploader::PostWarning(const std::u16string& text) {
    SetState(UploadState::Notice);
    Notify(0.99f, UploadState::Notice, ResultCode::None, text);
}

void BaseUploader::Complete() {
    const UploadState done =
        GetState() == UploadState::Notice ? UploadState::SucceededWithNotice : UploadState::Succeeded;
    SetState(done);
    Notify(1.0f, done, ResultCode::None, {});
}

}  // namespace Vekta
