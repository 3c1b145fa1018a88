#include "talcore/utility/OpenFileInDefaultApplication.h"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "talnet/http/OriginMap.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#else
#include <windows.h>
#include <shellapi.h>
#endif

namespace talcore::utility {
namespace {

struct Fallback {
    std::mutex mutex;
    std::function<void(const std::string&)> function;
};

Fallback& TheFallback() {
    static auto* fallback = new Fallback;
    return *fallback;
}

#if !defined(_WIN32)
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
#endif

bool OpenWithSystem(const std::string& address) {
#if defined(_WIN32)
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr,
                                                                SW_SHOWNORMAL));
    return result > 32;
#else
    if (const char* browser = std::getenv("BROWSER"); browser && *browser) {
        std::istringstream commands(browser);
        for (std::string command; std::getline(commands, command, ':');) {
            if (Launch(CommandLine(command, address))) return true;
        }
        return false;
    }
    return Launch({"xdg-open", address});
#endif
}

}  // namespace

std::string BrowserAddress(std::string_view url) { return talnet::http::MapOrigin(url); }

bool OpenFileInDefaultApplication(std::string_view pathOrURL) {
    const std::string address = BrowserAddress(pathOrURL);
    if (OpenWithSystem(address)) return true;
    std::function<void(const std::string&)> fallback;
    {
        auto& f = TheFallback();
        std::lock_guard lock(f.mutex);
        fallback = f.function;
    }
    if (fallback) fallback(address);
    return false;
}

void SetOpenFileFallback(std::function<void(const std::string& address)> fallback) {
    auto& f = TheFallback();
    std::lock_guard lock(f.mutex);
    f.function = std::move(fallback);
}

}  // namespace talcore::utility
