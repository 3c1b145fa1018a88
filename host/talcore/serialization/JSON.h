// JSON as a tree of shared std::any nodes.
//
// A node holds one of: nothing (null, also what a missing key gives), bool, std::int64_t (negative
// integers), std::uint64_t (non-negative integers), double, std::string (UTF-8), JSONArray or
// JSONObject. Reading a node as the wrong type with std::any_cast throws std::bad_any_cast.
#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "talcore/TalExport.h"

namespace talcore::serialization {

using JSONNode = std::shared_ptr<std::any>;
using JSONArray = std::vector<JSONNode>;
// Members in document order; a key given twice keeps its last value.
using JSONObject = std::vector<std::pair<std::string, JSONNode>>;

// Parses UTF-8 text. Malformed text, or nesting deeper than 256 levels, throws std::runtime_error.
TAL_API JSONNode JSONParse(std::string_view utf8);

// The member `key` of an object node; a null node when the key is missing. Throws
// std::bad_any_cast when `object` is not an object.
TAL_API JSONNode GetVariantInObject(const JSONNode& object, std::string_view key);

// Sets member `key` of an object node (replacing an earlier one); throws std::bad_any_cast when
// `object` is not an object.
TAL_API void AddToObject(const JSONNode& object, std::string key, JSONNode value);

// Prints a node as compact UTF-8 JSON text.
TAL_API std::string GetJSONUTF8String(const JSONNode& node);

template <class T>
JSONNode MakeJSONNode(T value) {
    return std::make_shared<std::any>(std::move(value));
}
inline JSONNode MakeJSONObject() { return MakeJSONNode(JSONObject{}); }
inline bool IsNull(const JSONNode& node) { return !node || !node->has_value(); }

}  // namespace talcore::serialization
