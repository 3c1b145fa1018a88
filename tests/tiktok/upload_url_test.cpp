// Where the file is sent: the upload address that TikTok's initialisation answers with is taken only
// over https or towards the host's own loopback stand-in, and it is never traced.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "talcore/debug/Trace.h"
#include "tests/tiktok/PublishTestSupport.h"

namespace {

using namespace vekta::test;
using vekta::sandbox::Endpoint;
using vekta::sandbox::Fault;

TEST(UploadURL, AnAddressInClearOutsideTheMappedLoopbackTargetFailsTheJobUnsentAndUntraced) {
    PluginHarness h;
    SignedInForPost(h);
    TempFolder folder;
    const auto file = folder / "export.mp4";
    WriteRandomFile(file, 1000);
    DescribeExport(h, {file});
    const auto traceFile = folder / "trace.txt";
    talcore::debug::SetTraceConfig("*:10", traceFile.string());

    const auto port = std::to_string(h.Sandbox().Port());
    const std::string refused[] = {
        "http://upload.example.test/upload/?upload_token=SECRET",
        "http://localhost:" + port + "/upload/?upload_token=SECRET",  // loopback, but not the mapped target
        "http://127.0.0.1:1/upload/?upload_token=SECRET",
        "ftp://127.0.0.1:" + port + "/upload/?upload_token=SECRET",
    };
    for (const auto& url : refused) {
        SCOPED_TRACE(url);
        const auto before = h.StatusEvents().size();
        h.Sandbox().Faults().Add(Endpoint::DirectPostInit,
                                 Fault::Respond(200, R"({"data":{"publish_id":"p.1","upload_url":")" + url +
                                                         R"("},"error":{"code":"ok","message":""}})"));
        EXPECT_EQ(h.Table().execute(&h.Record(), kExecuteSelectorPublish), kCallbackFailed);
        const auto events = h.StatusEvents();
        ASSERT_GT(events.size(), before);
        EXPECT_EQ(events.back().state, kUploadStateFailed);
        EXPECT_EQ(events.back().resultCode, 19u);
    }
    EXPECT_TRUE(ChunkRequests(h.Sandbox()).empty());

    // The sandbox's own address is the target TikTok's origin is mapped to: that one is taken.
    ASSERT_EQ(h.Table().execute(&h.Record(), kExecuteSelectorPublish), kCallbackDone);
    EXPECT_EQ(ChunkRequests(h.Sandbox()).size(), 1u);

    talcore::debug::SetTraceConfig("");
    std::ifstream in(traceFile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("HandleUploadInitializationResponse Error: "), std::string::npos) << text;
    EXPECT_EQ(text.find("SECRET"), std::string::npos) << text;
    EXPECT_EQ(text.find("upload.example.test"), std::string::npos) << text;
}

}  // namespace
