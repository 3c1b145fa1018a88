#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace vekta::test {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string TempPath(const char* kind) {
    static std::atomic<int> next{0};
    return (std::filesystem::temp_directory_path() /
            ("vekta-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++next) + kind))
        .string();
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> environment)
    : outPath_(TempPath(".out")), errPath_(TempPath(".err")) {
    // The current environment, each variable of `environment` replacing one of the same name.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        if (!environment.count(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
    }
    for (auto& [name, value] : environment) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp, args;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    for (auto& s : argv) args.push_back(s.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove(outPath_, ignored);
    std::filesystem::remove(errPath_, ignored);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0 || exited_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exited_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            exited_ = true;
            status_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0 && !exited_) kill(pid_, signal);
}

std::string ChildProcess::Output() const { return ReadFile(outPath_); }
std::string ChildProcess::Errors() const { return ReadFile(errPath_); }

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Output().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

RunResult Run(std::vector<std::string> argv, std::map<std::string, std::string> environment,
              std::chrono::milliseconds timeout) {
    ChildProcess child(std::move(argv), std::move(environment));
    RunResult result;
    result.status = child.Wait(timeout);
    result.out = child.Output();
    result.err = child.Errors();
    return result;
}

}  // namespace vekta::test
