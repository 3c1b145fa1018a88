#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

#include "OpenWithSystem.h"

extern char** environ;

namespace talcore::utility::detail {
namespace {

// Splits a command on blanks (no shell: the address is never interpreted) and puts the address
// where "%s" stands, or last.
std::vector<std::string> CommandLine(const std::string& command, const std::string& address) {
    std::vector<std::string> args;
    std::istringstream words(command);
    bool placed = false;
    for (std::string word; words >> word;) {
        if (const auto at = word.find("%s"); at != std::string::npos) {
            word.replace(at, 2, address);
            placed = true;
        }
        args.push_back(word);
    }
    if (!args.empty() && !placed) args.push_back(address);
    return args;
}

// Starts the program; a program that ends at once with an error (an opener without a desktop)
// counts as not started. One that keeps running is reaped in the background.
bool Launch(const std::vector<std::string>& args) {
    if (args.empty()) return false;
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The opener's and the browser's console chatter (which may repeat the address) is not the
    // host's output.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::thread([pid] {
        int status = 0;
        waitpid(pid, &status, 0);
    }).detach();
    return true;
}
}  // namespace

bool OpenWithSystem(const std::string& address) {
    if (const char* browser = std::getenv("BROWSER"); browser && *browser) {
        std::istringstream commands(browser);
        for (std::string command; std::getline(commands, command, ':');) {
            if (Launch(CommandLine(command, address))) return true;
        }
        return false;
    }
    return Launch({"xdg-open", address});
}

}  // namespace talcore::utility::detail
