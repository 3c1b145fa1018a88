// The uploader frame every destination shares: the guard around the host's status callback,
// StopAndWait's bounds, and the one decision that deletes exported files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "refhost/HostRecord.h"
#include "refhost/StatusRecorder.h"
#include "talcore/debug/Trace.h"
#include "talcore/string/Unicode.h"
#include "talcore/threads/MainThread.h"
#include "uploader/BaseUploader.h"
#include "uploader/UploadRegistries.h"

namespace {

namespace fs = std::filesystem;
using Vekta::ResultCode;
using vekta::host::StatusRecorder;

// An uploader of any destination, built the way the plug-in builds its own.
class TestUploader : public Vekta::BaseUploader {
public:
    TestUploader(std::uint32_t instanceID, Vekta::DestinationIndex destination)
        : BaseUploader(vekta::host::MakeHostInstanceRecord(instanceID, "HostGroup", nullptr),
                       &StatusRecorder::StatusCallback, &StatusRecorder::AccountCallback, destination) {}
    // What a destination's publish does first: take over the files the host handed over.
    void TakeJob() { TakeHandOver({}); }
};

std::uint32_t NextInstanceID() {
    static std::uint32_t next = 1000;
    return ++next;
}

class BaseUploaderTest : public ::testing::Test {
protected:
    // Module-wide flags outlive a test; every test starts and ends with them clear.
    static void ClearRegistries() {
        for (Vekta::DestinationIndex i = 0; i < Vekta::kDestinationCount; ++i) {
            Vekta::UploadBusyRegistry::SetBusy(i, false);
            Vekta::DeleteRequestRegistry::SetDeleteRequested(i, false);
        }
    }
    void SetUp() override { ClearRegistries(); }
    void TearDown() override {
        StatusRecorder::Get().SetStatusObserver({});
        ClearRegistries();
        talcore::threads::PumpMainThreadTasks();
    }
    talcore::utility::RefCountedPtr<TestUploader> MakeUploader(Vekta::DestinationIndex destination = 9) {
        return talcore::utility::RefCountedPtr<TestUploader>(new TestUploader(NextInstanceID(), destination));
    }
};

TEST_F(BaseUploaderTest, StatusCallbackThatThrowsIsTracedAndLaterNotificationsStillArrive) {
    auto uploader = MakeUploader();
    const auto id = uploader->GetHostRecord().instanceID;
    const auto traceFile = fs::temp_directory_path() / ("uploader-trace-" + std::to_string(id));
    talcore::debug::SetTraceConfig("PostProcessBaseUploader:1", traceFile.string());
    int calls = 0;
    StatusRecorder::Get().SetStatusObserver([&](const vekta::host::StatusEvent&) {
        if (++calls == 1) throw std::runtime_error("host callback failed");
    });

    uploader->Fail(ResultCode::UploadFailed, u"first");
    uploader->ReportProgress(0.5f, ResultCode::None, u"second");
    talcore::debug::SetTraceConfig("");

    const auto events = StatusRecorder::Get().StatusEvents(id);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].state, kUploadStateFailed);
    EXPECT_EQ(events[0].resultCode, 19u);
    EXPECT_EQ(events[1].text, u"second");
    std::ifstream in(traceFile);
    const std::string trace((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(trace.find("Callback caused exception on PostProcessID: 9"), std::string::npos) << trace;
    in.close();  // Windows removes no file that is still open
    fs::remove(traceFile);
}

TEST_F(BaseUploaderTest, StopAndWaitAbortsOnlyABusyJobAndReturnsOnceAnotherThreadClearsTheBusyFlag) {
    auto uploader = MakeUploader();
    // Slices shorter than the real 50 ms; 301 of them still outlast the publisher's few.
    uploader->SetStopWaitSliceForTesting(std::chrono::milliseconds(20));
    uploader->StopAndWait(false);
    EXPECT_FALSE(uploader->AbortRequested());
    Vekta::UploadBusyRegistry::SetBusy(9, true);
    std::atomic<bool> cleared{false};
    // Plays the publishing thread: it sees the abort request and ends its job.
    std::thread publisher([&] {
        while (!uploader->AbortRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        cleared = true;
        Vekta::UploadBusyRegistry::SetBusy(9, false);
    });
    uploader->StopAndWait(false);
    EXPECT_TRUE(cleared.load());
    EXPECT_TRUE(uploader->AbortRequested());
    publisher.join();
}

TEST_F(BaseUploaderTest, StopAndWaitGivesUpAfterItsLastSliceWhenAnotherDestinationStaysBusy) {
    auto uploader = MakeUploader();
    constexpr std::chrono::milliseconds kSlice{1};
    uploader->SetStopWaitSliceForTesting(kSlice);
    Vekta::UploadBusyRegistry::SetBusy(3, true);
    const auto start = std::chrono::steady_clock::now();
    uploader->StopAndWait(false);
    // 301 slices: it neither returns early nor hangs.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 301 * kSlice);
    EXPECT_TRUE(uploader->AbortRequested());
}

// The files go only when no destination still uploads or still wants them: each finisher decides
// from one snapshot of the registries and clears its own flag.
TEST_F(BaseUploaderTest, TheLastDestinationAskingToDeleteDeletesOnceNoneIsBusy) {
    const auto dir = fs::temp_directory_path() / ("post-upload-" + std::to_string(NextInstanceID()));
    fs::create_directories(dir);
    std::ofstream(dir / "shared.mp4") << "video";
    const std::u16string path = talcore::string::UTF8to16((dir / "shared.mp4").string());
    // Misaligned on purpose: the host's array is packed and may start anywhere.
    std::vector<std::uint8_t> storage(1 + sizeof(OutputFileEntry));
    const char16_t* p = path.c_str();
    std::memcpy(storage.data() + 1 + 4, &p, sizeof p);
    auto first = MakeUploader(9), second = MakeUploader(2);
    for (auto* uploader : {first.Get(), second.Get()}) {
        uploader->SetOutputFiles(1, reinterpret_cast<const OutputFileEntry*>(storage.data() + 1));
        uploader->SetDeleteLocalFile(true);
    }
    EXPECT_EQ(first->GetOutputFiles(), std::vector<std::u16string>{path});
    first->TakeJob();
    second->TakeJob();

    first->DeleteLocalFilesIfAllowed();
    EXPECT_TRUE(fs::exists(dir / "shared.mp4")) << "another destination still wants it";
    EXPECT_EQ(Vekta::DeleteRequestRegistry::Snapshot()[8], 0) << "the finisher's own flag is cleared";
    Vekta::UploadBusyRegistry::SetBusy(4, true);
    second->DeleteLocalFilesIfAllowed();
    EXPECT_TRUE(fs::exists(dir / "shared.mp4")) << "a busy destination keeps it";
    Vekta::UploadBusyRegistry::SetBusy(4, false);
    second->SetDeleteLocalFile(true);
    second->DeleteLocalFilesIfAllowed();
    EXPECT_FALSE(fs::exists(dir / "shared.mp4"));
    fs::remove_all(dir);
}

}  // namespace
