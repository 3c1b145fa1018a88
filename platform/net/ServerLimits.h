// The loopback server's limits. It serves a browser's redirect: one small GET per connection. Every
// limit bounds what one client can make the server hold (memory, a descriptor, time), so a client
// that floods, trickles or idles costs no more than its own socket and cannot lock others out.
#pragma once

#include <chrono>
#include <cstddef>

namespace talnet::http::server::detail {

// The request line and header fields together; a longer head is answered 431.
inline constexpr std::size_t kMaxHeadBytes = 8 * 1024;
// From accept to the end of the head, however slowly the bytes arrive; then the connection closes.
inline constexpr auto kHeadDeadline = std::chrono::seconds(5);
// Open connections at once. At the limit a new connection closes the oldest one still waiting for
// its head (or already answered), so idle connections cannot keep a valid request out.
inline constexpr std::size_t kMaxConnections = 64;
// Sending the answer to a client that does not read it.
inline constexpr auto kWriteDeadline = std::chrono::seconds(5);
// After the answer, what the client still sends is read and dropped for a moment before closing,
// so the close does not reset the connection before the client has read the answer.
inline constexpr auto kDrainDeadline = std::chrono::seconds(1);
inline constexpr std::size_t kMaxDrainBytes = 64 * 1024;
// How long a request waits for its service unless the host changes it.
inline constexpr auto kDefaultServiceTimeout = std::chrono::seconds(30);
// An accept that failed (no descriptor left) is tried again after this pause instead of spinning.
inline constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(100);

}  // namespace talnet::http::server::detail
