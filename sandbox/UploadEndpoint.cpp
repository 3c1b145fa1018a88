#include "sandbox/UploadEndpoint.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "sandbox/HttpServer.h"
#include "sandbox/UrlCodec.h"

namespace vekta::sandbox {
namespace {

constexpr std::array<std::string_view, 3> kVideoTypes{"video/mp4", "video/quicktime", "video/webm"};

std::optional<std::uint64_t> ParseDigits(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<ContentRange> ParseContentRange(std::string_view header) {
    constexpr std::string_view kUnit = "bytes ";
    if (header.substr(0, kUnit.size()) != kUnit) return std::nullopt;
    header.remove_prefix(kUnit.size());
    const auto dash = header.find('-');
    const auto slash = header.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return std::nullopt;
    const auto first = ParseDigits(header.substr(0, dash));
    const auto last = ParseDigits(header.substr(dash + 1, slash - dash - 1));
    const auto total = ParseDigits(header.substr(slash + 1));
    if (!first || !last || !total || *first > *last || *last >= *total) return std::nullopt;
    return ContentRange{{*first, *last}, *total};
}

UploadEndpoint::UploadEndpoint(const SandboxClock& clock, UploadStore& uploads) : clock_(clock), uploads_(uploads) {}

void UploadEndpoint::Refuse(Exchange& ex, int status, std::string_view code, std::string_view message) {
    ex.DiscardBody();
    ex.SendError(status, code, message);
}

void UploadEndpoint::Put(Exchange& ex) {
    const auto query = ParseUrlEncoded(QueryOf(ex.request.target));
    if (query) ex.record.queryParamNames = FieldNames(*query);
    const auto uploadId = query ? SingleValue(*query, "upload_id") : std::nullopt;
    const auto uploadToken = query ? SingleValue(*query, "upload_token") : std::nullopt;
    const auto session = uploadId && uploadToken ? uploads_.Find(*uploadId, *uploadToken) : nullptr;
    if (!session) return Refuse(ex, 404, "not_found", "The upload does not exist");
    if (session->Expired(clock_.Now())) return Refuse(ex, 403, "url_expired", "The upload URL has expired");

    const auto contentType = ex.SingleHeader("Content-Type");
    if (!contentType || std::find(kVideoTypes.begin(), kVideoTypes.end(), *contentType) == kVideoTypes.end()) {
        return Refuse(ex, 415, "invalid_file_upload", "Content-Type must be video/mp4, video/quicktime or video/webm");
    }
    if (ex.request.has_header("Transfer-Encoding")) {
        return Refuse(ex, 400, "invalid_params", "Chunks must be sent with a Content-Length");
    }
    const auto rangeHeader = ex.SingleHeader("Content-Range");
    const auto range = rangeHeader ? ParseContentRange(*rangeHeader) : std::nullopt;
    if (!range) return Refuse(ex, 400, "invalid_params", "Content-Range must be bytes first-last/total");
    const auto lengthHeader = ex.SingleHeader("Content-Length");
    const auto length = lengthHeader ? ParseDigits(*lengthHeader) : std::nullopt;
    if (!length || *length != range->range.Length()) {
        return Refuse(ex, 400, "invalid_params", "Content-Length must equal the length of Content-Range");
    }

    switch (session->BeginChunk(range->range, range->total, *contentType)) {
        case UploadSession::ChunkCheck::Accepted:
            break;
        case UploadSession::ChunkCheck::Busy:
            return Refuse(ex, 416, "range_not_satisfiable", "Another chunk of this upload is being received");
        case UploadSession::ChunkCheck::OutOfPlan:
            return Refuse(ex, 416, "range_not_satisfiable", "The range is not the next chunk of the upload");
    }

    ex.MarkBodyConsumed();
    bool stored = true;
    const bool received = (*ex.bodyReader)([&](const char* data, std::size_t size) {
        stored = session->Append(data, size);
        return stored;
    });
    if (!received || !stored || session->ChunkBytesSoFar() != *length) {
        session->AbortChunk();
        if (Connection* connection = CurrentConnection()) connection->CloseAfterResponse();
        if (!stored) return ex.SendError(500, "internal_error", "The chunk could not be stored");
        return ex.SendError(400, "invalid_params", "The chunk body is shorter than its Content-Length");
    }
    const auto committed = session->CommitChunk();
    if (committed.complete) {
        ex.response.status = 201;
        return;
    }
    ex.response.status = 206;
    ex.response.set_header("Content-Range",
                           "bytes 0-" + std::to_string(committed.receivedThrough) + "/" + std::to_string(range->total));
}

}  // namespace vekta::sandbox
