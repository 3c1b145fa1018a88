// The ways another program can hold a port that the loopback listener wants on this system, and how
// the system refuses the listener there. One implementation per system beside this header.
#pragma once

#include <boost/asio/ip/tcp.hpp>

#include <functional>
#include <string>
#include <vector>

namespace vekta::test {

struct PortHolder {
    std::string description;
    bool anyAddress = false;  // 0.0.0.0 rather than 127.0.0.1
    std::function<boost::system::error_code(boost::asio::ip::tcp::acceptor&)> setOptions;
    bool listens = true;
    // What a bind and listen like the listener's then fails with.
    boost::system::error_code listenerMeets;
};

std::vector<PortHolder> PortHolders();

// Opens `acceptor` with the options the loopback listener sets before it binds.
boost::system::error_code OpenAsTheListener(boost::asio::ip::tcp::acceptor& acceptor);

}  // namespace vekta::test
