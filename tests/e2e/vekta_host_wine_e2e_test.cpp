// vekta-host.exe end to end under Wine: the Windows program, started as Windows starts it (a UTF-16
// command line, a console of its own for Ctrl-C), against the Linux build's tiktok-sandbox and
// stand-in browser, which Wine runs beside it.
#include <gtest/gtest.h>
#include <windows.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "talcore/string/Unicode.h"
#include "talcore/utility/Guid.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/FileDigest.h"

namespace {

namespace fs = std::filesystem;
namespace http = boost::beast::http;
using namespace std::chrono_literals;
using vekta::test::ChildProcess;
using vekta::test::RunResult;

// How long a program of the Linux build may live: the suite's bound for this test program, so
// that one left behind by a killed test still ends.
constexpr const char* kNativeLifetimeSeconds = "900";
constexpr std::uint64_t kChunkBytes = 5 * 1024 * 1024;

std::string UTF8(const fs::path& path) { return talcore::string::UTF16to8(path.u16string()); }

// Wine's own translations between its drive letters and the Linux file system.
using UnixNameFunction = char*(CDECL*)(const wchar_t*);
using DosNameFunction = wchar_t*(CDECL*)(const char*);

UnixNameFunction UnixNameOf() {
    return reinterpret_cast<UnixNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}
DosNameFunction DosNameOf() {
    return reinterpret_cast<DosNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
}

std::string UnixPath(const fs::path& path) {
    char* name = UnixNameOf()(path.c_str());
    if (!name) throw std::runtime_error("no Linux name for " + UTF8(path));
    std::string text(name);
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

fs::path DosPath(const std::string& unixPath) {
    wchar_t* name = DosNameOf()(unixPath.c_str());
    if (!name) throw std::runtime_error("no Windows name for " + unixPath);
    fs::path path(name);
    HeapFree(GetProcessHeap(), 0, name);
    return path;
}

fs::path ProgramFolder() {
    std::wstring buffer(32768, L'\0');
    buffer.resize(GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
    return fs::path(buffer).parent_path();
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

using vekta::test::Sha256Hex;

template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// One request to the sandbox's control API on 127.0.0.1, bounded by the socket's own time-outs.
struct ControlAnswer {
    int status = 0;  // 0: no answer
    std::string body;
};

ControlAnswer Control(std::uint16_t port, http::verb verb, const std::string& target, const std::string& body = {}) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    boost::system::error_code failure;
    socket.connect({boost::asio::ip::make_address_v4("127.0.0.1"), port}, failure);
    if (failure) return {};
    const DWORD timeoutMs = 10000;
    for (const int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
        setsockopt(socket.native_handle(), SOL_SOCKET, option, reinterpret_cast<const char*>(&timeoutMs),
                   sizeof timeoutMs);
    }
    http::request<http::string_body> request{verb, target, 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    request.set(http::field::content_type, "application/json");
    request.keep_alive(false);
    request.body() = body;
    request.prepare_payload();
    http::write(socket, request, failure);
    if (failure) return {};
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response, failure);
    if (failure) return {};
    return {static_cast<int>(response.result_int()), response.body()};
}

// A program of the Linux build, started from here through run-native.sh (see there why).
class NativeProgram {
public:
    NativeProgram(const fs::path& work, std::vector<std::string> argv) : pidFile_(work / "native.pid") {
        std::vector<std::string> command = {UTF8(DosPath("/bin/sh")), VEKTA_RUN_NATIVE_SCRIPT, "start",
                                            UnixPath(pidFile_), kNativeLifetimeSeconds};
        command.insert(command.end(), argv.begin(), argv.end());
        launcher_ = std::make_unique<ChildProcess>(command);  // Wine gives it no handle: nothing to wait for
    }
    // Asks it to end (SIGTERM) and waits for its exit status; -1 when it did not end in time.
    int Stop(std::chrono::milliseconds timeout) {
        if (!WaitUntil([&] { return fs::exists(pidFile_); }, timeout)) return -1;
        ChildProcess stop({UTF8(DosPath("/bin/sh")), VEKTA_RUN_NATIVE_SCRIPT, "stop", UnixPath(pidFile_)});
        const fs::path exitFile = pidFile_.wstring() + L".exit";
        if (!WaitUntil([&] { return fs::exists(exitFile); }, timeout)) return -1;
        return std::stoi(ReadAll(exitFile));
    }
    std::string Output() const { return launcher_->Output() + launcher_->Errors(); }

private:
    fs::path pidFile_;
    std::unique_ptr<ChildProcess> launcher_;
};

class VektaHostUnderWine : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(VEKTA_NATIVE_SANDBOX).empty() || std::string(VEKTA_NATIVE_BROWSER).empty()) {
            GTEST_SKIP() << "no Linux build to run against: configure with -DVEKTA_NATIVE_SANDBOX=<build>/bin/"
                            "tiktok-sandbox and -DVEKTA_NATIVE_BROWSER=<build>/bin/tests/test-headless-browser "
                            "(scripts/test.sh windows does)";
        }
        if (std::string(VEKTA_E2E_CLIP).empty())
            GTEST_SKIP() << "no test video: ffmpeg was not found at configure time";
        if (!UnixNameOf() || !DosNameOf()) GTEST_SKIP() << "these tests run under Wine, beside Linux programs";

        work_ = fs::temp_directory_path() / ("vekta-wine-e2e-" + talcore::utility::Guid::CreateUnique().AsUTF8String());
        // The host's settings folder is named beyond ASCII: it is read from the UTF-16 environment.
        appData_ = work_ / u"App Data \u00E9t\u00E9 \U0001F3AC";
        fs::create_directories(work_ / "uploads");
        fs::create_directories(appData_);
        browserRecord_ = DosPath(VEKTA_BROWSER_RECORD);
        fs::remove(browserRecord_);
        clip_ = DosPath(VEKTA_E2E_CLIP);

        std::vector<std::string> argv = {
            VEKTA_NATIVE_SANDBOX,       "--port", "0", "--port-file", UnixPath(work_ / "port"), "--data-dir",
            UnixPath(work_ / "uploads")};
        sandbox_ = std::make_unique<NativeProgram>(work_, argv);
        ASSERT_TRUE(WaitUntil([&] { return fs::exists(work_ / "port"); }, 30s)) << sandbox_->Output();
        port_ = static_cast<std::uint16_t>(std::stoi(ReadAll(work_ / "port")));
        origin_ = "http://127.0.0.1:" + std::to_string(port_);
    }

    void TearDown() override {
        if (sandbox_) {
            // A sign-in held at the authorization page lets go, so its browser ends too.
            Control(port_, http::verb::post, "/_sandbox/faults/release");
            EXPECT_EQ(sandbox_->Stop(30s), 0) << sandbox_->Output();
        }
        std::error_code ignored;
        if (!work_.empty()) fs::remove_all(work_, ignored);
    }

    std::vector<std::string> HostArgv(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {UTF8(ProgramFolder() / "vekta-host.exe"), "--origin-map",
                                         "https://www.tiktok.com=" + origin_, "--origin-map",
                                         "https://open.tiktokapis.com=" + origin_};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    std::map<std::string, std::string> HostEnvironment() const { return {{"APPDATA", UTF8(appData_)}}; }
    RunResult Host(const std::vector<std::string>& args) {
        return vekta::test::Run(HostArgv(args), HostEnvironment(), 180s);
    }
    RunResult SignIn() {
        auto signin = Host({"signin"});
        EXPECT_EQ(signin.status, 0) << signin.out << signin.err;
        return signin;
    }

    nlohmann::json Get(const std::string& path) {
        const auto answer = Control(port_, http::verb::get, path);
        EXPECT_EQ(answer.status, 200) << path;
        return answer.status == 200 ? nlohmann::json::parse(answer.body) : nlohmann::json();
    }
    void Post(const std::string& path, const nlohmann::json& body) {
        EXPECT_EQ(Control(port_, http::verb::post, path, body.dump()).status, 200) << path;
    }
    std::size_t CountRequests(const std::string& method, const std::string& path) {
        std::size_t count = 0;
        const auto requests = Get("/_sandbox/requests")["requests"];
        for (const auto& request : requests) count += request["method"] == method && request["path"] == path ? 1 : 0;
        return count;
    }

    // The one upload the sandbox received: every chunk as the plan of 5 MiB chunks has it, each
    // sent once with its exact range, and the bytes those of `file`.
    void ExpectWholeUpload(const fs::path& file, const std::string& kind) {
        const auto uploads = Get("/_sandbox/uploads")["uploads"];
        ASSERT_EQ(uploads.size(), 1u) << uploads.dump();
        const auto& upload = uploads[0];
        const std::uint64_t size = fs::file_size(file);
        const std::uint64_t count = size < kChunkBytes ? 1 : size / kChunkBytes;
        EXPECT_EQ(upload["kind"], kind);
        EXPECT_TRUE(upload["complete"].get<bool>());
        EXPECT_EQ(upload["video_size"].get<std::uint64_t>(), size);
        EXPECT_EQ(upload["total_chunk_count"].get<std::uint64_t>(), count);
        EXPECT_EQ(upload["sha256"], Sha256Hex(file));
        nlohmann::json expected = nlohmann::json::array();
        std::vector<std::string> ranges;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t first = i * kChunkBytes;
            const std::uint64_t last = i + 1 == count ? size - 1 : first + kChunkBytes - 1;
            expected.push_back({{"first", first}, {"last", last}, {"content_type", "video/mp4"}});
            ranges.push_back("bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                             std::to_string(size));
        }
        EXPECT_EQ(upload["chunks"], expected);
        std::vector<std::string> sent;
        const auto requests = Get("/_sandbox/requests")["requests"];
        for (const auto& request : requests)
            if (request["method"] == "PUT") sent.push_back(request["content_range"].get<std::string>());
        EXPECT_EQ(sent, ranges);
    }

    fs::path Preset() const { return appData_ / "vekta-host" / "tiktok.preset"; }

    fs::path work_, appData_, browserRecord_, clip_;
    std::uint16_t port_ = 0;
    std::string origin_;
    std::unique_ptr<NativeProgram> sandbox_;
};

// The system browser is reached through ShellExecuteW (Wine's launcher runs the stand-in), and the
// account lands in the preset under %APPDATA%, read from the UTF-16 environment like the trace file.
TEST_F(VektaHostUnderWine, SignsInThroughTheSystemBrowserAndKeepsTheAccountUnderAppData) {
    const fs::path trace = work_ / u"trace \u00E9t\u00E9.log";
    auto environment = HostEnvironment();
    environment["VEKTA_TRACE"] = "TikTok:5";
    environment["VEKTA_TRACE_FILE"] = UTF8(trace);
    const auto signin = vekta::test::Run(HostArgv({"signin"}), environment, 180s);
    ASSERT_EQ(signin.status, 0) << signin.out << signin.err;
    EXPECT_NE(signin.out.find("Signed in as Sandbox Creator"), std::string::npos) << signin.out;
    EXPECT_TRUE(fs::exists(Preset())) << UTF8(Preset());
    EXPECT_TRUE(fs::exists(trace)) << "VEKTA_TRACE_FILE names a file beyond ASCII";

    ASSERT_TRUE(WaitUntil([&] { return ReadAll(browserRecord_).find('\n') != std::string::npos; }, 10s));
    const std::string opened = ReadAll(browserRecord_);
    const std::string address = opened.substr(0, opened.find('\n'));
    EXPECT_EQ(opened.size(), address.size() + 1) << "opened once: " << opened;
    EXPECT_TRUE(
        std::regex_match(address, std::regex(R"(http://127\.0\.0\.1:559[89]\d/VektaAuthTikTok/start/[0-9a-f]{32})")))
        << address;
    EXPECT_EQ(CountRequests("GET", "/v2/auth/authorize/"), 1u);

    const auto again = Host({"signin"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("Signed in as Sandbox Creator"), std::string::npos) << "from the preset: " << again.out;
    EXPECT_EQ(CountRequests("GET", "/v2/auth/authorize/"), 1u);
}

TEST_F(VektaHostUnderWine, PublishesAPostChunkByChunk) {
    SignIn();
    const auto publish = Host({"publish", UTF8(clip_), "--video-info", "1080x1920@30:12000", "--caption", "From Wine",
                               "--privacy", "everyone"});
    ASSERT_EQ(publish.status, 0) << publish.out << publish.err;
    EXPECT_NE(publish.out.find("Result: Succeeded"), std::string::npos) << publish.out;
    ExpectWholeUpload(clip_, "direct");
    EXPECT_EQ(Get("/_sandbox/uploads")["uploads"][0]["post_info"]["title"], "From Wine");
}

// The name reaches the host as UTF-16 on its command line and the plug-in as a UTF-16 path.
TEST_F(VektaHostUnderWine, ADraftOfAnExportNamedBeyondASCIIGoesToTheInboxWhole) {
    const fs::path folder = work_ / u"\u65E5\u672C\u8A9E \u00E9t\u00E9";
    const fs::path file = folder / u"Caf\u00E9 \u2013 \U0001F3AC.mp4";
    fs::create_directories(folder);
    fs::copy_file(clip_, file);
    const auto publish = Host({"publish", UTF8(file), "--video-info", "1080x1920@30:12000", "--draft"});
    ASSERT_EQ(publish.status, 0) << publish.out << publish.err;
    EXPECT_NE(publish.out.find("Signed in as"), std::string::npos) << "signed in first: " << publish.out;
    EXPECT_NE(publish.out.find("Video: " + UTF8(file)), std::string::npos) << publish.out;
    ExpectWholeUpload(file, "inbox");
    EXPECT_TRUE(Get("/_sandbox/uploads")["uploads"][0]["post_info"].is_null());
}

// Refused before anything is sent, each with what to do about it.
TEST_F(VektaHostUnderWine, RefusalsSayWhyAndUploadNothing) {
    SignIn();
    const std::string clip = UTF8(clip_);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{"publish", clip, "--video-info", "1080x1920@30:700000", "--privacy", "everyone"},
         1,
         "Video duration limit is 10 minutes."},
        {{"publish", clip, "--video-info", "640x300@30:12000", "--privacy", "everyone"},
         1,
         "Video dimensions must be between 360x360 and 4096x4096."},
        {{"publish", clip, "--privacy", "everyone"}, 2, "publish needs --video-info WIDTHxHEIGHT@FPS:DURATION_MS here"},
        {{"publish", clip, "--video-info", "1080x1920@30fps:12000"}, 2, "frame rate '30fps' is not a number"},
        {{"--sandbox", "settings"}, 1, "no built-in TikTok sandbox"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const auto run = Host(c.args);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.message), std::string::npos) << run.out << run.err;
    }
    EXPECT_TRUE(Get("/_sandbox/uploads")["uploads"].empty());
}

// As installed: the module beside the program, or in ..\lib as the Linux build lays it out.
TEST_F(VektaHostUnderWine, FindsTheModuleBesideItselfOrInLib) {
    const fs::path built = ProgramFolder();
    const struct {
        const char* layout;
        fs::path moduleFolder;
    } cases[] = {{"beside", work_ / "beside"}, {"lib", work_ / "lib"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        const fs::path programFolder = c.layout == std::string("beside") ? c.moduleFolder : work_ / "bin";
        fs::create_directories(programFolder);
        fs::create_directories(c.moduleFolder);
        for (const char* file : {"vekta-host.exe", "vektaplatform.dll"})
            fs::copy_file(built / file, programFolder / file, fs::copy_options::overwrite_existing);
        fs::copy_file(built / "TikTokPostProcess.dll", c.moduleFolder / "TikTokPostProcess.dll",
                      fs::copy_options::overwrite_existing);
        const auto describe = vekta::test::Run({UTF8(programFolder / "vekta-host.exe"), "describe"}, {}, 60s);
        EXPECT_EQ(describe.status, 0) << describe.out << describe.err;
        EXPECT_NE(describe.out.find("name        TikTok"), std::string::npos) << describe.out << describe.err;
    }
}

// Ctrl-C is pressed in the host's console while a chunk is held at the sandbox.
TEST_F(VektaHostUnderWine, CtrlCDuringTheUploadAbortsIt) {
    SignIn();
    Post("/_sandbox/faults", {{"endpoint", "upload"}, {"action", "delay"}, {"delay_ms", 1500}, {"count", 10}});
    ChildProcess publish(
        HostArgv({"publish", UTF8(clip_), "--video-info", "1080x1920@30:12000", "--privacy", "everyone"}),
        HostEnvironment());
    ASSERT_TRUE(publish.WaitForOutput("Uploading to TikTok", 90s)) << publish.Output() << publish.Errors();
    publish.Interrupt();
    EXPECT_EQ(publish.Wait(90s), 1) << publish.Output() << publish.Errors();
    EXPECT_NE(publish.Output().find("Aborted"), std::string::npos) << publish.Output();
    const auto uploads = Get("/_sandbox/uploads")["uploads"];
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_FALSE(uploads[0]["complete"].get<bool>());
}

// The browser is held at TikTok's authorization page; Ctrl-C cancels the waiting login prompt.
TEST_F(VektaHostUnderWine, CtrlCAtTheLoginPromptCancelsTheSignIn) {
    Post("/_sandbox/faults", {{"endpoint", "authorize"}, {"action", "hang"}, {"count", 1}});
    ChildProcess signin(HostArgv({"signin"}), HostEnvironment());
    ASSERT_TRUE(signin.WaitForOutput("Log in", 90s)) << signin.Output() << signin.Errors();
    ASSERT_TRUE(WaitUntil([&] { return Get("/_sandbox/faults/hanging")["hanging"] == 1; }, 30s));
    signin.Interrupt();
    EXPECT_EQ(signin.Wait(90s), 1) << signin.Output() << signin.Errors();
    EXPECT_NE(signin.Output().find("Cancelled."), std::string::npos) << signin.Output();
    EXPECT_NE(signin.Errors().find("not signed in"), std::string::npos) << signin.Errors();
    EXPECT_FALSE(fs::exists(Preset()));
}

}  // namespace
