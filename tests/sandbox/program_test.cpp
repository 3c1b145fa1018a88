// The tiktok-sandbox program, run as a child process the way a test harness or the demo runs it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/sandbox/SandboxTestSupport.h"

namespace vekta::test {

using namespace vekta::sandbox;
namespace {

// Polls `ready` every 10 ms until it gives a value or `timeout` passes.
template <typename F>
auto WaitFor(F ready, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto value = ready();
    for (; !value && std::chrono::steady_clock::now() < deadline; value = ready()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return value;
}

struct Finished {
    int status = -1;  // the exit status; -1 when it was killed or did not end within kTimeout
    std::string out;
    std::string errors;
};

// Runs the program to its end with `arguments`, its output captured in files.
Finished RunProgram(const std::vector<std::string>& arguments) {
    const auto base = std::filesystem::temp_directory_path() / ("sandbox-run-" + std::to_string(::getpid()));
    const std::string outPath = base.string() + ".out", errPath = base.string() + ".err";
    std::vector<std::string> args = {SANDBOX_PROGRAM};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, SANDBOX_PROGRAM, &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    Finished finished;
    if (failed) return finished;
    const auto status = WaitFor(
        [&]() -> std::optional<int> {
            int raw = 0;
            if (::waitpid(pid, &raw, WNOHANG) != pid) return std::nullopt;
            return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        },
        kTimeout);
    if (!status && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);  // one that went on serving
    finished.status = status.value_or(-1);
    const auto slurp = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    finished.out = slurp(outPath);
    finished.errors = slurp(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return finished;
}

TEST(ProgramTest, AnUnusableCommandLineEndsAtOnceWithTheReason) {
    const struct {
        std::vector<std::string> arguments;
        std::string named;
    } cases[] = {
        {{"--bogus"}, "--bogus"},       {{"--auto-approve", "stray"}, "stray"},
        {{"--port"}, "--port"},         {{"--port", "65536"}, "--port"},
        {{"--port", "-1"}, "--port"},   {{"--port", "80x"}, "--port"},
        {{"--port", "0x50"}, "--port"}, {{"--auto-approve=maybe"}, "--auto-approve"},
    };
    for (const auto& c : cases) {
        const auto run = RunProgram(c.arguments);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(c.arguments);
        EXPECT_NE(run.errors.find(c.named), std::string::npos) << run.errors;
        EXPECT_EQ(run.out.find("listening"), std::string::npos) << run.out;
    }
}

TEST(ProgramTest, HelpListsTheOptionsAndEndsWithSuccess) {
    const auto run = RunProgram({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--port-file", "--auto-approve", "--refuse-rotated-refresh-tokens", "--nickname"}) {
        EXPECT_NE(run.out.find(option), std::string::npos) << option << " in " << run.out;
    }
    EXPECT_EQ(run.errors, "");
}

TEST(ProgramTest, ServesOnThePortItWroteAndExitsCleanlyOnSigterm) {
    const auto portFile = std::filesystem::temp_directory_path() / ("sandbox-port-" + std::to_string(::getpid()));
    std::filesystem::remove(portFile);
    std::string args[] = {SANDBOX_PROGRAM, "--port", "0", "--port-file", portFile.string(), "--auto-approve"};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                    args[4].data(), args[5].data(), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, SANDBOX_PROGRAM, &quiet, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&quiet);
    struct Reaper {  // ends the child when an assertion cuts the test short
        pid_t pid;
        ~Reaper() {
            if (::waitpid(pid, nullptr, WNOHANG) == 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
        }
    } reaper{pid};
    auto exited = [&]() -> std::optional<int> {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) != pid) return std::nullopt;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };

    const auto port = WaitFor(
        [&]() -> std::optional<int> {
            std::ifstream in(portFile);
            std::string text;
            return std::getline(in, text) && !text.empty() ? std::optional<int>(std::stoi(text)) : std::nullopt;
        },
        kTimeout);
    ASSERT_TRUE(port.has_value()) << "no port file";
    httplib::Client client("127.0.0.1", *port);
    client.set_read_timeout(kTimeout);
    auto health = client.Get("/_sandbox/health");
    EXPECT_EQ(health ? ParseJson(health->body)["origin"] : Json(), "http://127.0.0.1:" + std::to_string(*port));
    auto authorize = client.Get(AuthorizeTarget(AuthorizeParams("http://127.0.0.1:1/cb", NewPkce().challenge)));
    EXPECT_EQ(StatusOf(authorize), 302);  // --auto-approve

    EXPECT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitFor(exited, kTimeout), 0);
    std::filesystem::remove(portFile);
}

}  // namespace
}  // namespace vekta::test
