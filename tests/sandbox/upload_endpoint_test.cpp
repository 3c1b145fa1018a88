// Chunk PUTs to the upload URL: the plan, the exact headers, the answers and what is kept.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sandbox/Sha256.h"
#include "tests/sandbox/SandboxTestSupport.h"

namespace vekta::test {

using namespace vekta::sandbox;
namespace {

struct UploadFixture {
    explicit UploadFixture(SandboxConfig config = {}) : running(std::move(config)) {
        running.sandbox.SetMaxPendingUploads(0);
        tokens = SignIn(running);
        client = running.NewClient();
        client->set_keep_alive(true);  // a refused chunk's body must be read away, or the next request breaks
    }
    RunningSandbox running;
    Tokens tokens;
    std::unique_ptr<httplib::Client> client;
};

// Every case opens a 10 MB upload in two 5 MB chunks and breaks one rule; the refusal must leave the
// upload as it was, so the expected chunks still complete it (206, then 201) with the right bytes.
TEST(UploadEndpointTest, RefusesChunksThatBreakTheRules) {
    using Put = std::function<httplib::Result(httplib::Client&, const OpenedUpload&)>;
    struct Case {
        const char* name;
        bool firstChunkSent;
        Put put;
        int status;
    };
    const std::uint64_t size = 10 * MB;
    const std::string video = TestBytes(size);
    const std::string firstChunk = video.substr(0, 5 * MB);
    const std::string hash = Sha256Hex(video);
    auto put = [&](std::uint64_t first, std::uint64_t last, std::uint64_t total,
                   std::string type = "video/mp4") -> Put {
        return [=, &video](httplib::Client& client, const OpenedUpload& upload) {
            return PutChunk(client, upload.target, video.substr(first, last - first + 1), first, last, total, type);
        };
    };
    auto raw = [&](httplib::Headers headers, std::string body, std::string target = "") -> Put {
        return [=](httplib::Client& client, const OpenedUpload& upload) {
            return client.Put(target.empty() ? upload.target : target, headers, body, "video/mp4");
        };
    };
    const std::string range0 = "bytes 0-5242879/10485760";
    const Case cases[] = {
        {"second chunk first", false, put(5 * MB, size - 1, size), 416},
        {"total is not the video size", false, put(0, 5 * MB - 1, size + 1), 416},
        {"chunk shorter than planned", false, put(0, MB - 1, size), 416},
        {"first chunk again", true, put(0, 5 * MB - 1, size), 416},
        {"overlapping range", true, put(MB, size - 1, size), 416},
        {"last chunk cut short", true, put(5 * MB, size - 2, size), 416},
        {"text content type", false, put(0, 5 * MB - 1, size, "text/plain"), 415},
        {"content type with parameter", false, put(0, 5 * MB - 1, size, "video/mp4; codecs=avc1"), 415},
        {"no content type", false, put(0, 5 * MB - 1, size, ""), 415},
        {"range with equals sign", false, raw({{"Content-Range", "bytes=0-5242879/10485760"}}, firstChunk), 400},
        {"no range", false, raw({}, firstChunk), 400},
        {"repeated range", false, raw({{"Content-Range", range0}, {"Content-Range", range0}}, firstChunk), 400},
        {"body shorter than range", false, raw({{"Content-Range", range0}}, firstChunk.substr(1)), 400},
        {"unknown upload id", false,
         raw({{"Content-Range", range0}}, firstChunk, "/upload/?upload_id=1&upload_token=x"), 404},
    };
    const auto dataDir = std::filesystem::temp_directory_path() / ("sandbox-uploads-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dataDir);
    SandboxConfig config;
    config.dataDir = dataDir.string();
    UploadFixture f(config);
    auto sendFirst = [&](const OpenedUpload& upload) {
        auto res = PutChunk(*f.client, upload.target, firstChunk, 0, 5 * MB - 1, size);
        return StatusOf(res) == 206 && res->get_header_value("Content-Range") == range0;
    };
    OpenedUpload upload;
    for (const auto& c : cases) {
        upload = OpenUpload(f.running, f.tokens.accessToken, size, 5 * MB, 2);
        ASSERT_TRUE(!c.firstChunkSent || sendFirst(upload)) << c.name;
        auto res = c.put(*f.client, upload);
        EXPECT_EQ(StatusOf(res), c.status) << c.name << ": " << (res ? res->body : httplib::to_string(res.error()));
        ASSERT_TRUE(c.firstChunkSent || sendFirst(upload)) << c.name;
        EXPECT_EQ(StatusOf(PutChunk(*f.client, upload.target, video.substr(5 * MB), 5 * MB, size - 1, size)), 201)
            << c.name;
        const auto received = f.running.sandbox.Upload(upload.uploadId);
        ASSERT_TRUE(received.has_value()) << c.name;
        EXPECT_EQ(received->sha256Hex, hash) << c.name;
        std::stringstream onDisk;
        onDisk << std::ifstream(received->filePath, std::ios::binary).rdbuf();
        EXPECT_TRUE(onDisk.str() == video) << c.name;
        std::filesystem::remove(received->filePath);
    }
    std::filesystem::remove_all(dataDir);
    EXPECT_EQ(StatusOf(PutChunk(*f.client, upload.target, video.substr(5 * MB), 5 * MB, size - 1, size)), 416)
        << "a completed upload takes no more chunks";
    const std::string wrongToken = "/upload/?upload_id=" + upload.uploadId + "&upload_token=x";
    EXPECT_EQ(StatusOf(PutChunk(*f.client, wrongToken, firstChunk, 0, 5 * MB - 1, size)), 404);
    const OpenedUpload late = OpenUpload(f.running, f.tokens.accessToken, size, 5 * MB, 2);
    f.running.sandbox.AdvanceClock(std::chrono::seconds(3600));  // upload URLs live an hour
    EXPECT_EQ(StatusOf(PutChunk(*f.client, late.target, firstChunk, 0, 5 * MB - 1, size)), 403);
}

TEST(UploadEndpointTest, ChunkThatBrokeOffCanBeSentAgain) {
    UploadFixture f;
    const std::uint64_t size = 200000;
    const OpenedUpload upload = OpenUpload(f.running, f.tokens.accessToken, size, size, 1);
    // Half the body, then the client gives up and closes the connection.
    const std::string half = TestBytes(size / 2);
    f.running.NewClient()->Put(
        upload.target, {{"Content-Range", "bytes 0-199999/200000"}}, size,
        [&](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            return offset == 0 && sink.write(half.data(), half.size());
        },
        "video/mp4");

    // The broken attempt may still be being read; the retry succeeds once the sandbox gave up on it.
    int status = -1;
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    do {
        status = StatusOf(PutChunk(*f.client, upload.target, TestBytes(size), 0, size - 1, size));
    } while (status == 416 && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(status, 201);
    const auto received = f.running.sandbox.Upload(upload.uploadId);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->sha256Hex, Sha256Hex(TestBytes(size)));
    EXPECT_EQ(received->chunks.size(), 1u);
}

}  // namespace
}  // namespace vekta::test
