#include <winsock2.h>

#include "tests/network/PortHolders.h"

namespace vekta::test {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

template <int Option>
error_code Set(asio::ip::tcp::acceptor& acceptor) {
    error_code error;
    acceptor.set_option(asio::detail::socket_option::boolean<SOL_SOCKET, Option>(true), error);
    return error;
}

error_code NoOption(asio::ip::tcp::acceptor&) { return {}; }

}  // namespace

// Windows refuses a port held by another socket with WSAEADDRINUSE, but one that an exclusive socket
// holds on every address (as some services do) with WSAEACCES, like a port it reserves for itself.
std::vector<PortHolder> PortHolders() {
    const error_code inUse = asio::error::address_in_use;
    const error_code denied = asio::error::access_denied;
    return {
        {"127.0.0.1, listening", false, NoOption, true, inUse},
        {"127.0.0.1 with SO_REUSEADDR, listening", false, Set<SO_REUSEADDR>, true, inUse},
        {"0.0.0.0, listening", true, NoOption, true, inUse},
        {"0.0.0.0 with SO_EXCLUSIVEADDRUSE, listening", true, Set<SO_EXCLUSIVEADDRUSE>, true, denied},
        {"127.0.0.1 with SO_EXCLUSIVEADDRUSE, bound only", false, Set<SO_EXCLUSIVEADDRUSE>, false, inUse},
    };
}

error_code OpenAsTheListener(asio::ip::tcp::acceptor& acceptor) {
    error_code error;
    acceptor.open(asio::ip::tcp::v4(), error);
    return error ? error : Set<SO_EXCLUSIVEADDRUSE>(acceptor);
}

}  // namespace vekta::test
