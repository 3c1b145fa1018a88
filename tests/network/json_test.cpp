#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "talcore/serialization/JSON.h"

namespace {

using namespace talcore::serialization;

template <class T>
const T& As(const JSONNode& node) {
    return std::any_cast<const T&>(*node);
}

TEST(JSONParse, EveryValueGetsItsDocumentedType) {
    const JSONNode root = JSONParse(R"({"s":"text","t":true,"n":null,"neg":-5,"pos":7,"negzero":-0,"d":1.5,"e":1e3,
        "a":[1,"x"],"o":{"k":"v"},"max":18446744073709551615,"min":-9223372036854775808,"over":18446744073709551616})");
    const auto get = [&](const char* key) { return GetVariantInObject(root, key); };
    EXPECT_EQ(As<std::string>(get("s")), "text");
    EXPECT_TRUE(As<bool>(get("t")));
    EXPECT_TRUE(IsNull(get("n")));
    EXPECT_EQ(As<std::int64_t>(get("neg")), -5);
    EXPECT_EQ(As<std::uint64_t>(get("pos")), 7u);
    EXPECT_EQ(As<std::uint64_t>(get("negzero")), 0u);
    EXPECT_DOUBLE_EQ(As<double>(get("d")), 1.5);
    EXPECT_DOUBLE_EQ(As<double>(get("e")), 1000.0);
    EXPECT_EQ(As<std::string>(As<JSONArray>(get("a")).at(1)), "x");
    EXPECT_EQ(As<std::string>(GetVariantInObject(get("o"), "k")), "v");
    EXPECT_EQ(As<std::uint64_t>(get("max")), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(As<std::int64_t>(get("min")), std::numeric_limits<std::int64_t>::min());
    EXPECT_DOUBLE_EQ(As<double>(get("over")), 18446744073709551616.0);  // beyond 64 bits only a double fits
}

TEST(JSONParse, MissingKeysGiveNullNodesAndWrongTypesThrowBadAnyCast) {
    const JSONNode root = JSONParse(R"({"n":42,"s":"x"})");
    const JSONNode missing = GetVariantInObject(root, "absent");
    ASSERT_TRUE(missing);
    EXPECT_TRUE(IsNull(missing));
    EXPECT_THROW(As<std::string>(missing), std::bad_any_cast);
    EXPECT_THROW(As<std::int64_t>(GetVariantInObject(root, "n")), std::bad_any_cast);  // non-negative is unsigned
    EXPECT_THROW(GetVariantInObject(GetVariantInObject(root, "s"), "k"), std::bad_any_cast);
    EXPECT_THROW(GetVariantInObject(nullptr, "k"), std::bad_any_cast);
    EXPECT_THROW(AddToObject(JSONParse("[]"), "k", nullptr), std::bad_any_cast);
}

TEST(JSONParse, EscapesAndSurrogatePairsBecomeUTF8) {
    const JSONNode root = JSONParse(R"(["\u00e9\u4e2d","\ud83d\ude00","\"\\\/\n","\u0000","\u00E9"])");
    const auto& strings = As<JSONArray>(root);
    EXPECT_EQ(As<std::string>(strings[0]), "\xC3\xA9\xE4\xB8\xAD");
    EXPECT_EQ(As<std::string>(strings[1]), "\xF0\x9F\x98\x80");
    EXPECT_EQ(As<std::string>(strings[2]), "\"\\/\n");
    EXPECT_EQ(As<std::string>(strings[3]), std::string(1, '\0'));
    EXPECT_EQ(As<std::string>(strings[4]), "\xC3\xA9");
}

TEST(JSONParse, MalformedTextOrDeepNestingThrowsRuntimeError) {
    for (const std::string text : {"", "{", "[1,]", "{\"a\":}", "tru", "01", "1.", "\"open", "[1] x", "{'a':1}", "NaN",
                                   "\"\\ud800\"", "\"\\udc00\\ud800\"", "\"tab\there\"", "\"\xC3\"", "\"\xED\xA0\x80\"",
                                   "1e400", "/*c*/1"}) {
        EXPECT_THROW(JSONParse(text), std::runtime_error) << text;
    }
    EXPECT_NO_THROW(JSONParse(std::string(256, '[') + std::string(256, ']')));
    EXPECT_THROW(JSONParse(std::string(257, '[') + std::string(257, ']')), std::runtime_error);
    EXPECT_THROW(JSONParse(std::string(1'000'000, '[')), std::runtime_error);  // no recursion, no crash
}

TEST(JSONPrint, RoundTripsKeepingOrderTypesAndUTF8) {
    const std::string text = R"({"a":3,"u":18446744073709551615,"i":-42,"d":2.0,"f":0.1,"b":true,"n":null,"s":"\u00e9\ud83d\ude00","a2":[]})";
    const JSONNode root = JSONParse(R"({"a":1,"u":18446744073709551615,"i":-42,"d":2.0,"f":0.1,"b":true,"n":null,)"
                                    R"("s":"\u00e9\ud83d\ude00","a2":[],"a":3})");  // a repeated key keeps its place
    EXPECT_EQ(GetJSONUTF8String(root), "{\"a\":3,\"u\":18446744073709551615,\"i\":-42,\"d\":2.0,\"f\":0.1,\"b\":true,"
                                       "\"n\":null,\"s\":\"\xC3\xA9\xF0\x9F\x98\x80\",\"a2\":[]}");
    EXPECT_EQ(GetJSONUTF8String(JSONParse(GetJSONUTF8String(root))), GetJSONUTF8String(JSONParse(text)));
}

TEST(JSONPrint, EscapesWhatJSONRequiresAndBuildsObjectsInOrder) {
    JSONNode post = MakeJSONObject();
    AddToObject(post, "title", MakeJSONNode(std::string("old")));
    AddToObject(post, "size", MakeJSONNode(5242880));  // an int, as a caller might write it
    AddToObject(post, "none", nullptr);
    AddToObject(post, "title", MakeJSONNode(std::string("q\"b\\\n\t\x01\x7F\xC3\xA9 bad:\xFF")));
    EXPECT_EQ(GetJSONUTF8String(post),
              "{\"title\":\"q\\\"b\\\\\\n\\t\\u0001\x7F\xC3\xA9 bad:\xEF\xBF\xBD\",\"size\":5242880,\"none\":null}");
}

TEST(JSONPrint, RefusesWhatJSONCannotExpress) {
    JSONNode loop = MakeJSONObject();
    AddToObject(loop, "self", loop);
    EXPECT_THROW(GetJSONUTF8String(loop), std::runtime_error);
    std::any_cast<JSONObject&>(*loop).clear();  // break the cycle so nothing leaks
    EXPECT_THROW(GetJSONUTF8String(MakeJSONNode(std::vector<int>{1})), std::runtime_error);
    EXPECT_EQ(GetJSONUTF8String(MakeJSONNode(std::numeric_limits<double>::infinity())), "null");
}

}  // namespace
