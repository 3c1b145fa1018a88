// Raw bytes into the loopback listener's head reader, arriving in pieces whose size the input picks,
// as a socket may deliver them; a complete head goes on into the request a service sees. Whatever
// comes, the reader holds at most kMaxHeadBytes, comes to an end, and serves the same request it
// would had the bytes come all at once.
//
// Input: byte 0 the piece size (0: as much as there is room for), byte 1 how many times the rest is
// sent (1 to 8, so that heads past the limit come from short inputs), then the bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "ServerHead.h"
#include "ServerRequest.h"
#include "tests/fuzz/FuzzCheck.h"

using talnet::http::server::detail::HeadReader;
using talnet::http::server::detail::kMaxHeadBytes;
using talnet::http::server::detail::RequestView;

namespace {

struct Outcome {
    HeadReader::State state;
    int refusal;
    std::string method;
    std::string target;
};

Outcome Read(std::string_view stream, std::size_t piece) {
    HeadReader reader;
    std::size_t offset = 0;
    while (reader.GetState() == HeadReader::State::Reading && offset < stream.size()) {
        const auto room = reader.Room();
        FUZZ_CHECK(room.size() > 0);
        FUZZ_CHECK(reader.BytesHeld() + room.size() <= kMaxHeadBytes);
        const std::size_t n = std::min({room.size(), piece, stream.size() - offset});
        std::memcpy(room.data(), stream.data() + offset, n);
        offset += n;
        reader.Take(n);
        FUZZ_CHECK(reader.BytesHeld() <= kMaxHeadBytes);
    }
    Outcome outcome{reader.GetState(), reader.RefusalStatus(), {}, {}};
    if (outcome.state == HeadReader::State::Complete) {
        outcome.method = std::string(reader.Head().method_string());
        outcome.target = std::string(reader.Head().target());
        FUZZ_CHECK(offset <= kMaxHeadBytes);
    }
    if (outcome.state == HeadReader::State::Refused) {
        FUZZ_CHECK(outcome.refusal == 400 || outcome.refusal == 413 || outcome.refusal == 431);
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t piece = data[0] == 0 ? kMaxHeadBytes : data[0];
    const std::size_t repeats = 1 + data[1] % 8;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::string stream;
    for (std::size_t i = 0; i < repeats; ++i) stream += bytes;

    const Outcome pieces = Read(stream, piece);
    const Outcome whole = Read(stream, kMaxHeadBytes);
    // How the bytes were cut may decide when a bad head is noticed (at once, or only once it is
    // complete), never whether a request is served, nor which.
    const bool served = pieces.state == HeadReader::State::Complete;
    FUZZ_CHECK(served == (whole.state == HeadReader::State::Complete));
    FUZZ_CHECK(pieces.method == whole.method && pieces.target == whole.target);

    if (pieces.state == HeadReader::State::Complete) {
        const RequestView request(pieces.method, pieces.target);
        FUZZ_CHECK(request.GetPath().find_first_of("?#") == std::string::npos);
        FUZZ_CHECK(request.GetPath().size() <= pieces.target.size());
        std::string value;
        for (const char* name : {"state", "code", "error", ""}) {
            if (request.GetQueryParameter(name, value)) FUZZ_CHECK(value.size() <= pieces.target.size());
        }
    }
    return 0;
}
