// The loopback server's use of the system's sockets, with Asio clients only, so that it runs on
// every system: what a port allows while it is listened on and right after, and one answer.
#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <chrono>
#include <memory>
#include <string>

#include "talnet/http/server/Server.h"

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using namespace talnet::http::server;

const tcp::endpoint kLoopback(asio::ip::make_address_v4("127.0.0.1"), 0);

// Binds a plain socket to `port` as another program would; true when the bind succeeded.
bool CanBind(std::uint16_t port, bool reuseAddress) {
    asio::io_context io;
    tcp::acceptor acceptor(io);
    boost::system::error_code error;
    acceptor.open(tcp::v4(), error);
    if (reuseAddress) acceptor.set_option(asio::socket_base::reuse_address(true), error);
    acceptor.bind(tcp::endpoint(kLoopback.address(), port), error);
    return !error;
}

class Answering final : public Service {
public:
    void Handle(const Request&, std::shared_ptr<MutableResponse> response, ServiceCompletion completion) override {
        response->SetPayload(std::make_shared<const std::string>("ok"), "text/plain");
        completion(response);
    }
    std::string GetPath() const override { return "/VektaAuthTikTok"; }
};

// SO_REUSEADDR alone would let a second socket share the port on Windows and take its
// connections; the listener must keep every other socket out, with or without that option.
TEST(ServerSocket, AListenedPortRefusesEveryOtherBindAndIsFreeAtOnceAfterStop) {
    Server first(0, false, -1);
    ASSERT_EQ(first.Start(), 200);
    const std::uint16_t port = first.GetPort();
    EXPECT_EQ(Server(port, false, -1).Start(), 409) << "a taken port asks for the next one";
    EXPECT_FALSE(CanBind(port, false));
    EXPECT_FALSE(CanBind(port, true));
    first.Stop();
    Server again(port, false, -1);
    EXPECT_EQ(again.Start(), 200) << "a stopped listener gives its port back at once";
}

TEST(ServerSocket, AnswersARequestOverLoopback) {
    Server server(0, false, -1);
    server.RegisterService("/VektaAuthTikTok", std::make_shared<Answering>());
    ASSERT_EQ(server.Start(), 200);
    asio::io_context io;
    tcp::socket socket(io);
    socket.connect(tcp::endpoint(kLoopback.address(), server.GetPort()));
    asio::write(socket, asio::buffer(std::string("GET /VektaAuthTikTok?code=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")));
    // Read to the end (the server closes after its answer), for ten seconds at most.
    std::string answer;
    asio::async_read(socket, asio::dynamic_buffer(answer), [](const boost::system::error_code&, std::size_t) {});
    io.run_for(std::chrono::seconds(10));
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 ") && answer.ends_with("\r\n\r\nok")) << answer;
}

}  // namespace
