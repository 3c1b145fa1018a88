// Whole uploads through the module against the sandbox, signed in with a public account: the chunk
// plan and the bytes that arrive, what a direct post tells TikTok, uploads ended early by TikTok or
// by the host, where the file may be sent, what follows a successful transfer, and the runs that
// publish nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <limits>
#include <thread>

#include "refhost/BasicSuiteHost.h"
#include "refhost/HostRecord.h"
#include "talcore/debug/Trace.h"
#include "tests/tiktok/PublishTestSupport.h"

namespace {

using namespace vekta::test;
namespace host = vekta::host;
using vekta::sandbox::Endpoint;
using vekta::sandbox::Fault;

class Publish : public ::testing::Test {
protected:
    void SetUp() override { SignedInForPost(h_); }

    // Writes `size` random bytes to the export and describes it; returns their SHA-256.
    std::string Export(std::uint64_t size, const ExportVideoInfo& info = VideoInfo()) {
        const std::string sha256 = WriteRandomFile(file_, size, static_cast<unsigned>(size));
        DescribeExport(h_, {file_}, info);
        return sha256;
    }
    std::vector<host::StatusEvent> EventsSince(std::size_t before) const {
        const auto all = h_.StatusEvents();
        return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
    }
    // Runs Execute while the first chunk hangs in the sandbox, sends the abort meanwhile, then lets
    // the chunk be answered.
    std::int32_t PublishAbortingDuringFirstChunk() {
        h_.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Hang());
        auto run = ExecuteAsync(h_);
        EXPECT_TRUE(h_.Sandbox().Faults().WaitUntilHanging(1, std::chrono::seconds(20)));
        EXPECT_EQ(h_.Table().sendCommand(&h_.Record(), kSendCommandAbort), kCallbackDone);
        // Nothing happens before the chunk is answered.
        EXPECT_EQ(h_.Table().queryStatus(&h_.Record()), kUploadStateUploading);
        h_.Sandbox().Faults().ReleaseHangs();
        return Finish(run);
    }

    PluginHarness h_;
    TempFolder folder_;
    std::filesystem::path file_ = folder_ / "export.mp4";
};

TEST_F(Publish, EverySizeArrivesWholeInThePlannedRangesWithProgressPerChunk) {
    const struct {
        std::uint64_t size;
        std::uint32_t fileType;
        std::uint64_t chunkSize;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;  // first, last
    } plans[] = {
        {1, kH264, 1, {{0, 0}}},
        {5'242'879, kH264, 5'242'879, {{0, 5'242'878}}},
        {5'242'880, kH264, 5'242'880, {{0, 5'242'879}}},
        {10'485'759, kH264, 10'485'759, {{0, 10'485'758}}},
        {10'485'760, kH264, kChunk, {{0, 5'242'879}, {5'242'880, 10'485'759}}},
        {12'000'000, kMooV, kChunk, {{0, 5'242'879}, {5'242'880, 11'999'999}}},  // the last chunk is longer
    };
    for (const auto& plan : plans) {
        SCOPED_TRACE("size " + std::to_string(plan.size));
        const std::string sha256 = Export(plan.size, VideoInfo(plan.fileType));
        const auto before = h_.StatusEvents().size();

        ASSERT_EQ(h_.Table().execute(&h_.Record(), kExecuteSelectorPublish), kCallbackDone);

        const auto upload = h_.Sandbox().Uploads().back();
        EXPECT_EQ(upload.sourceInfo.value("video_size", ""), std::to_string(plan.size));
        EXPECT_EQ(upload.sourceInfo.value("chunk_size", ""), std::to_string(plan.chunkSize));
        EXPECT_EQ(upload.sourceInfo.value("total_chunk_count", ""), std::to_string(plan.ranges.size()));
        ASSERT_EQ(upload.chunks.size(), plan.ranges.size());
        for (std::size_t i = 0; i < plan.ranges.size(); ++i) {
            EXPECT_EQ(upload.chunks[i].first, plan.ranges[i].first) << "chunk " << i;
            EXPECT_EQ(upload.chunks[i].last, plan.ranges[i].second) << "chunk " << i;
            EXPECT_EQ(upload.chunks[i].contentType, plan.fileType == kMooV ? "video/quicktime" : "video/mp4");
        }
        EXPECT_TRUE(upload.complete);
        EXPECT_EQ(upload.sha256Hex, sha256);

        // One progress report per chunk, the share of the file sent so far, then success.
        const auto events = EventsSince(before);
        const auto progress = EventsInState(events, kUploadStateUploading);
        ASSERT_EQ(progress.size(), plan.ranges.size());
        for (std::size_t i = 0; i < progress.size(); ++i)
            EXPECT_FLOAT_EQ(progress[i].progress,
                            static_cast<float>(plan.ranges[i].second + 1) / static_cast<float>(plan.size));
        EXPECT_EQ(events.back().state, kUploadStateSucceeded);
        EXPECT_EQ(events.back().progress, 1.0f);
    }
}

TEST_F(Publish, DirectPostSendsThePostSettingsStringSizesAndTheCoverInWholeMillisecondsADraftNone) {
    Export(1000);
    h_.SetText("VOXATikTokCaption", u"Über den Wolken #clouds");
    ASSERT_EQ(h_.Changed("VOXATikTokCaption"), 0);
    h_.SetInteger("VOXATikTokCommentPermission", 1);
    h_.SetInteger("VOXATikTokDuetPermission", 0);
    h_.SetInteger("VOXATikTokStitchPermission", 1);
    ASSERT_EQ(h_.Table().execute(&h_.Record(), kExecuteSelectorPublish), kCallbackDone);
    const auto upload = h_.Sandbox().Uploads().back();
    EXPECT_EQ(upload.kind, vekta::sandbox::InitKind::DirectPost);
    EXPECT_EQ(upload.sourceInfo, nlohmann::json::parse(R"({"source":"FILE_UPLOAD","video_size":"1000",
                                                           "chunk_size":"1000","total_chunk_count":"1"})"));
    EXPECT_EQ(upload.postInfo, nlohmann::json::parse(R"({"privacy_level":"PUBLIC_TO_EVERYONE",
        "title":"Über den Wolken #clouds","disable_comment":false,"disable_duet":true,"disable_stitch":false,
        "video_cover_timestamp_ms":0})"));

    constexpr std::int64_t kTicksPerSecond = 254'016'000'000;
    const struct {
        std::int64_t ticks, ms;
    } covers[] = {
        {kTicksPerSecond / 1000 * 1999 + 1, 1999},  // truncated, not rounded
        {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int32_t>::max()},
        // A frame before the start cannot be a cover; TikTok refuses a negative time.
        {std::numeric_limits<std::int64_t>::min(), 0},
    };
    for (const auto& c : covers) {
        h_.SetTime("VOXATikTokCoverImageThumbnailTimeToken", c.ticks);
        ASSERT_EQ(h_.Refresh(), 0);
        ASSERT_EQ(h_.Table().execute(&h_.Record(), kExecuteSelectorPublish), kCallbackDone);
        EXPECT_EQ(h_.Sandbox().Uploads().back().postInfo.value("video_cover_timestamp_ms", -1), c.ms) << c.ticks;
    }

    // A draft goes to the inbox and tells TikTok nothing of the post settings.
    h_.SetInteger("VOXATikTokPublishType", 1);
    ASSERT_EQ(h_.Table().execute(&h_.Record(), kExecuteSelectorPublish), kCallbackDone);
    EXPECT_EQ(h_.Sandbox().Uploads().back().kind, vekta::sandbox::InitKind::Inbox);
    EXPECT_TRUE(h_.Sandbox().Uploads().back().postInfo.is_null());
}

TEST_F(Publish, SecondChunkAnsweredWithAnErrorOrNotAtAllFailsAfterTheFirstChunksProgress) {
    const struct {
        const char* name;
        Fault fault;
        std::uint32_t code;
        std::u16string text;
    } cases[] = {
        {"error status", Fault::Respond(500, R"({"error":{"code":"internal_error"}})"), 19,
         u"TikTok reported an error"},
        {"no response", Fault::Drop(), 20,
         u"The TikTok server failed to respond during upload. Please check your network connection."},
    };
    Export(12'000'000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = h_.StatusEvents().size();
        // The first chunk goes through unchanged.
        h_.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Delay(std::chrono::milliseconds(0)));
        h_.Sandbox().Faults().Add(Endpoint::UploadChunk, c.fault);

        EXPECT_EQ(h_.Table().execute(&h_.Record(), kExecuteSelectorPublish),
                  kCallbackDone);  // the transfer ran to its end

        const auto events = EventsSince(before);
        ASSERT_EQ(events.size(), 3u);
        EXPECT_NEAR(events[0].progress, 0.4369, 0.0001);
        EXPECT_EQ(events[2].state, kUploadStateFailed);
        EXPECT_EQ(events[2].resultCode, c.code);
        EXPECT_EQ(events[2].text, c.text);
        EXPECT_EQ(events[2].progress, 0.0f);
        EXPECT_FALSE(h_.Sandbox().Uploads().back().complete);
    }
}

TEST_F(Publish, AbortDuringFirstChunkReportsAbortedAfterItsAnswer) {
    Export(12'000'000);
    EXPECT_EQ(PublishAbortingDuringFirstChunk(), 0);
    const auto events = h_.StatusEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].state, kUploadStateUploading);
    EXPECT_EQ(events[1].state, kUploadStateAborted);
    EXPECT_EQ(events[1].resultCode, 2u);
    EXPECT_EQ(events[1].text, u"Aborted");
    EXPECT_EQ(ChunkRequests(h_.Sandbox()).size(), 1u);
}

// Once the last chunk is answered TikTok has the whole video and will publish it; calling that
// "Aborted" would tell the user the opposite of what happened.
TEST_F(Publish, AbortDuringTheLastChunkCannotUndoACompleteUpload) {
    Export(1000);
    EXPECT_EQ(PublishAbortingDuringFirstChunk(), 0);
    EXPECT_EQ(h_.StatusEvents().back().state, kUploadStateSucceeded);
}

// The host may abort while the export is still rendering; the upload that follows ends before
// TikTok is asked to open it, so no unfinished upload is left pending on the account.
TEST_F(Publish, AnAbortSentBeforeTheUploadEndsItBeforeTikTokOpensOne) {
    Export(12'000'000);
    EXPECT_EQ(h_.Table().sendCommand(&h_.Record(), kSendCommandAbort), kCallbackDone);
    EXPECT_EQ(h_.Table().execute(&h_.Record(), kExecuteSelectorPublish), kCallbackDone);
    EXPECT_EQ(h_.StatusEvents().back().state, kUploadStateAborted);
    EXPECT_EQ(h_.StatusEvents().back().resultCode, 2u);
    EXPECT_TRUE(h_.Sandbox().Uploads().empty());
    EXPECT_TRUE(ChunkRequests(h_.Sandbox()).empty());
}

// The host arms or idles the instance for its next export while this one uploads; the running job
// keeps its state, so its end still clears the busy flag and reports how it ended.
TEST_F(Publish, ArmAndIdleCommandsDuringAnUploadLeaveItsEndToIt) {
    Export(12'000'000);
    h_.Sandbox().Faults().Add(Endpoint::UploadChunk, Fault::Hang());
    auto run = ExecuteAsync(h_);
    ASSERT_TRUE(h_.Sandbox().Faults().WaitUntilHanging(1, std::chrono::seconds(20)));
    for (const std::uint32_t command : {3u, 4u, 3u}) {
        EXPECT_EQ(h_.Table().sendCommand(&h_.Record(), command), kCallbackDone);
        EXPECT_EQ(h_.Table().queryStatus(&h_.Record()), kUploadStateUploading) << "after command " << command;
    }
    h_.Sandbox().Faults().ReleaseHangs();
    EXPECT_EQ(Finish(run), 0);
    EXPECT_EQ(h_.StatusEvents().back().state, kUploadStateSucceeded);
    EXPECT_EQ(h_.Table().queryStatus(&h_.Record()), kUploadStateSucceeded);
    // Over, the job gives the state back to the host.
    EXPECT_EQ(h_.Table().sendCommand(&h_.Record(), kSendCommandArm), kCallbackDone);
    EXPECT_EQ(h_.Table().queryStatus(&h_.Record()), kUploadStateArmed);
}

// While one export uploads, the host renders the next and hands it over from another thread, over
// and over, and a file is put in the export's place. The job checks, reads and deletes through the
// one file it opened as it started: it sends the file, description and format it started with,
// deletes neither the next export nor the file in its place, and tells the user the export stayed.
TEST_F(Publish, WhatTheHostAndTheDiskDoDuringAnUploadChangesNothingOfIt) {
    h_.SetInteger("VOXATikTokDeleteLocalFile", 1);
    const std::string sha256 = Export(12'000'000);
    const auto next = folder_ / "next.mov";
    WriteRandomFile(next, 3'000'000, 7);
    const auto replacement = folder_ / "replacement.mp4";
    WriteRandomFile(replacement, 6'000'000, 3);
    h_.Sandbox().Faults().Add(Endpoint::DirectPostInit, Fault::Hang());

    auto run = ExecuteAsync(h_);
    ASSERT_TRUE(h_.Sandbox().Faults().WaitUntilHanging(1, std::chrono::seconds(20)));
    std::atomic<bool> done{false};
    std::atomic<int> handOvers{0};
    std::thread host([&] {
        while (!done) {
            DescribeExport(h_, {next}, VideoInfo(kMooV, 720, 1280, 25.0f, 3000));
            ++handOvers;
        }
    });
    const bool handedOver = WaitUntil([&] { return handOvers > 0; }, std::chrono::seconds(10));
    std::filesystem::rename(replacement, file_);
    h_.Sandbox().Faults().ReleaseHangs();
    const std::int32_t result = Finish(run);
    done = true;
    host.join();

    ASSERT_TRUE(handedOver);
    EXPECT_EQ(result, 0);
    const auto upload = h_.Sandbox().Uploads().back();
    EXPECT_TRUE(upload.complete);
    EXPECT_EQ(upload.videoSize, 12'000'000u);
    EXPECT_EQ(upload.sha256Hex, sha256);
    for (const auto& chunk : upload.chunks) EXPECT_EQ(chunk.contentType, "video/mp4");
    EXPECT_TRUE(std::filesystem::exists(next));
    ASSERT_TRUE(std::filesystem::exists(file_));
    EXPECT_EQ(std::filesystem::file_size(file_), 6'000'000u);
    const auto events = h_.StatusEvents();
    const auto notices = EventsInState(events, kUploadStateNotice);
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices[0].text, u"Error deleting exported file after a successful upload.");
    EXPECT_EQ(events.back().state, kUploadStateSucceededWithNotice);
}

// The upload address TikTok's initialisation answers with is taken only over https or towards the
// host's own loopback stand-in, and it is never traced.
TEST_F(Publish, AnUploadAddressInClearOutsideTheMappedLoopbackTargetFailsTheJobUnsentAndUntraced) {
    Export(1000);
    const auto traceFile = folder_ / "trace.txt";
    talcore::debug::SetTraceConfig("*:10", traceFile.string());
    const auto port = std::to_string(h_.Sandbox().Port());
    const std::string refused[] = {
        "http://upload.example.test/upload/?upload_token=SECRET",
        "http://localhost:" + port + "/upload/?upload_token=SECRET",  // loopback, but not the mapped target
        "http://127.0.0.1:1/upload/?upload_token=SECRET",
        "ftp://127.0.0.1:" + port + "/upload/?upload_token=SECRET",
    };
    for (const auto& url : refused) {
        SCOPED_TRACE(url);
        const auto before = h_.StatusEvents().size();
        h_.Sandbox().Faults().Add(Endpoint::DirectPostInit,
                                  Fault::Respond(200, R"({"data":{"publish_id":"p.1","upload_url":")" + url +
                                                          R"("},"error":{"code":"ok","message":""}})"));
        EXPECT_EQ(h_.Table().execute(&h_.Record(), kExecuteSelectorPublish), kCallbackFailed);
        const auto events = EventsSince(before);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().state, kUploadStateFailed);
        EXPECT_EQ(events.back().resultCode, 19u);
    }
    EXPECT_TRUE(ChunkRequests(h_.Sandbox()).empty());
    // The sandbox's own address is the target TikTok's origin is mapped to: that one is taken.
    ASSERT_EQ(h_.Table().execute(&h_.Record(), kExecuteSelectorPublish), kCallbackDone);
    EXPECT_EQ(ChunkRequests(h_.Sandbox()).size(), 1u);

    talcore::debug::SetTraceConfig("");
    std::ifstream in(traceFile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("HandleUploadInitializationResponse Error: "), std::string::npos) << text;
    EXPECT_EQ(text.find("SECRET"), std::string::npos) << text;
    EXPECT_EQ(text.find("upload.example.test"), std::string::npos) << text;
}

// An answer larger than any TikTok gives is not taken in: the request counts as unanswered.
TEST_F(Publish, AnAnswerLargerThanAnyTikTokAnswerCountsAsNone) {
    const std::string huge = R"({"access_token":"act.huge","padding":")" + std::string(2u << 20, 'x') + R"("})";
    const struct {
        const char* name;
        Endpoint endpoint;
        Fault fault;
        std::uint32_t code;
        std::u16string textStart;
    } cases[] = {
        {"token refresh", Endpoint::Token, Fault::Respond(200, huge), 19,
         u"Exported video was not uploaded to TikTok because you are not signed in."},
        {"chunk", Endpoint::UploadChunk, Fault::Respond(201, huge), 20,
         u"The TikTok server failed to respond during upload."},
    };
    Export(1000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        h_.Sandbox().Faults().Add(c.endpoint, c.fault);
        h_.Table().execute(&h_.Record(), kExecuteSelectorPublish);
        const auto last = h_.StatusEvents().back();
        EXPECT_EQ(last.state, kUploadStateFailed);
        EXPECT_EQ(last.resultCode, c.code);
        EXPECT_EQ(last.text.substr(0, c.textStart.size()), c.textStart);
    }
}

// A non-empty folder cannot be removed as a file, whoever runs the test.
TEST_F(Publish, DeletesTheExportWarnsAboutWhatCannotBeDeletedAndPostsTheProfileLink) {
    WriteRandomFile(file_, 1000);
    const auto sidecar = folder_ / "sidecar";
    std::filesystem::create_directories(sidecar / "inside");
    h_.SetInteger("VOXATikTokDeleteLocalFile", 1);
    DescribeExport(h_, {file_, sidecar});

    EXPECT_EQ(h_.Table().execute(&h_.Record(), kExecuteSelectorPublish), kCallbackDone);

    EXPECT_FALSE(std::filesystem::exists(file_));
    EXPECT_TRUE(std::filesystem::exists(sidecar));
    const auto notices = EventsInState(h_.StatusEvents(), kUploadStateNotice);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].text, u"Error deleting exported file after a successful upload.");
    EXPECT_FLOAT_EQ(notices[0].progress, 0.99f);
    EXPECT_EQ(notices[1].text, u"https://www.tiktok.com/@sandbox.creator");
    EXPECT_EQ(h_.StatusEvents().back().state, kUploadStateSucceededWithNotice);
    EXPECT_EQ(h_.StatusEvents().back().progress, 1.0f);
    EXPECT_EQ(h_.Table().queryStatus(&h_.Record()), kUploadStateSucceededWithNotice);
}

TEST_F(Publish, OtherSelectorsAndADisabledGroupSendReportAndDeleteNothing) {
    h_.SetInteger("VOXATikTokDeleteLocalFile", 1);
    Export(1000);
    ASSERT_EQ(h_.Table().sendCommand(&h_.Record(), kSendCommandArm), kCallbackDone);

    for (const std::int32_t selector : {0, 1, 4, 6, -5, 0x7fffffff})
        EXPECT_EQ(h_.Table().execute(&h_.Record(), selector), kCallbackDone);
    // They do not even look for the instance: a record without one answers 0, where 5 answers 1.
    auto stranger =
        host::MakeHostInstanceRecord(h_.InstanceID() + 100000, host::kDefaultHostGroupID, host::kBasicSuiteAccessor);
    EXPECT_EQ(h_.Table().execute(&stranger, 4), kCallbackDone);
    EXPECT_EQ(h_.Table().execute(&stranger, kExecuteSelectorPublish), kCallbackFailed);
    ASSERT_EQ(h_.Settings().SetDisabled(h_.InstanceID(), "VOXATikTokGroup", true), 0);
    EXPECT_EQ(h_.Table().execute(&h_.Record(), kExecuteSelectorPublish), kCallbackDone);

    EXPECT_TRUE(h_.StatusEvents().empty());
    EXPECT_TRUE(h_.Sandbox().Uploads().empty());
    EXPECT_TRUE(std::filesystem::exists(file_));
    EXPECT_EQ(h_.Table().queryStatus(&h_.Record()), kUploadStateArmed);
}

}  // namespace
