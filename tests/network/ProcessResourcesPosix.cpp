#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/network/ProcessResources.h"

namespace vekta::test {
namespace {

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"), or -1.
long StatusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field)) return std::stol(line.substr(field.size()));
    }
    return -1;
}

}  // namespace

std::vector<BoundSocket> SocketsBoundTo(std::uint16_t port) {
    std::vector<BoundSocket> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_family == AF_INET &&
            ntohs(local.sin_port) == port) {
            int reusePort = 0;
            socklen_t size = sizeof reusePort;
            const bool shared = ::getsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &reusePort, &size) != 0 || reusePort != 0;
            found.push_back({(::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0, !shared});
        }
    }
    return found;
}

ResidentMemory Resident() { return {StatusKiB("VmRSS:"), StatusKiB("VmHWM:")}; }

// Writing 5 to clear_refs resets the peak (VmHWM) to what is resident now.
bool ResetPeakResident() { return static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5" << std::flush); }

}  // namespace vekta::test
