// Chunk PUTs to the upload URL: the plan, the exact headers, the answers and what is kept.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "SandboxTestSupport.h"
#include "sandbox/Sha256.h"

namespace tiktok_sandbox::test {
namespace {

constexpr std::uint64_t MB = 1024 * 1024;

struct UploadFixture {
  explicit UploadFixture(SandboxConfig config = {}) : running(std::move(config)) {
    running.sandbox.SetMaxPendingUploads(0);
    tokens = SignIn(running);
    client = running.NewClient();
  }
  RunningSandbox running;
  Tokens tokens;
  std::unique_ptr<httplib::Client> client;
};

TEST(UploadEndpointTest, ChunksAssembleIntoTheFileWithItsHash) {
  const auto dataDir = std::filesystem::temp_directory_path() / ("sandbox-uploads-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dataDir);
  SandboxConfig config;
  config.dataDir = dataDir.string();
  config.keepUploadBytesInMemory = true;
  UploadFixture f(config);
  const std::uint64_t size = 12 * MB + 7;
  const std::string video = TestBytes(size);
  const OpenedUpload upload = OpenUpload(f.running, f.tokens.accessToken, size, 5 * MB, 2);
  ASSERT_FALSE(upload.target.empty());

  auto first = PutChunk(*f.client, upload.target, video.substr(0, 5 * MB), 0, 5 * MB - 1, size);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 206);
  EXPECT_EQ(first->get_header_value("Content-Range"), "bytes 0-" + std::to_string(5 * MB - 1) + "/" + std::to_string(size));
  auto last = PutChunk(*f.client, upload.target, video.substr(5 * MB), 5 * MB, size - 1, size, "video/mp4");
  ASSERT_TRUE(last);
  EXPECT_EQ(last->status, 201);

  const auto received = f.running.sandbox.Upload(upload.uploadId);
  ASSERT_TRUE(received.has_value());
  EXPECT_TRUE(received->complete);
  EXPECT_EQ(received->kind, InitKind::Inbox);
  EXPECT_EQ(received->publishId, upload.publishId);
  EXPECT_EQ(received->bytesReceived, size);
  EXPECT_EQ(received->sha256Hex, Sha256Hex(video));
  EXPECT_EQ(received->bytes, video);
  ASSERT_EQ(received->chunks.size(), 2u);
  EXPECT_EQ(received->chunks[1].first, 5 * MB);
  EXPECT_EQ(received->chunks[1].last, size - 1);
  EXPECT_EQ(received->chunks[1].contentType, "video/mp4");
  std::ifstream file(received->filePath, std::ios::binary);
  std::stringstream onDisk;
  onDisk << file.rdbuf();
  EXPECT_EQ(onDisk.str(), video);
  std::filesystem::remove_all(dataDir);
}

struct PutCase {
  const char* name;
  std::function<httplib::Result(httplib::Client&, const OpenedUpload&)> put;
  int status;
};

// Every case opens a 10 MB upload in two 5 MB chunks; `sent` chunks are accepted before the case.
TEST(UploadEndpointTest, RefusesChunksThatBreakTheRules) {
  const std::uint64_t size = 10 * MB;
  const std::string video = TestBytes(size);
  const std::string firstChunk = video.substr(0, 5 * MB);
  const std::string secondChunk = video.substr(5 * MB);
  auto put = [&](std::uint64_t first, std::uint64_t last, std::uint64_t total, std::string type = "video/mp4") {
    return [=, &video](httplib::Client& client, const OpenedUpload& upload) {
      return PutChunk(client, upload.target, video.substr(first, last - first + 1), first, last, total, type);
    };
  };
  auto withHeaders = [&](httplib::Headers headers, std::string body, std::string type = "video/mp4") {
    return [=](httplib::Client& client, const OpenedUpload& upload) {
      return client.Put(upload.target, headers, body, type);
    };
  };
  const std::string range0 = "bytes 0-" + std::to_string(5 * MB - 1) + "/" + std::to_string(size);
  const PutCase fresh[] = {
      {"second chunk first", put(5 * MB, size - 1, size), 416},
      {"total is not the video size", put(0, 5 * MB - 1, size + 1), 416},
      {"chunk shorter than planned", put(0, MB - 1, size), 416},
      {"text content type", put(0, 5 * MB - 1, size, "text/plain"), 415},
      {"content type with parameter", put(0, 5 * MB - 1, size, "video/mp4; codecs=avc1"), 415},
      {"no content type", put(0, 5 * MB - 1, size, ""), 415},
      {"range with equals sign", withHeaders({{"Content-Range", "bytes=0-5242879/10485760"}}, firstChunk), 400},
      {"range without total", withHeaders({{"Content-Range", "bytes 0-5242879"}}, firstChunk), 400},
      {"no range", withHeaders({}, firstChunk), 400},
      {"repeated range", withHeaders({{"Content-Range", range0}, {"Content-Range", range0}}, firstChunk), 400},
      {"body shorter than range", withHeaders({{"Content-Range", range0}}, firstChunk.substr(1)), 400},
      {"unknown upload id",
       [&](httplib::Client& client, const OpenedUpload&) {
         return PutChunk(client, "/upload/?upload_id=1&upload_token=x", firstChunk, 0, 5 * MB - 1, size);
       },
       404},
      {"wrong upload token",
       [&](httplib::Client& client, const OpenedUpload& upload) {
         return PutChunk(client, "/upload/?upload_id=" + upload.uploadId + "&upload_token=x", firstChunk, 0,
                         5 * MB - 1, size);
       },
       404},
  };
  const PutCase afterFirst[] = {
      {"first chunk again", put(0, 5 * MB - 1, size), 416},
      {"overlapping range", put(MB, size - 1, size), 416},
      {"second chunk cut short", put(5 * MB, size - 2, size), 416},
  };
  UploadFixture f;
  auto run = [&](const PutCase& c, bool sendFirst) {
    const OpenedUpload upload = OpenUpload(f.running, f.tokens.accessToken, size, 5 * MB, 2);
    if (sendFirst) {
      ASSERT_EQ(PutChunk(*f.client, upload.target, firstChunk, 0, 5 * MB - 1, size)->status, 206);
    }
    auto res = c.put(*f.client, upload);
    ASSERT_TRUE(res) << c.name << ": " << httplib::to_string(res.error());
    EXPECT_EQ(res->status, c.status) << c.name << ": " << res->body;
    // The refusal leaves the upload as it was: the expected chunk still completes it.
    if (c.status == 404) return;
    if (!sendFirst) {
      ASSERT_EQ(PutChunk(*f.client, upload.target, firstChunk, 0, 5 * MB - 1, size)->status, 206) << c.name;
    }
    auto completing = PutChunk(*f.client, upload.target, secondChunk, 5 * MB, size - 1, size);
    ASSERT_TRUE(completing) << c.name;
    EXPECT_EQ(completing->status, 201) << c.name;
    EXPECT_EQ(f.running.sandbox.Upload(upload.uploadId)->sha256Hex, Sha256Hex(video)) << c.name;
  };
  for (const auto& c : fresh) run(c, false);
  for (const auto& c : afterFirst) run(c, true);
}

TEST(UploadEndpointTest, CompletedUploadTakesNoMoreChunksAndUrlsExpire) {
  UploadFixture f;
  const std::string video = TestBytes(1000);
  const OpenedUpload done = OpenUpload(f.running, f.tokens.accessToken, 1000, 1000, 1);
  ASSERT_EQ(PutChunk(*f.client, done.target, video, 0, 999, 1000)->status, 201);
  EXPECT_EQ(PutChunk(*f.client, done.target, video, 0, 999, 1000)->status, 416);

  const OpenedUpload late = OpenUpload(f.running, f.tokens.accessToken, 1000, 1000, 1);
  f.running.sandbox.AdvanceClock(std::chrono::seconds(3600));
  auto expired = PutChunk(*f.client, late.target, video, 0, 999, 1000);
  ASSERT_TRUE(expired);
  EXPECT_EQ(expired->status, 403);
}

// Sends the headers and part of a chunk's body, then closes the connection.
void SendBrokenChunk(std::uint16_t port, const std::string& target, std::uint64_t size) {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  const std::string request = "PUT " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: video/mp4\r\n" +
                              "Content-Range: bytes 0-" + std::to_string(size - 1) + "/" + std::to_string(size) +
                              "\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n" +
                              TestBytes(size / 2);
  ASSERT_EQ(::send(sock, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  ::close(sock);
}

TEST(UploadEndpointTest, ChunkThatBrokeOffCanBeSentAgain) {
  UploadFixture f;
  const std::uint64_t size = 200000;
  const OpenedUpload upload = OpenUpload(f.running, f.tokens.accessToken, size, size, 1);
  SendBrokenChunk(f.running.sandbox.Port(), upload.target, size);

  // The broken attempt may still be being read; the retry succeeds once the sandbox gave up on it.
  httplib::Result retry{nullptr, httplib::Error::Unknown};
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  do {
    retry = PutChunk(*f.client, upload.target, TestBytes(size), 0, size - 1, size);
  } while (retry && retry->status == 416 && std::chrono::steady_clock::now() < deadline);
  ASSERT_TRUE(retry);
  EXPECT_EQ(retry->status, 201);
  const auto received = f.running.sandbox.Upload(upload.uploadId);
  EXPECT_EQ(received->sha256Hex, Sha256Hex(TestBytes(size)));
  EXPECT_EQ(received->chunks.size(), 1u);
}

}  // namespace
}  // namespace tiktok_sandbox::test
