// The tiktok-sandbox program, run as a child process the way a test harness or the demo runs it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/e2e/ChildProcess.h"
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

ChildProcess Program(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), SANDBOX_PROGRAM);
    return ChildProcess(std::move(arguments));
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
        auto run = Program(c.arguments);
        EXPECT_EQ(run.Wait(kTimeout), 2) << ::testing::PrintToString(c.arguments);
        EXPECT_NE(run.Errors().find(c.named), std::string::npos) << run.Errors();
        EXPECT_EQ(run.Output().find("listening"), std::string::npos) << run.Output();
    }
}

TEST(ProgramTest, HelpListsTheOptionsAndEndsWithSuccess) {
    auto run = Program({"--help"});
    EXPECT_EQ(run.Wait(kTimeout), 0);
    for (const char* option : {"--port-file", "--auto-approve", "--refuse-rotated-refresh-tokens", "--nickname"}) {
        EXPECT_NE(run.Output().find(option), std::string::npos) << option << " in " << run.Output();
    }
    EXPECT_EQ(run.Errors(), "");
}

TEST(ProgramTest, ServesOnThePortItWroteAndExitsCleanlyOnSigterm) {
    const auto portFile = std::filesystem::temp_directory_path() / ("sandbox-port-" + std::to_string(::getpid()));
    std::filesystem::remove(portFile);
    auto program = Program({"--port", "0", "--port-file", portFile.string(), "--auto-approve"});
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

    program.Terminate();
    EXPECT_EQ(program.Wait(kTimeout), 0);
    std::filesystem::remove(portFile);
}

}  // namespace
}  // namespace vekta::test
