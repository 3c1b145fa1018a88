#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "tests/e2e/ChildProcess.h"

extern char** environ;

namespace vekta::test {
namespace {

std::filesystem::path TempPath(const char* kind) {
    static std::atomic<int> next{0};
    return std::filesystem::temp_directory_path() /
           ("vekta-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++next) + kind);
}

}  // namespace

struct ChildProcess::Process {
    pid_t pid = -1;
};

ChildProcess::ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> environment)
    : process_(std::make_unique<Process>()), outPath_(TempPath(".out")), errPath_(TempPath(".err")) {
    // The current environment, each variable of `environment` replacing one of the same name.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        if (!environment.count(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
    }
    for (auto& [name, value] : environment) envStrings.emplace_back(name).append("=").append(value);
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
    if (posix_spawn(&process_->pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) process_->pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (process_->pid > 0 && !exited_) {
        kill(process_->pid, SIGKILL);
        waitpid(process_->pid, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove(outPath_, ignored);
    std::filesystem::remove(errPath_, ignored);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
    const pid_t pid = process_->pid;
    if (pid <= 0 || exited_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            exited_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            exited_ = true;
            status_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void ChildProcess::Interrupt() {
    if (process_->pid > 0 && !exited_) kill(process_->pid, SIGINT);
}

void ChildProcess::Terminate() {
    if (process_->pid > 0 && !exited_) kill(process_->pid, SIGTERM);
}

}  // namespace vekta::test
