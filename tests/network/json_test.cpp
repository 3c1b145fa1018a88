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
    const JSONNode root =
        JSONParse(R"({"s":"\u00e9\ud83d\ude00\"\n","t":true,"n":null,"neg":-5,"pos":7,"negzero":-0,"d":1.5,
        "a":[1,"x"],"o":{"k":"v"},"max":18446744073709551615,"min":-9223372036854775808,"over":18446744073709551616})");
    const auto get = [&](const char* key) { return GetVariantInObject(root, key); };
    EXPECT_EQ(As<std::string>(get("s")), "\xC3\xA9\xF0\x9F\x98\x80\"\n");
    EXPECT_TRUE(As<bool>(get("t")));
    EXPECT_TRUE(IsNull(get("n")));
    EXPECT_EQ(As<std::int64_t>(get("neg")), -5);
    EXPECT_EQ(As<std::uint64_t>(get("pos")), 7u);
    EXPECT_EQ(As<std::uint64_t>(get("negzero")), 0u);
    EXPECT_DOUBLE_EQ(As<double>(get("d")), 1.5);
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
}

TEST(JSONParse, MalformedTextOrDeepNestingThrowsRuntimeError) {
    for (const std::string text : {"", "{", "[1,]", "{\"a\":}", "tru", "01", "\"open", "[1] x", "{'a':1}", "NaN",
                                   "\"\\ud800\"", "\"tab\there\"", "\"\xC3\"", "1e400"}) {
        EXPECT_THROW(JSONParse(text), std::runtime_error) << text;
    }
    EXPECT_NO_THROW(JSONParse(std::string(256, '[') + std::string(256, ']')));
    EXPECT_THROW(JSONParse(std::string(257, '[') + std::string(257, ']')), std::runtime_error);
    EXPECT_THROW(JSONParse(std::string(1'000'000, '[')), std::runtime_error);  // no recursion, no crash
}

// What is parsed may be an answer that carries a token or an upload address; the error says where
// and what kind of fault, never what the text around it was.
TEST(JSONParse, ErrorsNeverQuoteTheInput) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"access_token":"act.SECRET","refresh_token":"rft.SECRET)", "syntax error at byte 57"},
        {R"({"upload_url":"https://up.example/SECRET"} trailing)", "syntax error at byte 46"},
        {R"({"n":1e999,"t":"SECRET"})", "number out of range at byte 10"},
        {"SECRET", "syntax error at byte 1"},
        {R"({"bad":"SECRET\q"})", "syntax error at byte 16"},
    };
    for (const auto& [text, message] : cases) {
        try {
            JSONParse(text);
            ADD_FAILURE() << text;
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            EXPECT_EQ(what.find("SECRET"), std::string::npos) << what;
            EXPECT_EQ(what, "JSONParse: " + message) << text;
        }
    }
}

// What the plug-in sends: keys in order (a repeated one replaces in place), integers at full width,
// text escaped as JSON requires with invalid UTF-8 replaced.
TEST(JSONPrint, BuildsObjectsInOrderWithExactNumbersAndEscapes) {
    JSONNode post = MakeJSONObject();
    AddToObject(post, "title", MakeJSONNode(std::string("old")));
    AddToObject(post, "size", JSONParse("18446744073709551615"));
    AddToObject(post, "int", MakeJSONNode(-5));  // a plain int, as a caller might write it
    AddToObject(post, "title", MakeJSONNode(std::string("q\"b\\\n\x01\xC3\xA9 bad:\xFF")));
    EXPECT_EQ(GetJSONUTF8String(post),
              "{\"title\":\"q\\\"b\\\\\\n\\u0001\xC3\xA9 bad:\xEF\xBF\xBD\",\"size\":18446744073709551615,\"int\":-5}");
}

}  // namespace
