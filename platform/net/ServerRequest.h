// One request as a service sees it: built from the parsed head, valid for the call of Handle.
#pragma once

#include <string>
#include <string_view>

#include "talnet/http/server/Server.h"

namespace talnet::http::server::detail {

class RequestView final : public Request {
public:
    // `target` is the request target as it came: the path, then possibly "?" and a query.
    RequestView(std::string method, std::string_view target);
    const std::string& GetMethod() const override { return method_; }
    const std::string& GetPath() const override { return path_; }
    // "+" is a space and %XX a byte, as in a form-encoded query (what an authorization server sends
    // back); the first occurrence of a name wins.
    bool GetQueryParameter(std::string_view name, std::string& value) const override;

private:
    std::string method_;
    std::string path_;
    std::string query_;
};

// The path of a request target: up to the query or fragment.
std::string_view PathOf(std::string_view target);

}  // namespace talnet::http::server::detail
