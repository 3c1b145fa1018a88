#include <windows.h>

#include "SocketPlatform.h"

namespace talnet::http::server::detail {

// SO_REUSEADDR on Windows would let a second socket bind the same port and take connections from
// this one; SO_EXCLUSIVEADDRUSE forbids that. A port that Windows reserves (Hyper-V's ranges, say)
// fails to bind with WSAEACCES rather than WSAEADDRINUSE; the listener counts every failed bind on a
// fixed port as taken and goes on to the next one.
boost::system::error_code MakeAddressExclusive(boost::asio::ip::tcp::acceptor& acceptor) {
    using ExclusiveAddressUse = boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
    boost::system::error_code error;
    acceptor.set_option(ExclusiveAddressUse(true), error);
    return error;
}

void KeepFromChildProcesses(boost::asio::ip::tcp::socket::native_handle_type handle) {
    // Asio wraps the SOCKET in a class of its own; a SOCKET is a kernel handle.
    const SOCKET socket = handle;
    ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace talnet::http::server::detail
