#include "sandbox/Inspection.h"

namespace vekta::sandbox {

std::string ToString(InitKind kind) { return kind == InitKind::DirectPost ? "direct" : "inbox"; }

nlohmann::json ToJson(const ReceivedUpload& upload) {
    nlohmann::json chunks = nlohmann::json::array();
    for (const auto& chunk : upload.chunks) {
        chunks.push_back({{"first", chunk.first}, {"last", chunk.last}, {"content_type", chunk.contentType}});
    }
    return {
        {"upload_id", upload.uploadId},
        {"publish_id", upload.publishId},
        {"kind", ToString(upload.kind)},
        {"post_info", upload.postInfo},
        {"source_info", upload.sourceInfo},
        {"video_size", upload.videoSize},
        {"chunk_size", upload.chunkSize},
        {"total_chunk_count", upload.totalChunkCount},
        {"chunks", chunks},
        {"bytes_received", upload.bytesReceived},
        {"complete", upload.complete},
        {"sha256", upload.sha256Hex},
        {"file", upload.filePath},
    };
}

nlohmann::json ToJson(const RequestRecord& record) {
    nlohmann::json out = {
        {"sequence", record.sequence},
        {"method", record.method},
        {"path", record.path},
        {"endpoint", record.endpoint},
        {"status", record.status},
        {"header_names", record.headerNames},
        {"repeated_headers", record.repeatedHeaders},
        {"query_param_names", record.queryParamNames},
        {"form_field_names", record.formFieldNames},
        {"json_field_names", record.jsonFieldNames},
        {"error_code", record.errorCode},
        {"fault", record.fault},
    };
    if (record.contentType) out["content_type"] = *record.contentType;
    if (record.contentLength) out["content_length"] = *record.contentLength;
    if (record.contentRange) out["content_range"] = *record.contentRange;
    return out;
}

}  // namespace vekta::sandbox
