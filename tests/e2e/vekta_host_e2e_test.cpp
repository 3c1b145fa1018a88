#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/FileDigest.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vekta::test::ChildProcess;
using vekta::test::Run;
using vekta::test::RunResult;

using vekta::test::Sha256Hex;

// The single-use address at which the plug-in's listener starts a sign-in.
const std::regex kStartAddress(R"(http://127\.0\.0\.1:559[89]\d/VektaAuthTikTok/start/[0-9a-f]{32})");

// Sample videos made once for the whole suite with FFmpeg's command-line tool.
class Videos {
public:
    static const Videos& Get() {
        static const Videos videos;
        return videos;
    }
    fs::path dir = fs::temp_directory_path() / ("vekta-e2e-videos-" + std::to_string(getpid()));
    fs::path good = dir / "good.mp4";
    fs::path longer = dir / "longer.mp4";
    fs::path narrow = dir / "narrow.mp4";
    fs::path slow = dir / "slow.mp4";
    fs::path webm = dir / "clip.webm";

private:
    Videos() {
        fs::create_directories(dir);
        Make("testsrc2=size=1080x1920:rate=30", 2, good);
        Make("testsrc2=size=1080x1920:rate=30", 12, longer);
        Make("testsrc2=size=640x300:rate=30", 2, narrow);
        Make("testsrc2=size=1080x1920:rate=15", 2, slow);
        Make("testsrc2=size=640x360:rate=30", 1, webm, {"-c:v", "libvpx"});
    }
    static void Make(const std::string& source, int seconds, const fs::path& out,
                     std::vector<std::string> codec = {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                                                       "yuv420p"}) {
        std::vector<std::string> argv = {"/usr/bin/ffmpeg", "-loglevel", "error", "-y", "-f",
                                         "lavfi",           "-i",        source,  "-t", std::to_string(seconds)};
        argv.insert(argv.end(), codec.begin(), codec.end());
        argv.push_back(out.string());
        const auto made = Run(argv);
        if (made.status != 0) throw std::runtime_error("ffmpeg: " + made.err);
    }
};

class VektaHostEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists("/usr/bin/ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps.sh --all)";
        work_ = fs::temp_directory_path() / ("vekta-e2e-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(work_);
        fs::create_directories(work_ / "uploads");
        std::vector<std::string> sandboxArgv = {
            TIKTOK_SANDBOX_PATH,         "--port", "0", "--port-file", (work_ / "port").string(), "--data-dir",
            (work_ / "uploads").string()};
        for (const auto& option : SandboxOptions()) sandboxArgv.push_back(option);
        sandbox_ = std::make_unique<ChildProcess>(sandboxArgv);
        ASSERT_TRUE(sandbox_->WaitForOutput("listening on", 20s)) << sandbox_->Errors();
        std::ifstream portFile(work_ / "port");
        int port = 0;
        portFile >> port;
        ASSERT_GT(port, 0);
        origin_ = "http://127.0.0.1:" + std::to_string(port);
        control_ = std::make_unique<httplib::Client>("127.0.0.1", port);
        control_->set_read_timeout(10, 0);
    }
    void TearDown() override {
        if (sandbox_) {
            sandbox_->Terminate();
            EXPECT_EQ(sandbox_->Wait(20s), 0);
        }
        // A browser that is still ending may remove its own files under it at the same time.
        std::error_code ignored;
        fs::remove_all(work_, ignored);
    }

    virtual std::vector<std::string> SandboxOptions() const { return {}; }

    // vekta-host with TikTok's addresses mapped to the sandbox and the test's own preset.
    std::vector<std::string> HostArgv(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {VEKTA_HOST_PATH,
                                         "--origin-map",
                                         "https://www.tiktok.com=" + origin_,
                                         "--origin-map",
                                         "https://open.tiktokapis.com=" + origin_,
                                         "--preset",
                                         Preset().string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    RunResult Host(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
        env.try_emplace("BROWSER", HEADLESS_BROWSER_PATH);
        return vekta::test::Run(HostArgv(args), env, 120s);
    }
    fs::path Preset() const { return work_ / "tiktok.preset"; }
    nlohmann::json Control(const std::string& path) {
        const auto answer = control_->Get(path.c_str());
        EXPECT_TRUE(answer && answer->status == 200) << path;
        return answer ? nlohmann::json::parse(answer->body) : nlohmann::json();
    }
    void PostControl(const std::string& path, const nlohmann::json& body) {
        const auto answer = control_->Post(path.c_str(), body.dump(), "application/json");
        ASSERT_TRUE(answer && answer->status == 200) << path;
    }

    std::size_t CountRequests(const std::string& method, const std::string& path) {
        std::size_t count = 0;
        const auto requests = Control("/_sandbox/requests")["requests"];
        for (const auto& request : requests) count += request["method"] == method && request["path"] == path ? 1 : 0;
        return count;
    }

    fs::path work_;
    std::string origin_;
    std::unique_ptr<ChildProcess> sandbox_;
    std::unique_ptr<httplib::Client> control_;
};

TEST_F(VektaHostEndToEnd, ADraftGoesToTheInboxWithoutPostInformation) {
    const auto& videos = Videos::Get();
    const auto publish = Host({"publish", videos.longer.string(), "--draft"});
    ASSERT_EQ(publish.status, 0) << publish.out << publish.err;
    EXPECT_NE(publish.out.find("Signed in as"), std::string::npos) << "signed in first";
    const auto uploads = Control("/_sandbox/uploads")["uploads"];
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0]["kind"], "inbox");
    EXPECT_TRUE(uploads[0]["post_info"].is_null());
    EXPECT_GT(uploads[0]["chunks"].size(), 1u);
    EXPECT_EQ(uploads[0]["sha256"], Sha256Hex(videos.longer));
}

TEST_F(VektaHostEndToEnd, FilesOutsideTikToksLimitsAreRefusedWithThePlugInsMessage) {
    ASSERT_EQ(Host({"signin"}).status, 0);
    const auto& videos = Videos::Get();
    const struct {
        fs::path file;
        std::string message;
        std::vector<std::string> options;
    } cases[] = {
        {videos.narrow, "Video dimensions must be between 360x360 and 4096x4096.", {}},
        {videos.slow, "Video framerate must be between 23 and 60 FPS.", {}},
        {videos.webm, "does not take this file's format", {}},
        // The facts given on the command line stand in for the probe's.
        {videos.good, "Video duration limit is 10 minutes.", {"--video-info", "1080x1920@30:700000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args = {"publish", c.file.string(), "--privacy", "everyone"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto publish = Host(args);
        EXPECT_EQ(publish.status, 1) << publish.out << publish.err;
        EXPECT_NE((publish.out + publish.err).find(c.message), std::string::npos) << publish.out << publish.err;
    }
    EXPECT_TRUE(Control("/_sandbox/uploads")["uploads"].empty());
}

TEST_F(VektaHostEndToEnd, CtrlCDuringTheUploadAbortsIt) {
    ASSERT_EQ(Host({"signin"}).status, 0);
    // Slow chunks leave time to press Ctrl-C in the middle.
    PostControl("/_sandbox/faults", {{"endpoint", "upload"}, {"action", "delay"}, {"delay_ms", 1500}, {"count", 10}});
    ChildProcess publish(HostArgv({"publish", Videos::Get().longer.string(), "--privacy", "everyone"}),
                         {{"BROWSER", HEADLESS_BROWSER_PATH}});
    ASSERT_TRUE(publish.WaitForOutput("Uploading to TikTok", 60s)) << publish.Output() << publish.Errors();
    publish.Interrupt();
    EXPECT_EQ(publish.Wait(60s), 1);
    EXPECT_NE(publish.Output().find("Aborted"), std::string::npos) << publish.Output();
    const auto uploads = Control("/_sandbox/uploads")["uploads"];
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_FALSE(uploads[0]["complete"].get<bool>());
}

TEST_F(VektaHostEndToEnd, ACorruptPresetGivesAClearError) {
    std::ofstream(Preset()) << "VektaExportPreset 1\nparam VOXATikTokPrivacy 2 not-a-number\n";
    const auto run = Host({"settings"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot be used"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("line 2"), std::string::npos) << run.err;
}

TEST_F(VektaHostEndToEnd, ARealHeadlessBrowserFollowsTheRedirectToTheLoopbackListener) {
    if (!fs::exists("/usr/bin/chromium")) GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh --all)";
    PostControl("/_sandbox/config", {{"auto_approve", true}});
    const std::string browser =
        "/usr/bin/chromium --headless --no-sandbox --disable-gpu --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--disable-quic --user-data-dir=" +
        (work_ / "chromium-profile").string() + " --dump-dom %s";
    const auto signin = Host({"signin"}, {{"BROWSER", browser}});
    ASSERT_EQ(signin.status, 0) << signin.out << signin.err;
    EXPECT_NE(signin.out.find("Signed in as Sandbox Creator"), std::string::npos) << signin.out;
}

// The browser's command line can be read by every local user: it must not give away the state or
// the code challenge, with which another user could sign in to their own account and deliver
// their code under our state.
TEST_F(VektaHostEndToEnd, TheBrowsersCommandLineCarriesOnlyASingleUseStartAddress) {
    const auto record = work_ / "browser-arguments";
    const auto signin =
        Host({"signin"}, {{"BROWSER", std::string(HEADLESS_BROWSER_PATH) + " --record " + record.string()}});
    ASSERT_EQ(signin.status, 0) << signin.out << signin.err;
    std::ifstream in(record);
    std::string address, more;
    ASSERT_TRUE(std::getline(in, address));
    EXPECT_FALSE(std::getline(in, more)) << "opened once";
    EXPECT_TRUE(std::regex_match(address, kStartAddress)) << address;
    for (const char* secret : {"state", "code_challenge", "tiktok", "client_key"})
        EXPECT_EQ(address.find(secret), std::string::npos) << secret;
    EXPECT_EQ(CountRequests("GET", "/v2/auth/authorize/"), 1u);
}

// Without a browser the host prints the start address for the person to open; it signs in as well.
TEST_F(VektaHostEndToEnd, WithoutABrowserTheHostPrintsTheStartAddressToOpen) {
    ChildProcess host(HostArgv({"signin"}), {{"BROWSER", "/nonexistent/vekta-no-browser"}});
    ASSERT_TRUE(host.WaitForOutput("/VektaAuthTikTok/start/", 60s)) << host.Output() << host.Errors();
    std::smatch match;
    const std::string output = host.Output();
    ASSERT_TRUE(std::regex_search(output, match, kStartAddress)) << output;
    const auto browser = vekta::test::Run({HEADLESS_BROWSER_PATH, match.str()}, {}, 60s);
    EXPECT_EQ(browser.status, 0) << browser.err;
    EXPECT_EQ(host.Wait(60s), 0) << host.Output() << host.Errors();
    EXPECT_NE(host.Output().find("Signed in as Sandbox Creator"), std::string::npos) << host.Output();
}

// An origin map sends TikTok's traffic, tokens included, elsewhere: in clear only to this machine,
// and never without saying so.
TEST_F(VektaHostEndToEnd, OriginMapsInClearToAnotherMachineAreRefusedAndAnyMapIsAnnouncedOnce) {
    const struct {
        std::vector<std::string> options;
        std::map<std::string, std::string> env;
        std::string refusal;  // empty: accepted
    } cases[] = {
        {{}, {}, ""},
        {{"--origin-map", "https://open.tiktokapis.com=http://198.51.100.7:8080"},
         {},
         "--origin-map 'https://open.tiktokapis.com=http://198.51.100.7:8080': a plain-http target must be 127.0.0.1"},
        {{},
         {{"VEKTA_HOST_ORIGIN_MAP", "https://www.tiktok.com=http://upload.example.test"}},
         "VEKTA_HOST_ORIGIN_MAP entry 'https://www.tiktok.com=http://upload.example.test': a plain-http target"},
        {{"--origin-map", "https://mirror.example.test=https://mirror.example.net"}, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusal);
        std::vector<std::string> args = c.options;
        args.push_back("settings");
        const auto run = Host(args, c.env);
        if (c.refusal.empty()) {
            EXPECT_EQ(run.status, 0) << run.err;
            const auto first = run.err.find("origin map in force: https://www.tiktok.com -> " + origin_);
            EXPECT_NE(first, std::string::npos) << run.err;
            EXPECT_EQ(run.err.find("origin map in force", first + 1), std::string::npos) << run.err;
        } else {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find(c.refusal), std::string::npos) << run.err;
            EXPECT_EQ(run.out.find("TikTok"), std::string::npos) << "nothing was done: " << run.out;
        }
    }
}

// TikTok rotates refresh tokens and refuses the ones it rotated out. Every run refreshes (several
// times), so every run must leave the newest token in the preset, which only its owner may read,
// for the next one.
class VektaHostWithRotatingTokens : public VektaHostEndToEnd {
protected:
    std::vector<std::string> SandboxOptions() const override {
        return {"--rotate-refresh-tokens", "--refuse-rotated-refresh-tokens"};
    }
};

TEST_F(VektaHostWithRotatingTokens, OneSignInServesFivePublishesInSeparateRunsSharingAPreset) {
    const auto signin = Host({"signin"});
    ASSERT_EQ(signin.status, 0) << signin.out << signin.err;
    EXPECT_NE(signin.out.find("Signed in as Sandbox Creator"), std::string::npos) << signin.out;
    const auto& videos = Videos::Get();
    for (int run = 1; run <= 5; ++run) {
        SCOPED_TRACE(run);
        const auto publish =
            Host({"publish", videos.good.string(), "--caption", "Run " + std::to_string(run), "--privacy", "everyone"});
        ASSERT_EQ(publish.status, 0) << publish.out << publish.err;
        EXPECT_EQ(publish.out.find("Log in"), std::string::npos) << "the preset's account is used";
        EXPECT_NE(publish.out.find("Succeeded"), std::string::npos);
        EXPECT_NE(publish.out.find("https://www.tiktok.com/@sandbox.creator"), std::string::npos);
    }
    EXPECT_EQ(CountRequests("GET", "/v2/auth/authorize/"), 1u);
    const auto requests = Control("/_sandbox/requests")["requests"];
    for (const auto& request : requests) EXPECT_EQ(request["error_code"], "") << request.dump();
    const auto uploads = Control("/_sandbox/uploads")["uploads"];
    ASSERT_EQ(uploads.size(), 5u);
    for (const auto& upload : uploads) {
        EXPECT_TRUE(upload["complete"].get<bool>());
        EXPECT_EQ(upload["kind"], "direct");
        EXPECT_EQ(upload["sha256"], Sha256Hex(videos.good));
    }
    // The run's own options are not kept: the next run starts from the preset's caption.
    EXPECT_EQ(uploads[4]["post_info"]["title"], "Run 5");
    struct stat info {};
    ASSERT_EQ(stat(Preset().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the preset carries a refresh token";
    std::ifstream preset(Preset());
    const std::string text((std::istreambuf_iterator<char>(preset)), {});
    EXPECT_EQ(text.find("Run "), std::string::npos) << text;
}

}  // namespace
