// Which port the loopback listener gets: its own one exclusively, and on a taken port of the
// sign-in range the next one, whoever holds the taken one and however the system refuses it.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

#include "tests/network/PortHolders.h"
#include "tests/network/ProcessResources.h"
#include "tests/network/ServerTestSupport.h"
#include "tiktok/AuthServer.h"

namespace {

using namespace vekta::test;
using talnet::http::server::Server;

// Takes `port` as `holder` does; the error when it cannot.
error_code Hold(tcp::acceptor& acceptor, const PortHolder& holder, std::uint16_t port) {
    error_code error;
    acceptor.open(tcp::v4(), error);
    if (!error) error = holder.setOptions(acceptor);
    if (!error) acceptor.bind(Endpoint(holder.anyAddress ? "0.0.0.0" : "127.0.0.1", port), error);
    if (!error && holder.listens) acceptor.listen(asio::socket_base::max_listen_connections, error);
    return error;
}

// Binds and listens on `port` as the loopback listener does, and lets go again.
error_code ListenAsTheListener(std::uint16_t port) {
    asio::io_context io;
    tcp::acceptor acceptor(io);
    error_code error = OpenAsTheListener(acceptor);
    if (!error) acceptor.bind(Endpoint("127.0.0.1", port), error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    return error;
}

class RedirectService final : public Vekta::AuthService {
public:
    void Handle(const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion completion) override {
        completion(response);
    }
    std::string GetPath() const override { return "/VektaAuthTikTok"; }
};

// Wine refuses a second bind however the first socket was set, unlike Windows, so there only the
// listener's own option shows what Windows would do.
TEST(ServerPorts, NoOtherSocketCanTakeAListenedPort) {
    Server server(0, false, -1);
    ASSERT_EQ(server.Start(), 200);
    const std::uint16_t port = server.GetPort();
    const std::vector<BoundSocket> listening = SocketsBoundTo(port);  // before any connection
    ASSERT_EQ(listening.size(), 1u);
    EXPECT_TRUE(listening.front().exclusive);
    EXPECT_FALSE(CanConnect("127.0.0.2", port));  // bound to 127.0.0.1 only
    asio::io_context io;
    for (const PortHolder& holder : PortHolders()) {
        tcp::acceptor other(io);
        EXPECT_TRUE(Hold(other, holder, port)) << holder.description << " took the listener's port";
    }
    EXPECT_TRUE(CanConnect("127.0.0.1", port));
}

struct HeldPort {
    std::uint16_t port;
    const PortHolder* holder;
    std::unique_ptr<tcp::acceptor> socket;
};

// Ports of the sign-in range in a row, each held by another kind of holder, then one more port held
// by any kind. The run begins after every port that none of the kinds still missing could take
// (another program's, or one still closing where only SO_REUSEADDR binds), so that it is the
// test's own. Shorter when the range has no such run.
std::vector<HeldPort> HoldARun(asio::io_context& io, const std::vector<PortHolder>& holders) {
    std::vector<HeldPort> run;
    const std::uint32_t end = Vekta::AuthServer::kBasePort + Vekta::AuthServer::kPortAttempts;
    for (std::uint32_t port = Vekta::AuthServer::kBasePort; port < end && run.size() <= holders.size(); ++port) {
        bool held = false;
        for (const PortHolder& holder : holders) {
            const bool used = std::ranges::any_of(run, [&](const HeldPort& taken) { return taken.holder == &holder; });
            if (used && run.size() < holders.size()) continue;
            auto socket = std::make_unique<tcp::acceptor>(io);
            if (Hold(*socket, holder, static_cast<std::uint16_t>(port))) continue;
            run.push_back({static_cast<std::uint16_t>(port), &holder, std::move(socket)});
            held = true;
            break;
        }
        if (!held) run.clear();
    }
    return run;
}

// Other sign-in tests of this build take the same range; they and this one hold one ctest lock.
TEST(ServerPorts, ASignInListenerGoesPastEveryTakenPortToTheFirstFreeOne) {
    const std::vector<PortHolder> holders = PortHolders();
    asio::io_context io;
    std::vector<HeldPort> run = HoldARun(io, holders);
    if (run.size() <= holders.size())
        GTEST_SKIP() << "other programs hold the sign-in range: no " << holders.size() + 1 << " ports in a row";

    for (std::size_t i = 0; i < holders.size(); ++i) {
        const error_code met = ListenAsTheListener(run[i].port);
        std::cout << "port " << run[i].port << " held by a socket on " << run[i].holder->description
                  << ": the listener meets \"" << met.message() << "\" (" << met.value() << ")\n";
        EXPECT_EQ(met, run[i].holder->listenerMeets) << run[i].holder->description;
    }

    auto service = std::make_shared<RedirectService>();
    Vekta::AuthServer authServer(run.front().port, static_cast<std::uint32_t>(run.size()));
    EXPECT_EQ(authServer.StartService(service), -3);
    EXPECT_FALSE(authServer.IsStarted());
    run.back().socket.reset();                         // the port after the holders is free now
    ASSERT_EQ(authServer.StartService(service), 200);  // the same AuthServer tries the range again
    EXPECT_EQ(authServer.GetPort(), run.back().port);
    EXPECT_EQ(RawStatus(static_cast<std::uint16_t>(authServer.GetPort()), "GET /VektaAuthTikTok HTTP/1.1\r\n\r\n"),
              200);
}

}  // namespace
