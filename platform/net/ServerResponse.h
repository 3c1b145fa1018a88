// The answer a service fills, and the bytes the server sends for it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "talnet/http/server/Server.h"

namespace talnet::http::server::detail {

// [any-thread] Filled by the service until it calls its completion; read on the server's thread
// only after that call, which the hand-over to the server's thread orders after the writes.
class ResponseRecord final : public MutableResponse {
public:
    void SetStatus(int status) override { status_ = status; }
    void SetPayload(std::shared_ptr<const std::string> payload, std::string contentType) override {
        payload_ = std::move(payload);
        contentType_ = std::move(contentType);
    }
    void SetHeader(std::string name, std::string value) override {
        headers_.emplace_back(std::move(name), std::move(value));
    }

    // The status line and the header fields: the service's own that are safe to send, then the
    // framing, which is the server's alone.
    std::string Head() const;
    // The status sent: what the service set when it is one, else 500.
    int Status() const { return status_ >= 100 && status_ <= 599 ? status_ : 500; }
    // Shared with the service, not copied; null for none.
    const std::shared_ptr<const std::string>& Payload() const { return payload_; }

private:
    int status_ = 200;
    std::shared_ptr<const std::string> payload_;
    std::string contentType_;
    std::vector<std::pair<std::string, std::string>> headers_;
};

// The head of an answer the server gives by itself, without a payload.
std::string StatusOnlyHead(int status);

}  // namespace talnet::http::server::detail
