// The tiktok-sandbox program, run as a child process the way a test harness or the demo runs it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
