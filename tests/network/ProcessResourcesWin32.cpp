// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <psapi.h>

#include <cstdint>

#include "tests/network/ProcessResources.h"

namespace vekta::test {

// Windows lists no process's handles cheaply, but hands out handle values (multiples of four) lowest
// free first: the walk ends after a long run of values that name nothing. Only pipes and sockets are
// asked for their address (a socket is a pipe to GetFileType), so that no other kind of handle
// reaches Winsock.
std::vector<BoundSocket> SocketsBoundTo(std::uint16_t port) {
    constexpr std::uintptr_t kGiveUpAfter = 4 * 4096;
    std::vector<BoundSocket> found;
    for (std::uintptr_t value = 4, lastHandle = 0; value < lastHandle + kGiveUpAfter; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (!::GetHandleInformation(handle, &flags)) continue;
        lastHandle = value;
        if (::GetFileType(handle) != FILE_TYPE_PIPE) continue;
        sockaddr_in local{};
        int length = sizeof local;
        if (::getsockname(static_cast<SOCKET>(value), reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
            local.sin_family == AF_INET && ntohs(local.sin_port) == port) {
            BOOL exclusive = FALSE;
            int size = sizeof exclusive;
            const bool known = ::getsockopt(static_cast<SOCKET>(value), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                                            reinterpret_cast<char*>(&exclusive), &size) == 0;
            found.push_back({(flags & HANDLE_FLAG_INHERIT) != 0, known && exclusive});
        }
    }
    return found;
}

ResidentMemory Resident() {
    PROCESS_MEMORY_COUNTERS counters{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return {};
    return {static_cast<long>(counters.WorkingSetSize / 1024), static_cast<long>(counters.PeakWorkingSetSize / 1024)};
}

// The peak working set is the process's alone; nothing resets it.
bool ResetPeakResident() { return false; }

}  // namespace vekta::test
