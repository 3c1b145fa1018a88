// Uploads that TikTok or the file system end early: error answers to the initialisation and to a
// chunk, a connection closed without an answer, an empty file, and a file that changes under the
// upload.
#include <gtest/gtest.h>

#include "PublishTestSupport.h"

namespace {

using namespace vekta::test;
namespace host = vekta::host;
using tiktok_sandbox::Endpoint;
using tiktok_sandbox::Fault;

constexpr char16_t kGenericError[] = u"TikTok reported an error";

class PublishFailures : public ::testing::Test {
protected:
    void SetUp() override { SignedInForPost(h); }

    // A 12000000-byte export: two chunks.
    void DescribeTwoChunkExport() {
        WriteRandomFile(file, 12'000'000);
        DescribeExport(h, {file});
    }
    // Lets the first chunk through unchanged and shapes the answer to the second.
    void AnswerSecondChunk(Fault fault) {
        h.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Delay(std::chrono::milliseconds(0)));
        h.Sandbox().Faults().Add(Endpoint::UploadChunk, std::move(fault));
    }
    host::StatusEvent Last() const {
        const auto events = h.StatusEvents();
        return events.empty() ? host::StatusEvent{} : events.back();
    }

    PluginHarness h;
    TempFolder folder;
    std::filesystem::path file = folder / "export.mp4";
};

TEST_F(PublishFailures, ErrorStatusForTheSecondChunkFailsTheJobAfterTheFirstChunksProgress) {
    DescribeTwoChunkExport();
    AnswerSecondChunk(Fault::Respond(500, R"({"error":{"code":"internal_error"}})"));

    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);  // the transfer ran to its end

    const auto events = h.StatusEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].state, kUploadStateUploading);
    EXPECT_NEAR(events[0].progress, 0.4369, 0.0001);
    EXPECT_EQ(events[2].state, kUploadStateFailed);
    EXPECT_EQ(events[2].resultCode, 19u);
    EXPECT_EQ(events[2].text, kGenericError);
    EXPECT_EQ(events[2].progress, 0.0f);
    EXPECT_EQ(ChunkRequests(h.Sandbox()).size(), 2u);
    EXPECT_EQ(h.Table().queryStatus(&h.Record()), kUploadStateFailed);
}

TEST_F(PublishFailures, AnyTwoHundredStatusCountsAsAnAnswerAndThreeHundredAsAnError) {
    const struct {
        int status;
        std::uint32_t state;
        std::uint32_t code;
    } cases[] = {{200, kUploadStateSucceeded, 0}, {299, kUploadStateSucceeded, 0}, {300, kUploadStateFailed, 19},
                 {404, kUploadStateFailed, 19}};
    DescribeTwoChunkExport();
    for (const auto& c : cases) {
        SCOPED_TRACE("status " + std::to_string(c.status));
        AnswerSecondChunk(Fault::Respond(c.status));
        EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);
        EXPECT_EQ(Last().state, c.state);
        EXPECT_EQ(Last().resultCode, c.code);
    }
}

TEST_F(PublishFailures, AChunkWhoseConnectionClosesWithoutAnAnswerFailsWithNoResponse) {
    DescribeTwoChunkExport();
    h.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Drop());

    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);

    EXPECT_EQ(Last().state, kUploadStateFailed);
    EXPECT_EQ(Last().resultCode, 20u);
    EXPECT_EQ(Last().text,
              u"The TikTok server failed to respond during upload. Please check your network connection.");
    EXPECT_FALSE(h.Sandbox().Uploads().back().complete);
}

TEST_F(PublishFailures, InitialisationWithoutAnUploadUrlFailsWithTheManualUploadPath) {
    const std::u16string expected =
        u"Unable to upload to TikTok. You can upload it manually from:\n" + Utf16(file);
    WriteRandomFile(file, 1000);
    DescribeExport(h, {file});
    for (const int status : {201, 400, 500}) {
        SCOPED_TRACE("status " + std::to_string(status));
        h.Sandbox().Faults().Add(Endpoint::DirectPostInit,
                                 Fault::Respond(status, R"({"data":{"upload_url":"http://127.0.0.1:1/x"}})"));
        EXPECT_EQ(h.Table().execute(&h.Record(), 5), 1);
        EXPECT_EQ(Last().state, kUploadStateFailed);
        EXPECT_EQ(Last().resultCode, 19u);
        EXPECT_EQ(Last().text, expected);
    }
    EXPECT_TRUE(ChunkRequests(h.Sandbox()).empty());
}

TEST_F(PublishFailures, AnEmptyFileOfASignedInAccountHasAnInvalidSize) {
    WriteSparseFile(file, 0);
    DescribeExport(h, {file});
    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 1);
    EXPECT_EQ(Last().resultCode, 19u);
    EXPECT_EQ(Last().text, u"Exported video has an invalid file size.");
    EXPECT_TRUE(h.Sandbox().Uploads().empty());
}

// The file is cut while its first chunk is on the way; what is left no longer matches the upload
// TikTok was told about, and nothing made up may go out in its place.
TEST_F(PublishFailures, AFileThatShrinksDuringTheUploadFailsWithoutSendingAnotherChunk) {
    for (const std::uint64_t cutTo : {8'000'000ull, 4'000'000ull, 0ull}) {
        SCOPED_TRACE("cut to " + std::to_string(cutTo));
        DescribeTwoChunkExport();
        h.Sandbox().ClearRequests();
        h.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Hang());
        auto run = ExecuteAsync(h);
        ASSERT_TRUE(h.Sandbox().Faults().WaitUntilHanging(1, std::chrono::seconds(20)));
        std::filesystem::resize_file(file, cutTo);
        h.Sandbox().Faults().ReleaseHangs();
        EXPECT_EQ(Finish(run), 0);

        EXPECT_EQ(Last().state, kUploadStateFailed);
        EXPECT_EQ(Last().resultCode, 21u);
        EXPECT_EQ(ChunkRequests(h.Sandbox()).size(), 1u);
        EXPECT_FALSE(h.Sandbox().Uploads().back().complete);
    }
}

}  // namespace
