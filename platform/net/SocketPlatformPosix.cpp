#include <fcntl.h>

#include "SocketPlatform.h"

namespace talnet::http::server::detail {

// SO_REUSEADDR on a POSIX system only allows a bind over connections in TIME_WAIT, never next to
// another listening socket. (SO_REUSEPORT, which would share the port, is never set.)
boost::system::error_code MakeAddressExclusive(boost::asio::ip::tcp::acceptor& acceptor) {
    boost::system::error_code error;
    acceptor.set_option(boost::asio::socket_base::reuse_address(true), error);
    return error;
}

void KeepFromChildProcesses(boost::asio::ip::tcp::socket::native_handle_type handle) {
    const int flags = ::fcntl(handle, F_GETFD);
    if (flags >= 0) ::fcntl(handle, F_SETFD, flags | FD_CLOEXEC);
}

}  // namespace talnet::http::server::detail
