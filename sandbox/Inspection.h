#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vekta::sandbox {

enum class InitKind { DirectPost, Inbox };
std::string ToString(InitKind kind);

struct ReceivedChunk {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::string contentType;
};

// What the sandbox received for one upload, as a test would check it.
struct ReceivedUpload {
    std::string uploadId;
    std::string publishId;
    InitKind kind = InitKind::DirectPost;
    nlohmann::json postInfo;    // as sent; null for an inbox upload
    nlohmann::json sourceInfo;  // as sent, numbers keep the form they came in
    std::uint64_t videoSize = 0;
    std::uint64_t chunkSize = 0;
    std::uint64_t totalChunkCount = 0;
    std::vector<ReceivedChunk> chunks;  // accepted chunks, in order
    std::uint64_t bytesReceived = 0;
    bool complete = false;
    std::string sha256Hex;  // of the assembled bytes, once complete
    std::string filePath;   // under dataDir, or empty
    std::string bytes;      // only with keepUploadBytesInMemory
};

// One request as the sandbox saw it. Values that could be secret (tokens, codes, client secret,
// verifier, consent ids, upload tokens) are never kept: only names, and the harmless facts a test
// asserts on.
struct RequestRecord {
    std::uint64_t sequence = 0;
    std::string method;
    std::string path;                          // without the query
    std::string endpoint;                      // the fault-injection name ("token", "upload", ...), empty elsewhere
    int status = 0;                            // 0: the connection was dropped without an answer
    std::vector<std::string> headerNames;      // lower-case, each once
    std::vector<std::string> repeatedHeaders;  // lower-case names sent more than once
    std::vector<std::string> queryParamNames;
    std::vector<std::string> formFieldNames;  // for form bodies
    std::vector<std::string> jsonFieldNames;  // top-level keys of a JSON body
    std::optional<std::string> contentType;
    std::optional<std::string> contentLength;
    std::optional<std::string> contentRange;
    std::string errorCode;  // the TikTok error code answered, if any ("invalid_grant", ...)
    std::string fault;      // the injected fault that shaped the answer, if any
};

nlohmann::json ToJson(const ReceivedUpload& upload);
nlohmann::json ToJson(const RequestRecord& record);

}  // namespace vekta::sandbox
