// Chunked upload throughput: the platform's request processor against the curl command line tool,
// both PUTting the same byte ranges to the sandbox program over loopback, and this process's peak
// memory while it uploads. It measures and prints; it asserts nothing about speed.
//
// The processor is driven two ways: with the next chunk read while the current one is in flight
// (two buffers, the pipelining the curl program has too), and with each chunk read just before it
// is sent (one buffer, as the plug-in sends). Each figure is the median of the rounds.
//
//   upload_bench [--size 1G] [--chunk 5M] [--repeat 5]
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <any>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "bench/BenchSupport.h"
#include "talcore/serialization/JSON.h"
#include "talnet/http/RequestProcessor.h"

namespace {

using namespace vekta::bench;
using Clock = std::chrono::steady_clock;
namespace json = talcore::serialization;
namespace http = talnet::http;

// The sandbox program on a port of its own, stopped with the bench.
class SandboxProcess {
public:
    explicit SandboxProcess(TempDir& temp) {
        const std::string portFile = temp.File("port");
        // Its output goes to a file, so nothing waiting on this process's output waits on it too.
        pid_ = Spawn({VEKTA_SANDBOX_PROGRAM, "--port", "0", "--port-file", portFile, "--auto-approve"}, "/dev/null",
                     temp.File("sandbox.log"));
        const auto limit = Clock::now() + std::chrono::seconds(15);
        while (Clock::now() < limit) {
            std::ifstream in(portFile);
            if (in >> port_ && port_ > 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Fail("the sandbox did not start");
    }
    ~SandboxProcess() {
        kill(pid_, SIGTERM);
        for (int i = 0; i < 250 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    pid_t pid_ = 0;
    int port_ = 0;
};

// The uploads are complete in the sandbox and all have the same digest.
std::string CompareUploads(http::RequestProcessor& processor, const std::string& origin,
                           const std::vector<std::string>& ids) {
    const auto answer = Call(processor, "GET", origin + "/_sandbox/uploads", {}, {});
    std::vector<std::string> digests(ids.size());
    const json::JSONNode root = json::JSONParse(answer->body);
    for (const auto& upload : std::any_cast<const json::JSONArray&>(*json::GetVariantInObject(root, "uploads"))) {
        const auto& id = std::any_cast<const std::string&>(*json::GetVariantInObject(upload, "upload_id"));
        const auto wanted = std::find(ids.begin(), ids.end(), id);
        if (wanted == ids.end()) continue;
        if (!std::any_cast<bool>(*json::GetVariantInObject(upload, "complete")))
            Fail("upload " + id + " is incomplete");
        digests[static_cast<std::size_t>(wanted - ids.begin())] =
            std::any_cast<const std::string&>(*json::GetVariantInObject(upload, "sha256"));
    }
    for (const auto& digest : digests) {
        if (digest.empty() || digest != digests.front()) Fail("the uploads differ");
    }
    return digests.front();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Run(int argc, char** argv) {
    Plan plan{1024 * kMiB, 5 * kMiB, 0};
    int repeat = 5;
    CLI::App app(
        "Chunked upload throughput: the request processor against the curl program, both PUTting the "
        "same ranges to the sandbox program on 127.0.0.1, and this process's peak memory.",
        "upload_bench");
    AddSizeOption(app, "--size", plan.size, "the file's size (default 1G)");
    AddSizeOption(app, "--chunk", plan.chunk, "the chunk size; one request when it is the size or more (default 5M)");
    AddRepeatOption(app, repeat);
    if (const auto exitCode = ReadCommandLine(app, argc, argv)) return *exitCode;
    if (plan.size == 0 || plan.chunk == 0) Fail("size and chunk must be positive");
    if (plan.chunk >= plan.size) plan.chunk = plan.size;  // one request for the whole file
    plan.count = plan.size / plan.chunk;

    TempDir temp;
    const std::string sourcePath = temp.File("source.mp4");
    {
        const int fd = open(sourcePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) Fail("cannot make the source file");
        WritePattern(fd, 0, plan.size);
        close(fd);
        WarmPageCache(sourcePath);
    }
    SandboxProcess sandbox(temp);
    auto processor = http::GetGlobalRequestProcessor();
    const std::string token = SignIn(*processor, sandbox.Origin());

    std::vector<double> pipelined, serial, curl;
    std::vector<std::string> ids;
    std::uint64_t peak = 0;
    for (int round = 0; round < repeat; ++round) {
        const std::string pipelinedUrl = InitUpload(*processor, sandbox.Origin(), token, plan);
        const std::string serialUrl = InitUpload(*processor, sandbox.Origin(), token, plan);
        const std::string curlUrl = InitUpload(*processor, sandbox.Origin(), token, plan);
        pipelined.push_back(
            UploadWithProcessor(*processor, sourcePath, pipelinedUrl, plan, ChunkReading::WhileOneIsInFlight));
        serial.push_back(UploadWithProcessor(*processor, sourcePath, serialUrl, plan, ChunkReading::JustBeforeSending));
        if (round == 0) peak = PeakResidentBytes();  // before the curl files are written
        curl.push_back(UploadWithCurl(temp, sandbox.Origin(), curlUrl, plan));
        for (const auto* url : {&pipelinedUrl, &serialUrl, &curlUrl}) ids.push_back(QueryValue(*url, "upload_id"));
    }
    const std::string digest = CompareUploads(*processor, sandbox.Origin(), ids);

    const auto megabytesPerSecond = [&](double seconds) { return static_cast<double>(plan.size) / 1e6 / seconds; };
    const double target = static_cast<double>(2 * plan.chunk + 32 * kMiB);
    const double pipelinedRatio = Median(curl) / Median(pipelined);
    std::printf("upload of %.1f MiB in %" PRIu64 " chunks of %.1f MiB to the sandbox on 127.0.0.1, median of %d\n",
                static_cast<double>(plan.size) / kMiB, plan.count, static_cast<double>(plan.chunk) / kMiB, repeat);
    std::printf("  request processor, next chunk read during a send: %8.1f MB/s  (%.2f s)\n",
                megabytesPerSecond(Median(pipelined)), Median(pipelined));
    std::printf("  request processor, each chunk read before its send: %6.1f MB/s  (%.2f s)\n",
                megabytesPerSecond(Median(serial)), Median(serial));
    std::printf("  curl tool:                                        %8.1f MB/s  (%.2f s)\n",
                megabytesPerSecond(Median(curl)), Median(curl));
    std::printf("  ratio processor/curl: %.2f (target >= 0.90: %s); reading before each send: %.2f\n", pipelinedRatio,
                pipelinedRatio >= 0.9 ? "met" : "NOT met", Median(curl) / Median(serial));
    std::printf("  peak RSS of this process: %.1f MiB (target < 2 chunk sizes + 32 MiB = %.1f MiB: %s)\n",
                static_cast<double>(peak) / kMiB, target / kMiB,
                static_cast<double>(peak) < target ? "met" : "NOT met");
    std::printf("  all %zu uploads complete, sha256 %s\n", ids.size(), digest.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return vekta::bench::RunMain("upload_bench", Run, argc, argv); }
