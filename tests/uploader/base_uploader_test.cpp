#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "UploaderTestSupport.h"
#include "talcore/debug/Trace.h"

namespace {

using namespace vekta::test;
using Vekta::ResultCode;
using Vekta::UploadState;
using vekta::host::StatusRecorder;

class BaseUploaderTest : public ::testing::Test {
protected:
    void SetUp() override { ClearRegistries(); }
    void TearDown() override {
        StatusRecorder::Get().SetStatusObserver({});
        ClearRegistries();
        talcore::threads::PumpMainThreadTasks();
    }
    std::uint32_t id_ = NextInstanceID();
};

TEST_F(BaseUploaderTest, StatusCallbackThatThrowsIsTracedAndLaterNotificationsStillArrive) {
    const auto traceFile = std::filesystem::temp_directory_path() / ("uploader-trace-" + std::to_string(id_));
    talcore::debug::SetTraceConfig("PostProcessBaseUploader:1", traceFile.string());
    auto uploader = MakeUploader(id_);
    int calls = 0;
    StatusRecorder::Get().SetStatusObserver([&](const vekta::host::StatusEvent&) {
        if (++calls == 1) throw std::runtime_error("host callback failed");
    });

    uploader->Fail(ResultCode::UploadFailed, u"first");
    uploader->ReportProgress(0.5f, ResultCode::None, u"second");
    talcore::debug::SetTraceConfig("");

    const auto events = StatusRecorder::Get().StatusEvents(id_);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].state, kUploadStateFailed);
    EXPECT_EQ(events[0].resultCode, 19u);
    EXPECT_EQ(events[1].text, u"second");
    std::ifstream in(traceFile);
    const std::string trace((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(trace.find("Callback caused exception on PostProcessID: 9"), std::string::npos) << trace;
    std::filesystem::remove(traceFile);
}

TEST_F(BaseUploaderTest, NotificationsCarryStateProgressCodeAndText) {
    struct Case {
        const char* name;
        void (*act)(TestUploader&);
        std::vector<std::uint32_t> states;
        std::vector<float> progress;
        std::vector<std::uint32_t> codes;
        UploadState stored;
    };
    const Case cases[] = {
        {"Complete after PostWarning reports SucceededWithNotice",
         [](TestUploader& u) {
             u.PostWarning(u"careful");
             u.Complete();
         },
         {7, 8}, {0.99f, 1.0f}, {0, 0}, UploadState::SucceededWithNotice},
        {"PostNotice does not store Notice, so Complete reports Succeeded",
         [](TestUploader& u) {
             u.PostNotice(u"link");
             u.Complete();
         },
         {7, 4}, {0.0f, 1.0f}, {0, 0}, UploadState::Succeeded},
        {"An empty notice posts nothing", [](TestUploader& u) { u.PostNotice(u""); }, {}, {}, {}, UploadState::Idle},
        {"MarkAborted reports code 2", [](TestUploader& u) { u.MarkAborted(u"Aborted"); }, {5}, {0.0f}, {2},
         UploadState::Aborted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto id = NextInstanceID();
        auto uploader = MakeUploader(id);
        c.act(*uploader);
        const auto events = StatusRecorder::Get().StatusEvents(id);
        ASSERT_EQ(events.size(), c.states.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].state, c.states[i]);
            EXPECT_FLOAT_EQ(events[i].progress, c.progress[i]);
            EXPECT_EQ(events[i].resultCode, c.codes[i]);
        }
        EXPECT_EQ(uploader->GetState(), c.stored);
    }
}

TEST_F(BaseUploaderTest, FailAndMarkAbortedClearTheBusyFlag) {
    auto uploader = MakeUploader(id_);
    uploader->SetBusy(true);
    uploader->Fail(ResultCode::FileMissing, u"gone");
    EXPECT_FALSE(Vekta::UploadBusyRegistry::AnyBusy(Vekta::UploadBusyRegistry::Snapshot()));
    uploader->SetBusy(true);
    uploader->MarkAborted(u"Aborted");
    EXPECT_FALSE(Vekta::UploadBusyRegistry::AnyBusy(Vekta::UploadBusyRegistry::Snapshot()));
}

TEST_F(BaseUploaderTest, StopAndWaitWithNothingBusyReturnsWithoutAborting) {
    auto uploader = MakeUploader(id_);
    uploader->StopAndWait(false);
    EXPECT_FALSE(uploader->AbortRequested());
}

TEST_F(BaseUploaderTest, StopAndWaitAbortsAndReturnsOnceAnotherThreadClearsTheBusyFlag) {
    auto uploader = MakeUploader(id_);
    Vekta::UploadBusyRegistry::SetBusy(9, true);
    std::atomic<bool> cleared{false};
    // Plays the publishing thread: it sees the abort request and ends its job.
    std::thread publisher([&] {
        while (!uploader->AbortRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        cleared = true;
        Vekta::UploadBusyRegistry::SetBusy(9, false);
    });
    uploader->StopAndWait(false);
    EXPECT_TRUE(cleared.load());
    EXPECT_TRUE(uploader->AbortRequested());
    publisher.join();
}

TEST_F(BaseUploaderTest, StopAndWaitGivesUpAfterItsLastSliceWhenAnotherDestinationStaysBusy) {
    auto uploader = MakeUploader(id_);
    Vekta::UploadBusyRegistry::SetBusy(3, true);
    const auto start = std::chrono::steady_clock::now();
    uploader->StopAndWait(false);
    const auto waited = std::chrono::steady_clock::now() - start;
    // 301 slices of 50 ms: it neither returns early nor hangs.
    EXPECT_GE(waited, std::chrono::milliseconds(301 * 50));
    EXPECT_TRUE(uploader->AbortRequested());
}

TEST_F(BaseUploaderTest, SignOutNotifiesTheAccountOnlyWhenAsked) {
    auto uploader = MakeUploader(id_);
    uploader->UseRefreshToken(true);
    uploader->SetTokens(u"refresh", u"access");
    EXPECT_TRUE(uploader->HasCredentials());
    uploader->SignOut(false);
    EXPECT_FALSE(uploader->HasCredentials());
    EXPECT_TRUE(StatusRecorder::Get().AccountEvents(id_).empty());
    uploader->SignOut(true);
    const auto events = StatusRecorder::Get().AccountEvents(id_);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].signedIn);
    EXPECT_EQ(events[0].kind, 0);
}

TEST_F(BaseUploaderTest, CredentialsFollowTheKindOfTokenTheAccountUses) {
    auto uploader = MakeUploader(id_);
    uploader->SetTokens(u"", u"access");
    EXPECT_TRUE(uploader->HasCredentials());
    uploader->UseRefreshToken(true);
    EXPECT_FALSE(uploader->HasCredentials());
}

TEST_F(BaseUploaderTest, OutputFilesAreCopiedInOrderFromPackedEntries) {
    auto uploader = MakeUploader(id_);
    const std::u16string first = u"/exports/a.mp4", second = u"/exports/b.mp4";
    // Misaligned on purpose: the host's array is packed and may start anywhere.
    std::vector<std::uint8_t> storage(1 + 2 * sizeof(OutputFileEntry));
    auto* entries = reinterpret_cast<OutputFileEntry*>(storage.data() + 1);
    const char16_t* paths[] = {first.c_str(), second.c_str()};
    for (int i = 0; i < 2; ++i)
        std::memcpy(storage.data() + 1 + i * sizeof(OutputFileEntry) + 4, &paths[i], sizeof(paths[i]));
    uploader->SetOutputFiles(2, entries);
    EXPECT_EQ(uploader->GetOutputFiles(), (std::vector<std::u16string>{first, second}));
    uploader->SetOutputFiles(0, entries);
    EXPECT_TRUE(uploader->GetOutputFiles().empty());
}

TEST_F(BaseUploaderTest, ReleasedOffTheMainThreadTheUploaderIsDestroyedWhenTheMainThreadPumps) {
    auto uploader = MakeUploader(id_);
    const auto key = uploader->GetWeakKey();
    std::thread([u = std::move(uploader)]() mutable { u.Reset(); }).join();
    // Gone for lookups at once, destroyed later on the main thread.
    EXPECT_FALSE(talcore::utility::RefCountedObjectWithWeakPtr::Lock(key));
    EXPECT_GE(talcore::threads::PumpMainThreadTasks(), 1u);
}

}  // namespace
