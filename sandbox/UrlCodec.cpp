#include "sandbox/UrlCodec.h"

#include <boost/algorithm/hex.hpp>
#include <set>

namespace vekta::sandbox {
namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

}  // namespace

std::string PercentEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if (IsUnreserved(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            boost::algorithm::hex(&c, &c + 1, std::back_inserter(out));
        }
    }
    return out;
}

std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            try {
                boost::algorithm::unhex(text.begin() + i + 1, text.begin() + i + 3, std::back_inserter(out));
            } catch (const boost::algorithm::hex_decode_error&) {
                return std::nullopt;
            }
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<FormFields> ParseUrlEncoded(std::string_view text) {
    FormFields fields;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const std::size_t equals = pair.find('=');
            auto name = PercentDecode(pair.substr(0, equals), true);
            auto value = equals == std::string_view::npos ? std::optional<std::string>(std::string())
                                                          : PercentDecode(pair.substr(equals + 1), true);
            if (!name || !value) return std::nullopt;
            fields.push_back({std::move(*name), std::move(*value)});
        }
        start = end + 1;
    }
    return fields;
}

std::string EncodeUrlEncoded(const FormFields& fields) {
    std::string out;
    for (const auto& field : fields) {
        if (!out.empty()) out.push_back('&');
        out += PercentEncode(field.name);
        out.push_back('=');
        out += PercentEncode(field.value);
    }
    return out;
}

std::vector<std::string> FieldNames(const FormFields& fields) {
    std::vector<std::string> names;
    names.reserve(fields.size());
    for (const auto& field : fields) names.push_back(field.name);
    return names;
}

std::optional<std::string> SingleValue(const FormFields& fields, std::string_view name) {
    const FormField* found = nullptr;
    for (const auto& field : fields) {
        if (field.name != name) continue;
        if (found) return std::nullopt;
        found = &field;
    }
    if (!found) return std::nullopt;
    return found->value;
}

bool HasRepeatedField(const FormFields& fields) {
    std::set<std::string_view> seen;
    for (const auto& field : fields) {
        if (!seen.insert(field.name).second) return true;
    }
    return false;
}

std::string_view QueryOf(std::string_view target) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) return {};
    std::string_view query = target.substr(question + 1);
    const std::size_t hash = query.find('#');
    return hash == std::string_view::npos ? query : query.substr(0, hash);
}

}  // namespace vekta::sandbox
