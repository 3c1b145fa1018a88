// The head of one request as the loopback server reads it: the bytes as they arrive, in pieces of
// any size, into one buffer of fixed size, with one limit over the whole head. Whatever a client
// sends, it holds no more than kMaxHeadBytes of it and comes to an end.
#pragma once

#include <cstddef>

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/flat_static_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>

#include "ServerLimits.h"

namespace talnet::http::server::detail {

class HeadReader {
public:
    enum class State {
        Reading,     // the head is not complete yet: read into Room() and Take what came
        Complete,    // Head() is the request
        Refused,     // answer RefusalStatus() and close
        Unreadable,  // not HTTP: close without an answer
    };

    HeadReader();
    HeadReader(const HeadReader&) = delete;
    HeadReader& operator=(const HeadReader&) = delete;

    // Where the next bytes go while Reading; never empty then, and never more than the head may
    // still grow by.
    boost::asio::mutable_buffer Room();
    // Takes `read` bytes that arrived in Room().
    State Take(std::size_t read);
    State GetState() const noexcept { return state_; }
    // The status a refused head gets (400, 413 or 431).
    int RefusalStatus() const noexcept { return refusal_; }
    // Bytes of the head taken so far, what the parser holds and what waits in the buffer together.
    std::size_t BytesHeld() const noexcept { return headBytesTaken_ + buffer_.size(); }
    const boost::beast::http::request_parser<boost::beast::http::empty_body>::value_type& Head() const {
        return parser_.get();
    }
    // Once the head has been read, the buffer serves to read and drop what the client still sends.
    boost::asio::mutable_buffer DiscardRoom();

private:
    State Finish(const boost::system::error_code& error);

    boost::beast::flat_static_buffer<kMaxHeadBytes> buffer_;
    boost::beast::http::request_parser<boost::beast::http::empty_body> parser_;
    std::size_t headBytesTaken_ = 0;  // by the parser, out of the buffer
    State state_ = State::Reading;
    int refusal_ = 0;
};

}  // namespace talnet::http::server::detail
