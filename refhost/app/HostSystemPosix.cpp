#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "HostSystem.h"
#include "TerminalPrompt.h"

namespace vekta::host {
namespace {

void OnInterrupt(int) { InterruptRequested().store(true); }

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::filesystem::path ExecutableDirectory(const char* argv0) {
    std::error_code error;
    if (auto self = std::filesystem::read_symlink("/proc/self/exe", error); !error) return self.parent_path();
    return std::filesystem::absolute(argv0, error).parent_path();
}

std::filesystem::path DefaultPresetPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::filesystem::path base = config && *config ? std::filesystem::path(config)
                                       : home && *home   ? std::filesystem::path(home) / ".config"
                                                         : std::filesystem::temp_directory_path();
    return base / "vekta-host" / "tiktok.preset";
}

void InstallInterruptHandler() {
    std::signal(SIGINT, &OnInterrupt);
    std::signal(SIGTERM, &OnInterrupt);
}

bool StdinIsTerminal() { return isatty(STDIN_FILENO) != 0; }
bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

bool EnterPressed() {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 100) <= 0 || (in.revents & POLLIN) == 0) return false;
    char buffer[256];
    return read(STDIN_FILENO, buffer, sizeof buffer) > 0;
}

}  // namespace vekta::host
