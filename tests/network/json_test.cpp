#include <gtest/gtest.h>

#include <any>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "talcore/serialization/JSON.h"

namespace {

using namespace talcore::serialization;

template <class T>
const T& As(const JSONNode& node) {
    return std::any_cast<const T&>(*node);
}

TEST(JSONParse, EveryKindOfValueGetsItsDocumentedType) {
    const JSONNode root = JSONParse(R"({"s":"text","t":true,"f":false,"n":null,"neg":-5,"pos":7,"zero":0,
        "negzero":-0,"d":1.5,"e":1e3,"a":[1,"x"],"o":{"k":"v"}})");
    EXPECT_EQ(As<std::string>(GetVariantInObject(root, "s")), "text");
    EXPECT_TRUE(As<bool>(GetVariantInObject(root, "t")));
    EXPECT_FALSE(As<bool>(GetVariantInObject(root, "f")));
    EXPECT_TRUE(IsNull(GetVariantInObject(root, "n")));
    EXPECT_EQ(As<std::int64_t>(GetVariantInObject(root, "neg")), -5);
    EXPECT_EQ(As<std::uint64_t>(GetVariantInObject(root, "pos")), 7u);
    EXPECT_EQ(As<std::uint64_t>(GetVariantInObject(root, "zero")), 0u);
    EXPECT_EQ(As<std::uint64_t>(GetVariantInObject(root, "negzero")), 0u);
    EXPECT_DOUBLE_EQ(As<double>(GetVariantInObject(root, "d")), 1.5);
    EXPECT_DOUBLE_EQ(As<double>(GetVariantInObject(root, "e")), 1000.0);
    const auto& array = As<JSONArray>(GetVariantInObject(root, "a"));
    ASSERT_EQ(array.size(), 2u);
    EXPECT_EQ(As<std::uint64_t>(array[0]), 1u);
    EXPECT_EQ(As<std::string>(array[1]), "x");
    EXPECT_EQ(As<std::string>(GetVariantInObject(GetVariantInObject(root, "o"), "k")), "v");
}

TEST(JSONParse, IntegersAtTheEdgesOf64Bits) {
    const JSONNode root = JSONParse(R"([18446744073709551615,-9223372036854775808,18446744073709551616])");
    const auto& array = As<JSONArray>(root);
    EXPECT_EQ(As<std::uint64_t>(array[0]), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(As<std::int64_t>(array[1]), std::numeric_limits<std::int64_t>::min());
    // One past the largest unsigned value can only be a double.
    EXPECT_DOUBLE_EQ(As<double>(array[2]), 18446744073709551616.0);
}

TEST(JSONParse, MissingKeyIsANullNodeAndWrongTypesThrowBadAnyCast) {
    const JSONNode root = JSONParse(R"({"n":42,"s":"x"})");
    const JSONNode missing = GetVariantInObject(root, "absent");
    ASSERT_TRUE(missing);
    EXPECT_TRUE(IsNull(missing));
    EXPECT_THROW(As<std::string>(GetVariantInObject(root, "n")), std::bad_any_cast);
    EXPECT_THROW(As<std::int64_t>(GetVariantInObject(root, "n")), std::bad_any_cast);  // non-negative is unsigned
    EXPECT_THROW(As<std::string>(missing), std::bad_any_cast);
    EXPECT_THROW(GetVariantInObject(GetVariantInObject(root, "s"), "k"), std::bad_any_cast);
    EXPECT_THROW(GetVariantInObject(JSONParse("[1]"), "k"), std::bad_any_cast);
    EXPECT_THROW(GetVariantInObject(nullptr, "k"), std::bad_any_cast);
}

TEST(JSONParse, RepeatedKeyKeepsItsFirstPlaceAndLastValue) {
    const JSONNode root = JSONParse(R"({"a":1,"b":2,"a":3})");
    const auto& members = As<JSONObject>(root);
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].first, "a");
    EXPECT_EQ(As<std::uint64_t>(members[0].second), 3u);
    EXPECT_EQ(GetJSONUTF8String(root), R"({"a":3,"b":2})");
}

TEST(JSONParse, UnicodeEscapesAndSurrogatePairsBecomeUTF8) {
    const JSONNode root = JSONParse(R"(["\u00e9\u4e2d","\ud83d\ude00","caf\u00E9 \"q\" \\ \/","\u0000x"])");
    const auto& array = As<JSONArray>(root);
    EXPECT_EQ(As<std::string>(array[0]), "\xC3\xA9\xE4\xB8\xAD");
    EXPECT_EQ(As<std::string>(array[1]), "\xF0\x9F\x98\x80");
    EXPECT_EQ(As<std::string>(array[2]), "caf\xC3\xA9 \"q\" \\ /");
    EXPECT_EQ(As<std::string>(array[3]), std::string("\0x", 2));
    // Raw UTF-8 in the text is kept as it is.
    EXPECT_EQ(As<std::string>(JSONParse("\"\xF0\x9F\x98\x80\"")), "\xF0\x9F\x98\x80");
}

TEST(JSONParse, MalformedTextThrowsRuntimeError) {
    for (const char* text : {"", " ", "{", "[1,]", "{\"a\":}", "{\"a\" 1}", "tru", "01", "1.", "\"open", "[1] x",
                             "{'a':1}", "\"\\ud800\"", "\"\\udc00\\ud800\"", "\"\\x\"", "\"tab\there\"", "NaN",
                             "\"\xC3\"", "\"\xED\xA0\x80\"", "1e400", "/*c*/1"}) {
        EXPECT_THROW(JSONParse(text), std::runtime_error) << text;
    }
}

TEST(JSONParse, NestingIsLimitedTo256Levels) {
    EXPECT_NO_THROW(JSONParse(std::string(256, '[') + std::string(256, ']')));
    EXPECT_THROW(JSONParse(std::string(257, '[') + std::string(257, ']')), std::runtime_error);
    // Far beyond any stack: refused without recursion, and without a crash.
    EXPECT_THROW(JSONParse(std::string(1'000'000, '[')), std::runtime_error);
    std::string objects;
    for (int i = 0; i < 300; ++i) objects += "{\"k\":";
    EXPECT_THROW(JSONParse(objects + "1" + std::string(300, '}')), std::runtime_error);
}

TEST(JSONPrint, EscapesControlsAndQuotesAndKeepsUTF8) {
    JSONNode object = MakeJSONObject();
    AddToObject(object, "text", MakeJSONNode(std::string("a\"b\\c\n\t\x01\x1F\x7F/\xC3\xA9\xF0\x9F\x98\x80")));
    EXPECT_EQ(GetJSONUTF8String(object),
              "{\"text\":\"a\\\"b\\\\c\\n\\t\\u0001\\u001f\x7F/\xC3\xA9\xF0\x9F\x98\x80\"}");
    // Invalid UTF-8 in a string never reaches the output as it is.
    EXPECT_EQ(GetJSONUTF8String(MakeJSONNode(std::string("x\xFFy\xC3"))), "\"x\xEF\xBF\xBDy\xEF\xBF\xBD\"");
}

TEST(JSONPrint, NumbersKeepTheirTypeThroughARoundTrip) {
    const std::string text = R"({"u":18446744073709551615,"i":-42,"d":2.0,"f":0.1,"big":1e+300,"b":true,"n":null,"a":[]})";
    const JSONNode root = JSONParse(text);
    EXPECT_EQ(GetJSONUTF8String(root), text);
    const JSONNode again = JSONParse(GetJSONUTF8String(root));
    EXPECT_DOUBLE_EQ(As<double>(GetVariantInObject(again, "d")), 2.0);
    EXPECT_DOUBLE_EQ(As<double>(GetVariantInObject(again, "f")), 0.1);
    EXPECT_EQ(GetJSONUTF8String(MakeJSONNode(std::numeric_limits<double>::infinity())), "null");
}

TEST(JSONPrint, BuiltObjectsKeepInsertionOrderAndReplaceRepeatedKeys) {
    JSONNode post = MakeJSONObject();
    AddToObject(post, "title", MakeJSONNode(std::string("#tag")));
    AddToObject(post, "privacy_level", MakeJSONNode(std::string("SELF_ONLY")));
    AddToObject(post, "disable_duet", MakeJSONNode(false));
    AddToObject(post, "title", MakeJSONNode(std::string("new")));
    JSONNode source = MakeJSONObject();
    AddToObject(source, "video_size", MakeJSONNode(std::uint64_t{12000000}));
    AddToObject(source, "chunk_size", MakeJSONNode(5242880));  // int, as a caller might write it
    AddToObject(source, "none", nullptr);
    AddToObject(post, "source_info", source);
    EXPECT_EQ(GetJSONUTF8String(post),
              R"({"title":"new","privacy_level":"SELF_ONLY","disable_duet":false,)"
              R"("source_info":{"video_size":12000000,"chunk_size":5242880,"none":null}})");
    EXPECT_THROW(AddToObject(MakeJSONNode(JSONArray{}), "k", nullptr), std::bad_any_cast);
}

TEST(JSONPrint, RefusesWhatJSONCannotExpress) {
    JSONNode loop = MakeJSONObject();
    AddToObject(loop, "self", loop);  // a tree that contains itself
    EXPECT_THROW(GetJSONUTF8String(loop), std::runtime_error);
    std::any_cast<JSONObject&>(*loop).clear();  // break the cycle so the test does not leak it
    EXPECT_THROW(GetJSONUTF8String(MakeJSONNode(std::vector<int>{1})), std::runtime_error);
}

}  // namespace
