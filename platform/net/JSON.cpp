// JSON trees of shared std::any nodes. nlohmann-json does the lexing (strict, UTF-8 checked) through
// its SAX interface, so the tree is built directly, without an intermediate document, and the
// nesting limit is enforced while parsing. Printing is our own: it writes straight from the nodes.
#include "talcore/serialization/JSON.h"

#include <any>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

namespace talcore::serialization {
namespace {

constexpr std::size_t kMaxDepth = 256;

class TreeBuilder {
public:
    using json = nlohmann::json;

    bool null() { return Add(std::make_shared<std::any>()); }
    bool boolean(bool value) { return Add(MakeJSONNode(value)); }
    bool number_integer(json::number_integer_t value) {
        // The lexer only hands signed values for negative numbers, but "-0" arrives here as 0.
        if (value >= 0) return Add(MakeJSONNode(static_cast<std::uint64_t>(value)));
        return Add(MakeJSONNode(static_cast<std::int64_t>(value)));
    }
    bool number_unsigned(json::number_unsigned_t value) { return Add(MakeJSONNode(static_cast<std::uint64_t>(value))); }
    bool number_float(json::number_float_t value, const json::string_t&) { return Add(MakeJSONNode(double{value})); }
    bool string(json::string_t& value) { return Add(MakeJSONNode(std::move(value))); }
    bool binary(json::binary_t&) { return Fail("binary values are not JSON"); }

    bool start_object(std::size_t) { return Open(MakeJSONNode(JSONObject{}), true); }
    bool key(json::string_t& name) {
        frames_.back().pendingKey = std::move(name);
        return true;
    }
    bool end_object() { return Close(); }
    bool start_array(std::size_t) { return Open(MakeJSONNode(JSONArray{}), false); }
    bool end_array() { return Close(); }

    // The lexer's own message quotes the text around the fault, and what is parsed may carry a
    // token or an upload address: only the kind of fault and its byte offset are kept.
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& error) {
        const bool outOfRange = dynamic_cast<const nlohmann::detail::out_of_range*>(&error) != nullptr;
        return Fail(std::string(outOfRange ? "number out of range" : "syntax error") + " at byte " +
                    std::to_string(position));
    }

    JSONNode TakeRoot() { return std::move(root_); }
    const std::string& Error() const { return error_; }

private:
    struct Frame {
        JSONArray* array = nullptr;
        JSONObject* object = nullptr;
        std::string pendingKey;
        // Position of each key in `object`, so that a repeated key replaces in constant time.
        std::unordered_map<std::string, std::size_t> keyIndex;
    };

    bool Fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
        return false;
    }

    bool Add(JSONNode node) {
        if (frames_.empty()) {
            root_ = std::move(node);
            return true;
        }
        Frame& top = frames_.back();
        if (top.array) {
            top.array->push_back(std::move(node));
            return true;
        }
        auto [it, inserted] = top.keyIndex.try_emplace(top.pendingKey, top.object->size());
        if (inserted) {
            top.object->emplace_back(std::move(top.pendingKey), std::move(node));
        } else {
            (*top.object)[it->second].second = std::move(node);
        }
        top.pendingKey.clear();
        return true;
    }

    bool Open(JSONNode container, bool isObject) {
        if (frames_.size() >= kMaxDepth) return Fail("JSON nesting is deeper than 256 levels");
        Frame frame;
        if (isObject) {
            frame.object = &std::any_cast<JSONObject&>(*container);
        } else {
            frame.array = &std::any_cast<JSONArray&>(*container);
        }
        // The container's vector lives in its heap node, so the pointer stays valid after the move.
        if (!Add(std::move(container))) return false;
        frames_.push_back(std::move(frame));
        return true;
    }

    bool Close() {
        frames_.pop_back();
        return true;
    }

    std::vector<Frame> frames_;
    JSONNode root_;
    std::string error_;
};

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one (overlong forms,
// surrogates and values beyond U+10FFFF are invalid).
std::size_t ValidUTF8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

void PrintString(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = ValidUTF8Length(text, i);
            if (length == 0) {
                out += "\xEF\xBF\xBD";  // U+FFFD keeps the output valid UTF-8
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 0xF]);
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
        ++i;
    }
    out.push_back('"');
}

template <class T>
void PrintInteger(T value, std::string& out) {
    char buffer[24];
    auto result = std::to_chars(std::begin(buffer), std::end(buffer), value);
    out.append(buffer, result.ptr);
}

void PrintDouble(double value, std::string& out) {
    if (!std::isfinite(value)) {
        out += "null";  // JSON has no NaN or infinity
        return;
    }
    char buffer[32];
    auto result = std::to_chars(std::begin(buffer), std::end(buffer), value);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    out += text;
    // Keep a double a double when the text is read back.
    if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

void Print(const JSONNode& node, std::size_t depth, std::string& out) {
    if (IsNull(node)) {
        out += "null";
        return;
    }
    const std::any& value = *node;
    const std::type_info& type = value.type();
    if (type == typeid(JSONObject) || type == typeid(JSONArray)) {
        // Also what stops a tree that contains itself.
        if (depth >= kMaxDepth) throw std::runtime_error("GetJSONUTF8String: nesting is deeper than 256 levels");
        if (type == typeid(JSONObject)) {
            out.push_back('{');
            bool first = true;
            for (const auto& [key, member] : std::any_cast<const JSONObject&>(value)) {
                if (!first) out.push_back(',');
                first = false;
                PrintString(key, out);
                out.push_back(':');
                Print(member, depth + 1, out);
            }
            out.push_back('}');
        } else {
            out.push_back('[');
            bool first = true;
            for (const auto& element : std::any_cast<const JSONArray&>(value)) {
                if (!first) out.push_back(',');
                first = false;
                Print(element, depth + 1, out);
            }
            out.push_back(']');
        }
    } else if (type == typeid(std::string)) {
        PrintString(std::any_cast<const std::string&>(value), out);
    } else if (type == typeid(bool)) {
        out += std::any_cast<bool>(value) ? "true" : "false";
    } else if (type == typeid(std::int64_t)) {
        PrintInteger(std::any_cast<std::int64_t>(value), out);
    } else if (type == typeid(std::uint64_t)) {
        PrintInteger(std::any_cast<std::uint64_t>(value), out);
    } else if (type == typeid(double)) {
        PrintDouble(std::any_cast<double>(value), out);
    }
    // Callers build nodes with MakeJSONNode, which keeps whatever type they passed.
    else if (type == typeid(int)) {
        PrintInteger(std::any_cast<int>(value), out);
    } else if (type == typeid(unsigned)) {
        PrintInteger(std::any_cast<unsigned>(value), out);
    } else if (type == typeid(long long)) {
        PrintInteger(std::any_cast<long long>(value), out);
    } else if (type == typeid(unsigned long long)) {
        PrintInteger(std::any_cast<unsigned long long>(value), out);
    } else if (type == typeid(float)) {
        PrintDouble(static_cast<double>(std::any_cast<float>(value)), out);
    } else if (type == typeid(const char*)) {
        const char* text = std::any_cast<const char*>(value);
        if (text) {
            PrintString(text, out);
        } else {
            out += "null";
        }
    } else if (type == typeid(std::string_view)) {
        PrintString(std::any_cast<std::string_view>(value), out);
    } else if (type == typeid(std::nullptr_t)) {
        out += "null";
    } else {
        throw std::runtime_error(std::string("GetJSONUTF8String: a node holds a type that JSON cannot express: ") +
                                 type.name());
    }
}

}  // namespace

JSONNode JSONParse(std::string_view utf8) {
    TreeBuilder builder;
    const bool parsed = nlohmann::json::sax_parse(utf8.begin(), utf8.end(), &builder);
    if (!parsed) {
        throw std::runtime_error("JSONParse: " +
                                 (builder.Error().empty() ? std::string("malformed JSON") : builder.Error()));
    }
    return builder.TakeRoot();
}

JSONNode GetVariantInObject(const JSONNode& object, std::string_view key) {
    if (!object) throw std::bad_any_cast();
    for (const auto& [name, value] : std::any_cast<const JSONObject&>(*object)) {
        if (name == key) return value ? value : std::make_shared<std::any>();
    }
    return std::make_shared<std::any>();
}

void AddToObject(const JSONNode& object, std::string key, JSONNode value) {
    if (!object) throw std::bad_any_cast();
    auto& members = std::any_cast<JSONObject&>(*object);
    if (!value) value = std::make_shared<std::any>();
    for (auto& member : members) {
        if (member.first == key) {
            member.second = std::move(value);
            return;
        }
    }
    members.emplace_back(std::move(key), std::move(value));
}

std::string GetJSONUTF8String(const JSONNode& node) {
    std::string out;
    Print(node, 0, out);
    return out;
}

}  // namespace talcore::serialization
