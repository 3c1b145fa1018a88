#include "ServerRequest.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace talnet::http::server::detail {
namespace {

// The byte of the two hex digits that start `text`, or -1 when they are not two hex digits.
int HexByte(std::string_view text) {
    unsigned value = 0;
    const char* last = text.data() + std::min<std::size_t>(text.size(), 2);
    const auto [end, error] = std::from_chars(text.data(), last, value, 16);
    return error == std::errc() && end == text.data() + 2 ? static_cast<int>(value) : -1;
}

// A "%" without two hex digits stays as it is.
std::string FormDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (const int byte = text[i] == '%' ? HexByte(text.substr(i + 1)) : -1; byte >= 0) {
            out.push_back(static_cast<char>(byte));
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
