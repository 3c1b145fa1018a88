#include "ServerRequest.h"

#include <utility>

namespace talnet::http::server::detail {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A "%" without two hex digits stays as it is.
std::string FormDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

}  // namespace

std::string_view PathOf(std::string_view target) { return target.substr(0, target.find_first_of("?#")); }

RequestView::RequestView(std::string method, std::string_view target)
    : method_(std::move(method)), path_(PathOf(target)) {
    if (const auto start = target.find('?'); start != std::string_view::npos) {
        const std::string_view query = target.substr(start + 1);
        query_ = query.substr(0, query.find('#'));
    }
}

bool RequestView::GetQueryParameter(std::string_view name, std::string& value) const {
    std::string_view query(query_);
    while (!query.empty()) {
        const auto end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view{} : query.substr(end + 1);
        const auto equals = pair.find('=');
        if (FormDecode(pair.substr(0, equals)) != name) continue;
        value = equals == std::string_view::npos ? std::string() : FormDecode(pair.substr(equals + 1));
        return true;
    }
    return false;
}

}  // namespace talnet::http::server::detail
