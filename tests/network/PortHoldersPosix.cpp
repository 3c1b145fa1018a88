#include "tests/network/PortHolders.h"

namespace vekta::test {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

error_code ReuseAddress(asio::ip::tcp::acceptor& acceptor) {
    error_code error;
    acceptor.set_option(asio::socket_base::reuse_address(true), error);
    return error;
}

error_code NoOption(asio::ip::tcp::acceptor&) { return {}; }

}  // namespace

// A POSIX system refuses a port that another socket listens on with EADDRINUSE. (One that is only
// bound with SO_REUSEADDR is not taken: the listener binds and listens there.)
std::vector<PortHolder> PortHolders() {
    const error_code inUse = asio::error::address_in_use;
    return {
        {"127.0.0.1, listening", false, NoOption, true, inUse},
        {"127.0.0.1 with SO_REUSEADDR, listening", false, ReuseAddress, true, inUse},
        {"0.0.0.0, listening", true, NoOption, true, inUse},
        {"0.0.0.0 with SO_REUSEADDR, listening", true, ReuseAddress, true, inUse},
    };
}

error_code OpenAsTheListener(asio::ip::tcp::acceptor& acceptor) {
    error_code error;
    acceptor.open(asio::ip::tcp::v4(), error);
    return error ? error : ReuseAddress(acceptor);
}

}  // namespace vekta::test
