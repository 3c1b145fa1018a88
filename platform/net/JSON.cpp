// JSON trees of shared std::any nodes. nlohmann-json does the lexing (strict, UTF-8 checked) through
// its SAX interface, so the tree is built directly, without an intermediate document, and the
// nesting limit is enforced while parsing. nlohmann-json prints as well, from a copy of the tree.
#include "talcore/serialization/JSON.h"

#include <any>
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

using OrderedJSON = nlohmann::ordered_json;

// The node tree as nlohmann's (members in the order they were added), for its printer.
OrderedJSON ToPrintable(const JSONNode& node, std::size_t depth) {
    if (IsNull(node)) return nullptr;
    const std::any& value = *node;
    const std::type_info& type = value.type();
    if (type == typeid(JSONObject) || type == typeid(JSONArray)) {
        // Also what stops a tree that contains itself.
        if (depth >= kMaxDepth) throw std::runtime_error("GetJSONUTF8String: nesting is deeper than 256 levels");
        if (type == typeid(JSONObject)) {
            OrderedJSON object = OrderedJSON::object();
            for (const auto& [key, member] : std::any_cast<const JSONObject&>(value)) {
                object[key] = ToPrintable(member, depth + 1);
            }
            return object;
        }
        OrderedJSON array = OrderedJSON::array();
        for (const auto& element : std::any_cast<const JSONArray&>(value)) {
            array.push_back(ToPrintable(element, depth + 1));
        }
        return array;
    }
    if (type == typeid(std::string)) return std::any_cast<const std::string&>(value);
    if (type == typeid(bool)) return std::any_cast<bool>(value);
    if (type == typeid(std::int64_t)) return std::any_cast<std::int64_t>(value);
    if (type == typeid(std::uint64_t)) return std::any_cast<std::uint64_t>(value);
    if (type == typeid(double)) return std::any_cast<double>(value);
    // Callers build nodes with MakeJSONNode, which keeps whatever type they passed.
    if (type == typeid(int)) return std::any_cast<int>(value);
    if (type == typeid(unsigned)) return std::any_cast<unsigned>(value);
    if (type == typeid(long long)) return std::any_cast<long long>(value);
    if (type == typeid(unsigned long long)) return std::any_cast<unsigned long long>(value);
    if (type == typeid(float)) return static_cast<double>(std::any_cast<float>(value));
    if (type == typeid(const char*)) {
        const char* text = std::any_cast<const char*>(value);
        return text ? OrderedJSON(text) : OrderedJSON(nullptr);
    }
    if (type == typeid(std::string_view)) return std::string(std::any_cast<std::string_view>(value));
    if (type == typeid(std::nullptr_t)) return nullptr;
    throw std::runtime_error(std::string("GetJSONUTF8String: a node holds a type that JSON cannot express: ") +
                             type.name());
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
    // Text that is not valid UTF-8 is printed with U+FFFD in its place, so the output always is.
    return ToPrintable(node, 0).dump(-1, ' ', false, OrderedJSON::error_handler_t::replace);
}

}  // namespace talcore::serialization
