// Publishing with the plug-in's code linked into the test program and driven through the table the
// module would hand out, for what needs the uploader itself: its abort flag and shortened waits, a
// file system that fails, the busy registry, and a host that calls back from its status callback.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "plugin/CallbackTable.h"
#include "plugin/InstanceLookup.h"
#include "talcore/filesupport/ByteStream.h"
#include "tests/tiktok/PublishTestSupport.h"
#include "tests/tiktok/publish/LinkedTable.h"
#include "uploader/UploadRegistries.h"

namespace {

using namespace vekta::test;
using vekta::sandbox::Endpoint;
using vekta::sandbox::Fault;

using talcore::filesupport::IPlatformByteStream;

// The platform's stream on the export, failing as a file system may: asking the open file for its
// size fails the `failingSize`th time (counting from 1), or the `shortRead`th read comes back short.
class FaultyStream final : public IPlatformByteStream {
public:
    FaultyStream(std::unique_ptr<IPlatformByteStream> real, int failingSize, int shortRead)
        : real_(std::move(real)), failingSize_(failingSize), shortRead_(shortRead) {}
    std::size_t Read(void* buffer, std::size_t size) override {
        const std::size_t read = real_->Read(buffer, size);
        return ++reads_ == shortRead_ ? read / 2 : read;
    }
    void Seek(std::uint64_t offset) override { real_->Seek(offset); }
    std::uint64_t Position() const override { return real_->Position(); }
    std::uint64_t Size() const override {
        if (++sizes_ == failingSize_) throw std::runtime_error("the file system cannot tell the size");
        return real_->Size();
    }
    talcore::filesupport::FileIdentity Identity() const override { return real_->Identity(); }

private:
    std::unique_ptr<IPlatformByteStream> real_;
    const int failingSize_, shortRead_;
    // Asked from the publishing thread and, later, from completion threads.
    mutable std::atomic<int> sizes_{0};
    std::atomic<int> reads_{0};
};

class LinkedUploader : public ::testing::Test {
protected:
    void SetUp() override {
        SignedInForPost(h);
        WriteRandomFile(file_, 12'000'000);  // two chunks
        DescribeExport(h, {file_});
        uploader_ = Vekta::LookupInstance(&h.Record());
        ASSERT_TRUE(uploader_);
    }

    PluginHarness h{LinkedTable()};
    TempFolder folder_;
    std::filesystem::path file_ = folder_ / "export.mp4";
    talcore::utility::RefCountedPtr<Vekta::TikTokUploader> uploader_;
};

// The host releases the instance on its main thread while Execute uploads on another. The chunk is
// never answered while the release waits: it gives up after its 301 waits (shortened here to 5 ms
// each) and returns with the upload still in flight; answered at last, the chunk ends the job aborted.
TEST_F(LinkedUploader, DestroyDuringAnUploadAbortsItAndReturnsWithinItsBound) {
    uploader_->SetStopWaitSliceForTesting(std::chrono::milliseconds(5));
    h.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Hang());
    auto run = ExecuteAsync(h);
    ASSERT_TRUE(h.Sandbox().Faults().WaitUntilHanging(1, std::chrono::seconds(20)));

    auto destroy = std::async(std::launch::async, [&] { return h.Table().destroyInstance(&h.Record()); });
    EXPECT_TRUE(WaitUntil([&] { return uploader_->AbortRequested(); }, std::chrono::seconds(10)));
    const bool returned = destroy.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    EXPECT_EQ(h.Sandbox().Faults().Hanging(), 1u);
    EXPECT_TRUE(EventsInState(h.StatusEvents(), kUploadStateAborted).empty());
    h.Sandbox().Faults().ReleaseHangs();
    ASSERT_TRUE(returned);
    EXPECT_EQ(destroy.get(), 0);

    EXPECT_EQ(Finish(run), 0);
    EXPECT_EQ(h.StatusEvents().back().state, kUploadStateAborted);
    EXPECT_EQ(ChunkRequests(h.Sandbox()).size(), 1u);
}

// Wherever a job fails, before its transfer, in the chunk chain's first step on the publishing
// thread or in a later one on a completion thread, and whatever fails (an exception, a short read
// of a chunk read ahead), Execute returns, the job has its final state and the busy flag is clear.
TEST_F(LinkedUploader, AFailureAnywhereInTheJobEndsItAndClearsTheBusyFlag) {
    const struct {
        const char* name;
        int failingSize;
        int shortRead;
        std::int32_t result;
        std::uint32_t code;
        std::u16string text;
        std::size_t chunksSent;
    } cases[] = {
        {"size unknown as the job starts", 1, 0, 1, 19, u"TikTok reported an error", 0},
        {"size unknown before the first chunk", 2, 0, 0, 19, u"Failed while writing to the server", 0},
        {"size unknown before the second chunk", 3, 0, 0, 19, u"Failed while writing to the server", 1},
        {"second chunk read short while the first is on the wire", 0, 2, 0, 21,
         u"The exported file could not be read completely. It may have been changed or removed during the upload.", 1},
    };
    uploader_->SetIdleLimitSecondsForTesting(2);
    uploader_->SetWaitSliceSecondsForTesting(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uploader_->SetSourceOpenerForTesting([&c](const talcore::filesupport::File& exported) {
            return std::make_unique<FaultyStream>(IPlatformByteStream::Create(exported, IPlatformByteStream::kRead),
                                                  c.failingSize, c.shortRead);
        });
        const auto uploadsBefore = h.Sandbox().Uploads().size();
        const auto chunksBefore = ChunkRequests(h.Sandbox()).size();
        auto run = ExecuteAsync(h);
        ASSERT_EQ(Finish(run), c.result);

        const auto events = h.StatusEvents();
        ASSERT_FALSE(events.empty());
        const auto& last = events.back();
        EXPECT_EQ(last.state, kUploadStateFailed);
        EXPECT_EQ(last.resultCode, c.code);
        EXPECT_EQ(last.text, c.text);
        EXPECT_EQ(h.Table().queryStatus(&h.Record()), kUploadStateFailed);
        EXPECT_EQ(Vekta::UploadBusyRegistry::Snapshot()[Vekta::kTikTokDestination], 0);
        EXPECT_EQ(ChunkRequests(h.Sandbox()).size() - chunksBefore, c.chunksSent);
        // A job that failed before its transfer opened no upload on TikTok.
        EXPECT_EQ(h.Sandbox().Uploads().size() - uploadsBefore, c.result == 1 ? 0u : 1u);
    }
    uploader_->SetSourceOpenerForTesting({});
    ASSERT_EQ(h.Table().execute(&h.Record(), kExecuteSelectorPublish), kCallbackDone);
    EXPECT_EQ(h.StatusEvents().back().state, kUploadStateSucceeded);
}

// A host may answer a status notification by calling the plug-in again, on the notifying thread
// or on its own thread while the notifying one waits for it. Nothing the uploader holds while it
// notifies may stand in the way, and an abort given that way ends the job at its next chunk.
TEST_F(LinkedUploader, AStatusCallbackThatCallsBackIntoThePlugInFindsNothingHeld) {
    const PostProcessCallbacks& table = h.Table();
    HostInstanceRecord* record = &h.Record();
    auto reenter = [&table, record, this] {
        std::uint8_t signedIn = 0;
        table.queryHasCredentials(record, &signedIn);
        table.queryStatus(record);
        const ExportVideoInfo info = VideoInfo();
        table.receiveVideoInfo(record, &info);
        std::u16string tooltip;
        uploader_->GetStatusText(tooltip);
        uploader_->RefreshWaitersForTesting();
    };
    std::atomic<int> calls{0}, blocked{0};
    vekta::host::StatusRecorder::Get().SetStatusObserver([&](const vekta::host::StatusEvent& event) {
        ++calls;
        reenter();
        // Posted to the host's own thread, waited for with a bound: a lock held here would keep it.
        auto posted = std::make_shared<std::packaged_task<void()>>(reenter);
        auto done = posted->get_future();
        std::thread([posted] { (*posted)(); }).detach();
        if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) ++blocked;
        if (event.state == kUploadStateUploading && event.progress < 1.0f) table.sendCommand(record, 1);  // abort
    });
    auto run = ExecuteAsync(h);
    EXPECT_EQ(Finish(run), 0);
    vekta::host::StatusRecorder::Get().SetStatusObserver({});

    EXPECT_EQ(blocked.load(), 0);
    EXPECT_GE(calls.load(), 2);
    EXPECT_EQ(h.StatusEvents().back().state, kUploadStateAborted);
    EXPECT_EQ(ChunkRequests(h.Sandbox()).size(), 1u);
}

}  // namespace
