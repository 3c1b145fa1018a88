#include "ServerHead.h"

#include <algorithm>

#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>

namespace talnet::http::server::detail {
namespace {

namespace http = boost::beast::http;
using boost::system::error_code;

// What a head the parser refused gets: a status, or 0 for none.
int StatusForUnreadableHead(const error_code& error) {
    if (error == http::error::header_limit) return 431;
    if (error == http::error::body_limit) return 413;  // a Content-Length above 0
    return error.category() == http::make_error_code(http::error::bad_method).category() ? 400 : 0;
}

}  // namespace

HeadReader::HeadReader() {
    parser_.header_limit(kMaxHeadBytes);
    parser_.body_limit(0);
}

// The parser keeps the fields it has taken and counts its limit only over what it has not taken
// yet, so the limit of the whole head is counted here: what it took plus what waits in the buffer.
boost::asio::mutable_buffer HeadReader::Room() {
    const std::size_t allowance = std::min(kMaxHeadBytes - BytesHeld(), buffer_.max_size() - buffer_.size());
    return buffer_.prepare(allowance);
}

HeadReader::State HeadReader::Take(std::size_t read) {
    if (state_ != State::Reading) return state_;
    buffer_.commit(read);
    error_code parseError;
    const std::size_t taken = parser_.put(buffer_.data(), parseError);
    buffer_.consume(taken);
    headBytesTaken_ += taken;
    if (parseError != http::error::need_more) return Finish(parseError);
    if (BytesHeld() >= kMaxHeadBytes) return Finish(http::error::header_limit);
    return state_;
}

HeadReader::State HeadReader::Finish(const error_code& error) {
    if (error) {
        refusal_ = StatusForUnreadableHead(error);
        state_ = refusal_ != 0 ? State::Refused : State::Unreadable;
    } else if (parser_.get().count(http::field::transfer_encoding) > 0) {
        // No body is read; a chunked one would be taken for the next request.
        refusal_ = 413;
        state_ = State::Refused;
    } else {
        state_ = State::Complete;
    }
    return state_;
}

boost::asio::mutable_buffer HeadReader::DiscardRoom() {
    buffer_.clear();
    return buffer_.prepare(buffer_.max_size());
}

}  // namespace talnet::http::server::detail
