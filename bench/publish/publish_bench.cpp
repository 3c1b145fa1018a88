// Publishing benchmark: one whole publish of a large export through the plug-in module (loaded by
// path, driven through its callbacks, signed in through the sandbox's headless browser) to the
// in-process sandbox over loopback, against two references that send the same chunks to the same
// sandbox: the host's request processor on its own (a), reading each chunk just before it sends it
// as the plug-in does, or (a') reading the next chunk while one is sent, and one curl process (b).
// It prints throughput, CPU time, this process's peak memory above the idle host, and the ratios
// against their targets; it asserts nothing.
//
//   publish_bench [--size 1G] [--repeat 5] [--verbose] [--module path/to/TikTokPostProcess.so]
//
// They take turns --repeat times and the medians count, so that a moment of load from
// elsewhere on the machine does not decide a ratio; --verbose prints every turn.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "bench/BenchSupport.h"
#include "refhost/BasicSuiteHost.h"
#include "refhost/ExportParamHost.h"
#include "refhost/HostRecord.h"
#include "refhost/PluginModule.h"
#include "refhost/StatusRecorder.h"
#include "sandbox/HeadlessBrowser.h"
#include "sandbox/Sandbox.h"
#include "talcore/string/Unicode.h"
#include "talcore/threads/MainThread.h"
#include "talcore/utility/OpenFileInDefaultApplication.h"
#include "talnet/http/OriginMap.h"
#include "talui/MessageBox.h"

namespace {

using namespace vekta::bench;
using Clock = std::chrono::steady_clock;
namespace host = vekta::host;

constexpr std::uint32_t kInstanceID = 4711;

// The person at the keyboard: the browser signs in at once, the login prompt waits to be closed.
struct Person : talui::dialogs::MessageBoxPresenter {
    void Show(talui::dialogs::UI_MessageBox&) override {}
    void Hidden(talui::dialogs::UI_MessageBox&) override {}
    void Open(const std::string& address) {
        std::lock_guard lock(mutex);
        browsers.emplace_back([address] { vekta::sandbox::HeadlessBrowser().Open(address); });
    }
    void JoinBrowsers() {
        std::vector<std::thread> done;
        {
            std::lock_guard lock(mutex);
            done.swap(browsers);
        }
        for (auto& t : done) t.join();
    }
    std::mutex mutex;
    std::vector<std::thread> browsers;
};

// When the plug-in reported its first progress: its requests before the transfer (token, profile
// link, initialisation) are done then, and the first chunk is on its way.
std::atomic<Clock::rep> firstProgressAt{0};

// The module as the host runs it: one instance, signed in, publishing a draft of one export.
class HostedPlugin {
public:
    HostedPlugin(const std::string& modulePath, Person& person) {
        std::string error;
        module_ = host::PluginModule::Load(modulePath, error);
        if (!module_) Fail("cannot load the module: " + error);
        host::ExportParamHost::Get().ResetInstance(kInstanceID);
        record_ = host::MakeHostInstanceRecord(kInstanceID, host::kDefaultHostGroupID, host::kBasicSuiteAccessor);
        if (T().createInstance(&record_, &host::StatusRecorder::StatusCallback,
                               &host::StatusRecorder::AccountCallback) != kCallbackDone ||
            T().addParameters(&record_) != kCallbackDone || T().refreshParameters(&record_) != kCallbackDone)
            Fail("the instance could not be set up");
        T().parameterChanged(&record_, "VOXATikTokLogin");
        person.JoinBrowsers();
        std::uint8_t signedIn = 0;
        T().queryHasCredentials(&record_, &signedIn);
        if (!signedIn) Fail("the sign-in through the sandbox did not succeed");
    }
    ~HostedPlugin() {
        T().destroyInstance(&record_);
        talcore::threads::PumpMainThreadTasks();
    }
    HostedPlugin(const HostedPlugin&) = delete;
    HostedPlugin& operator=(const HostedPlugin&) = delete;

    // A draft of `file`, described as the host describes a finished H.264 export.
    void DescribeExport(const std::string& file) {
        host::ExportParamHost::Get().SetValue(kInstanceID, "VOXATikTokPublishType",
                                              host::ParameterValue(std::int32_t{1}));
        path_ = talcore::string::UTF8to16(file);
        OutputFileEntry entry{};
        const char16_t* p = path_.c_str();
        std::memcpy(reinterpret_cast<std::uint8_t*>(&entry) + offsetof(OutputFileEntry, path), &p, sizeof p);
        ExportVideoInfo info{};
        info.fileType = VEKTA_FOURCC('H', '2', '6', '4');
        info.frameWidth = 1080;
        info.frameHeight = 1920;
        info.frameRate = 30.0f;
        info.durationMs = 60'000;
        if (T().receiveOutputFiles(&record_, 0, 0, 1, &entry) != kCallbackDone ||
            T().checkOutputFormat(&record_, &info) != kCallbackDone ||
            T().receiveVideoInfo(&record_, &info) != kCallbackDone)
            Fail("the export could not be described");
    }

    void Publish() {
        if (T().execute(&record_, kExecuteSelectorPublish) != kCallbackDone) Fail("Execute failed");
        const auto events = host::StatusRecorder::Get().StatusEvents(kInstanceID);
        if (events.empty() || events.back().state != kUploadStateSucceeded)
            Fail("the publish did not succeed: " +
                 (events.empty() ? std::string("no status") : talcore::string::UTF16to8(events.back().text)));
    }

private:
    const PostProcessCallbacks& T() const { return module_->Callbacks(); }
    std::unique_ptr<host::PluginModule> module_;
    HostInstanceRecord record_{};
    std::u16string path_;
};

struct Measured {
    double seconds = 0;
    double setupSeconds = 0;  // the plug-in's: from Execute to its first chunk on the way
    std::uint64_t peakAboveIdle = 0;
    // User and system time: this process's (the in-process sandbox's share included), and that of
    // the curl process.
    double cpuSeconds = 0;
    double childCpuSeconds = 0;
};

std::uint64_t Above(std::uint64_t peak, std::uint64_t base) { return peak > base ? peak - base : 0; }

Measured Median(std::vector<Measured> runs) {
    std::sort(runs.begin(), runs.end(), [](const Measured& a, const Measured& b) { return a.seconds < b.seconds; });
    return runs[runs.size() / 2];
}

// The medians of every turn, the ratios against curl and the memory target.
void PrintReport(const std::vector<Measured>& pluginRuns, const std::vector<Measured>& processorRuns,
                 const std::vector<Measured>& readAheadRuns, const std::vector<Measured>& curlRuns, const Plan& plan,
                 int repeat, std::uint64_t idle, const std::string& digest) {
    Measured pluginRun = Median(pluginRuns);
    pluginRun.peakAboveIdle = pluginRuns.front().peakAboveIdle;
    Measured processorRun = Median(processorRuns);
    processorRun.peakAboveIdle = processorRuns.front().peakAboveIdle;
    const Measured readAheadRun = Median(readAheadRuns);
    const Measured curlRun = Median(curlRuns);
    const Measured pluginTransfer{pluginRun.seconds - pluginRun.setupSeconds, 0, 0};
    // CPU times are medians of their own: the sandbox's share is what this process spent while the
    // curl process sent the same bytes, and the plug-in's own is the rest of its publish.
    const auto medianOf = [](const std::vector<Measured>& runs, double Measured::*field) {
        std::vector<double> values;
        for (const auto& run : runs) values.push_back(run.*field);
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const double pluginCpu = medianOf(pluginRuns, &Measured::cpuSeconds);
    const double sandboxCpu = medianOf(curlRuns, &Measured::cpuSeconds);
    const double curlCpu = medianOf(curlRuns, &Measured::childCpuSeconds);
    const double pluginOwnCpu = std::max(0.0, pluginCpu - sandboxCpu);

    const auto rate = [&](const Measured& m) { return static_cast<double>(plan.size) / 1e6 / m.seconds; };
    const auto mib = [](std::uint64_t bytes) { return static_cast<double>(bytes) / kMiB; };
    const std::uint64_t memoryTarget = 2 * plan.chunk + 32 * kMiB;
    const double speedRatio = rate(pluginRun) / rate(curlRun);
    std::printf("publish of %.1f MiB in %" PRIu64
                " chunks of %.1f MiB to the in-process sandbox on 127.0.0.1, "
                "median of %d; idle host %.1f MiB resident\n",
                mib(plan.size), plan.count, mib(plan.chunk), repeat, mib(idle));
    std::printf("  %-36s %9s %9s %16s\n", "", "MB/s", "seconds", "peak above idle");
    std::printf("  %-36s %9.1f %9.2f %12.1f MiB\n", "plug-in: Execute, the whole publish", rate(pluginRun),
                pluginRun.seconds, mib(pluginRun.peakAboveIdle));
    std::printf("  %-36s %9.1f %9.2f\n", "  of which the chunks", rate(pluginTransfer), pluginTransfer.seconds);
    std::printf("  %-36s %9.1f %9.2f %12.1f MiB\n", "(a) request processor, same PUTs", rate(processorRun),
                processorRun.seconds, mib(processorRun.peakAboveIdle));
    std::printf("  %-36s %9.1f %9.2f\n", "(a') the same, next chunk read ahead", rate(readAheadRun),
                readAheadRun.seconds);
    std::printf("  %-36s %9.1f %9.2f %16s\n", "(b) curl program, same PUTs", rate(curlRun), curlRun.seconds,
                "(its own process)");
    std::printf("CPU time (user + system, medians)\n");
    std::printf("  %-36s %9.3f s\n", "plug-in publish, sandbox included", pluginCpu);
    std::printf("  %-36s %9.3f s\n", "sandbox receiving curl's chunks", sandboxCpu);
    std::printf("  %-36s %9.3f s\n", "plug-in's own (the difference)", pluginOwnCpu);
    std::printf("  %-36s %9.3f s\n", "curl process", curlCpu);
    std::printf("ratios\n");
    std::printf("  plug-in / curl throughput:          %.2f  (target >= 0.95: %s)\n", speedRatio,
                speedRatio >= 0.95 ? "met" : "NOT met");
    std::printf("  plug-in / curl CPU time:            %.2f\n", curlCpu > 0 ? pluginOwnCpu / curlCpu : 0.0);
    std::printf("  plug-in / request processor:        %.2f\n", rate(pluginRun) / rate(processorRun));
    std::printf("  plug-in chunks alone / curl:        %.2f\n", rate(pluginTransfer) / rate(curlRun));
    std::printf("  request processor / curl:           %.2f  (reading ahead: %.2f)\n",
                rate(processorRun) / rate(curlRun), rate(readAheadRun) / rate(curlRun));
    std::printf("  plug-in peak above idle:            %.1f MiB  (target < 2 x chunk + 32 MiB = %.1f MiB: %s)\n",
                mib(pluginRun.peakAboveIdle), mib(memoryTarget),
                pluginRun.peakAboveIdle < memoryTarget ? "met" : "NOT met");
    std::printf("all uploads complete, sha256 %s\n", digest.c_str());
}

int Run(int argc, char** argv) {
    std::uint64_t size = 1024 * kMiB;
    int repeat = 5;
    bool verbose = false;
    std::string modulePath = VEKTA_PLUGIN_PATH;
    CLI::App app(
        "One whole publish of a large export through the plug-in module to the in-process sandbox, "
        "against the request processor and the curl program sending the same chunks.",
        "publish_bench");
    AddSizeOption(app, "--size", size, "the export's size (default 1G)");
    AddRepeatOption(app, repeat);
    app.add_flag("--verbose", verbose, "print every turn");
    app.add_option("--module", modulePath, "the module (default: this build's)")->type_name("PATH");
    if (const auto exitCode = ReadCommandLine(app, argc, argv)) return *exitCode;
    if (size == 0 || size > 4'000'000'000ull) Fail("--size must be from 1 byte to 4000000000 bytes");

    TempDir temp;
    const std::string source = temp.File("export.mp4");
    {
        const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) Fail("cannot make the export file");
        WritePattern(fd, 0, size);
        ::close(fd);
        WarmPageCache(source);
    }

    vekta::sandbox::SandboxConfig config;
    config.maxPendingUploads = 0;
    vekta::sandbox::Sandbox sandbox(config);
    if (!sandbox.Start(0)) Fail("the sandbox did not start");
    talnet::http::SetOriginMapping("https://www.tiktok.com", sandbox.Origin());
    talnet::http::SetOriginMapping("https://open.tiktokapis.com", sandbox.Origin());
    static Person person;
    ::setenv("BROWSER", "vekta-bench-no-such-browser", 1);
    talcore::utility::SetOpenFileFallback([](const std::string& address) { person.Open(address); });
    talui::dialogs::SetMessageBoxPresenter(&person);
    host::StatusRecorder::Get().SetStatusObserver([](const host::StatusEvent& event) {
        Clock::rep none = 0;
        if (event.state == kUploadStateUploading)
            firstProgressAt.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
    });

    HostedPlugin plugin(modulePath, person);
    plugin.DescribeExport(source);
    talcore::threads::PumpMainThreadTasks();
    const std::uint64_t idle = ResidentBytes();
    if (!ResetPeakResident()) std::printf("note: the peak cannot be reset here; it covers the whole run\n");

    // The plug-in goes first in every turn, and its peak is read from the first publish, from the
    // idle host, before the references have left anything in the allocator.
    auto processor = talnet::http::GetGlobalRequestProcessor();
    std::vector<Measured> pluginRuns, processorRuns, readAheadRuns, curlRuns;
    Plan plan;
    std::string digest;
    for (int round = 0; round < repeat; ++round) {
        Measured p;
        firstProgressAt = 0;
        ResetPeakResident();
        const double cpuBefore = ProcessCpuSeconds();
        const auto start = Clock::now();
        plugin.Publish();
        const auto end = Clock::now();
        p.cpuSeconds = ProcessCpuSeconds() - cpuBefore;
        p.seconds = std::chrono::duration<double>(end - start).count();
        p.setupSeconds =
            std::chrono::duration<double>(Clock::time_point(Clock::duration(firstProgressAt.load())) - start).count();
        p.peakAboveIdle = Above(PeakResidentBytes(), idle);
        pluginRuns.push_back(p);
        const auto upload = sandbox.Uploads().back();
        plan = {upload.videoSize, upload.chunkSize, upload.totalChunkCount};
        if (digest.empty()) digest = upload.sha256Hex;

        sandbox.SetAutoApprove(true);
        const std::string token = SignIn(*processor, sandbox.Origin());
        const std::string processorURL = InitUpload(*processor, sandbox.Origin(), token, plan);
        Measured a;
        const std::uint64_t before = ResidentBytes();
        ResetPeakResident();
        a.seconds = UploadWithProcessor(*processor, source, processorURL, plan);
        a.peakAboveIdle = Above(PeakResidentBytes(), before);
        processorRuns.push_back(a);
        const auto processorUpload = sandbox.Uploads().back();

        Measured ahead;
        ahead.seconds = UploadWithProcessor(*processor, source, InitUpload(*processor, sandbox.Origin(), token, plan),
                                            plan, ChunkReading::WhileOneIsInFlight);
        readAheadRuns.push_back(ahead);
        const auto readAheadUpload = sandbox.Uploads().back();

        Measured b;
        CpuTimes curlCpu;
        b.seconds = UploadWithCurl(temp, sandbox.Origin(), InitUpload(*processor, sandbox.Origin(), token, plan), plan,
                                   &curlCpu);
        b.cpuSeconds = curlCpu.self;
        b.childCpuSeconds = curlCpu.child;
        curlRuns.push_back(b);
        const auto curlUpload = sandbox.Uploads().back();
        sandbox.SetAutoApprove(false);

        if (verbose)
            std::printf(
                "round %d: plug-in %.3f (setup %.3f, cpu %.3f) processor %.3f reading ahead %.3f curl %.3f "
                "(cpu %.3f + sandbox %.3f) s\n",
                round, p.seconds, p.setupSeconds, p.cpuSeconds, a.seconds, ahead.seconds, b.seconds, b.childCpuSeconds,
                b.cpuSeconds);
        for (const auto* sent : {&upload, &processorUpload, &readAheadUpload, &curlUpload})
            if (!sent->complete || sent->sha256Hex != digest) Fail("the uploads differ");
    }
    PrintReport(pluginRuns, processorRuns, readAheadRuns, curlRuns, plan, repeat, idle, digest);

    host::StatusRecorder::Get().SetStatusObserver({});
    talcore::utility::SetOpenFileFallback({});
    talui::dialogs::SetMessageBoxPresenter(nullptr);
    talnet::http::ClearOriginMappings();
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return vekta::bench::RunMain("publish_bench", Run, argc, argv); }
