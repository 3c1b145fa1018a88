// The tiktok-sandbox program, run as a child process the way a test harness or the demo runs it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "SandboxTestSupport.h"

namespace tiktok_sandbox::test {
namespace {

using std::chrono::steady_clock;

class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(pipeFds[1], STDOUT_FILENO);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(SANDBOX_PROGRAM));
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(SANDBOX_PROGRAM, argv.data());
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    stdout_ = pipeFds[0];
  }
  ~ChildProcess() {
    if (pid_ > 0 && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }

  pid_t Pid() const { return pid_; }

  // Output up to the first newline, waiting at most `timeout`.
  std::string ReadLine(std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = steady_clock::now() + timeout;
    char c = 0;
    while (line.find('\n') == std::string::npos && steady_clock::now() < deadline) {
      pollfd entry{stdout_, POLLIN, 0};
      if (::poll(&entry, 1, 50) == 1) {
        if (::read(stdout_, &c, 1) != 1) break;
        line.push_back(c);
      }
    }
    return line;
  }

  // The exit status, or nothing when the process did not end within `timeout`.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = steady_clock::now() + timeout;
    while (steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return exitStatus_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::optional<int> exitStatus_;
};

std::optional<int> ReadPortFile(const std::filesystem::path& path, std::chrono::milliseconds timeout) {
  const auto deadline = steady_clock::now() + timeout;
  while (steady_clock::now() < deadline) {
    std::ifstream in(path);
    std::string text;
    if (std::getline(in, text) && !text.empty()) return std::stoi(text);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

TEST(ProgramTest, ServesOnThePortItWroteAndExitsCleanlyOnSigterm) {
  const auto portFile = std::filesystem::temp_directory_path() / ("sandbox-port-" + std::to_string(::getpid()));
  std::filesystem::remove(portFile);
  ChildProcess child({"--port", "0", "--port-file", portFile.string(), "--auto-approve", "--private-account"});
  ASSERT_GT(child.Pid(), 0);

  const auto port = ReadPortFile(portFile, kTimeout);
  ASSERT_TRUE(port.has_value());
  EXPECT_EQ(child.ReadLine(kTimeout), "TikTok sandbox listening on http://127.0.0.1:" + std::to_string(*port) + "\n");

  httplib::Client client("127.0.0.1", *port);
  client.set_read_timeout(kTimeout);
  auto health = client.Get("/_sandbox/health");
  ASSERT_TRUE(health);
  EXPECT_EQ(ParseJson(health->body)["origin"], "http://127.0.0.1:" + std::to_string(*port));
  auto creator = client.Get("/_sandbox/creator");
  ASSERT_TRUE(creator);
  EXPECT_EQ(ParseJson(creator->body)["private_account"], true);
  auto authorize = client.Get(AuthorizeTarget(AuthorizeParams("http://127.0.0.1:1/cb", NewPkce().challenge)));
  ASSERT_TRUE(authorize);
  EXPECT_EQ(authorize->status, 302);  // --auto-approve

  ASSERT_EQ(::kill(child.Pid(), SIGTERM), 0);
  EXPECT_EQ(child.WaitForExit(kTimeout), 0);
  std::filesystem::remove(portFile);
}

TEST(ProgramTest, HelpAndBadOptions) {
  ChildProcess help({"--help"});
  EXPECT_NE(help.ReadLine(kTimeout).find("Usage: tiktok-sandbox"), std::string::npos);
  EXPECT_EQ(help.WaitForExit(kTimeout), 0);

  ChildProcess unknown({"--frobnicate"});
  EXPECT_EQ(unknown.WaitForExit(kTimeout), 2);
  ChildProcess badPort({"--port", "70000"});
  EXPECT_EQ(badPort.WaitForExit(kTimeout), 2);
}

}  // namespace
}  // namespace tiktok_sandbox::test
