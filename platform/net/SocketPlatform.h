// What the loopback server needs of the operating system that Asio does not say the same way on
// every system. One implementation per system beside this header, chosen by the build.
#pragma once

#include <boost/asio/ip/tcp.hpp>

namespace talnet::http::server::detail {

// Before bind: the port can be bound again at once after a stop (over connections that are still
// closing) but never by a second listener while this one listens.
boost::system::error_code MakeAddressExclusive(boost::asio::ip::tcp::acceptor& acceptor);

// A program this process starts (the browser) must not inherit the socket, or it would keep the
// port or the connection open after the server closed it.
void KeepFromChildProcesses(boost::asio::ip::tcp::socket::native_handle_type handle);

}  // namespace talnet::http::server::detail
