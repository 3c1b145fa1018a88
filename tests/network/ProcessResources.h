// What the loopback server holds of this process, as each system tells it: its sockets and the
// memory resident. One implementation per system beside this header.
#pragma once

#include <cstdint>
#include <vector>

namespace vekta::test {

// A socket of this process bound to the port asked about: the listener, or a connection it accepted.
struct BoundSocket {
    bool inheritable = false;  // a program this process starts would get it too
    // No other socket may bind its port alongside, whatever options it sets (SO_REUSEPORT is off on
    // POSIX; SO_EXCLUSIVEADDRUSE is on on Windows).
    bool exclusive = false;
};

// Every socket of this process whose own address has `port` (clients of it have another one).
std::vector<BoundSocket> SocketsBoundTo(std::uint16_t port);

struct ResidentMemory {
    long currentKiB = -1;
    long peakKiB = -1;  // since the last ResetPeakResident, or since the process started
};

ResidentMemory Resident();

// Makes the peak what is resident now; false where the system keeps only the process's peak.
bool ResetPeakResident();

}  // namespace vekta::test
