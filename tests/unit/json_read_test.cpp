#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "vpn/json_read.h"

using vpn::jsonDataObject;
using vpn::jsonFlag;
using vpn::jsonInt;
using vpn::jsonObject;
using vpn::jsonObjectArray;
using vpn::jsonOptionalInt;
using vpn::jsonString;

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

std::string deepArrays(size_t depth, const std::string& inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

}  // namespace

TEST(JsonLookup, FirstMemberInDocumentOrderAtAnyDepth) {
    EXPECT_EQ(jsonString(R"({"a":{"id":"inner"},"id":"outer"})", "id"), "inner");
    EXPECT_EQ(jsonString(R"({"id":"outer","a":{"id":"inner"}})", "id"), "outer");
    EXPECT_EQ(jsonString(R"({"list":[{"k":"first"},{"k":"second"}]})", "k"), "first");
    EXPECT_EQ(jsonString(R"([1,{"x":[{"k":"deep"}]},{"k":"shallow"}])", "k"), "deep");
    // A member's key comes before the contents of its own value.
    EXPECT_EQ(jsonObject(R"({"x":{"x":5}})", "x"), R"({"x":5})");
    EXPECT_EQ(jsonString(R"({"Id":"upper"})", "id"), "");  // keys compare exactly
    // JSON white space anywhere; duplicate keys read the first member.
    EXPECT_EQ(jsonString(R"({"a" :  "v"})", "a"), "v");
    EXPECT_EQ(jsonString("{\"a\":\r\n\t\"v\"}", "a"), "v");  // line breaks before the value too
    EXPECT_EQ(jsonInt("{\n  \"id\" :\n 5\n}", "id", 0), 5);
    EXPECT_EQ(jsonInt(R"({"id":1,"id":2})", "id", 0), 1);
    EXPECT_EQ(jsonObject(R"({"plan":{"a":1,"a":2}})", "plan"), R"({"a":1,"a":2})");
    EXPECT_EQ(jsonInt(jsonObject(R"({"plan":{"a":1,"a":2}})", "plan"), "a", 0), 1);
}

TEST(JsonLookup, KeysInsideStringValuesAreNeverMatched) {
    const std::string text = R"({"message":"use \"token\":\"fake\" here","token":"real"})";
    EXPECT_EQ(jsonString(text, "token"), "real");
    EXPECT_EQ(jsonInt(R"({"note":"\"id\":7","id":3})", "id", -1), 3);
    EXPECT_FALSE(jsonFlag(R"({"hint":"\"ok\":1"})", "ok"));
}

TEST(JsonLookup, TextThatIsNotJsonReadsAsAbsent) {
    for (const std::string text : {R"({"a":"v")", R"({"a":"v"} trailing)", R"({'a':'v'})",
                                   "{\"a\":\"\xff\"}", "", "a", R"({"a":"v",})", "\"a\":\"v\""}) {
        EXPECT_EQ(jsonString(text, "a"), "") << text;
        EXPECT_EQ(jsonInt(text, "a", -7), -7) << text;
        EXPECT_FALSE(jsonFlag(text, "a")) << text;
        EXPECT_EQ(jsonObject(text, "a"), "") << text;
        EXPECT_TRUE(jsonObjectArray(text, "a").empty()) << text;
        EXPECT_EQ(jsonDataObject(text), text) << text;
    }
}

TEST(JsonLookup, DeepNestingNeitherCrashesNorIsRead) {
    EXPECT_EQ(jsonString(deepArrays(300, R"({"k":"found"})"), "k"), "found");
    EXPECT_EQ(jsonObject(deepArrays(300, R"({"k":{"v":1}})"), "k"), R"({"v":1})");
    // Far deeper than any reply: treated as not JSON rather than risking the stack.
    EXPECT_EQ(jsonString(deepArrays(100000, R"({"k":"found"})"), "k"), "");
    const std::string unbalanced(200000, '{');
    EXPECT_EQ(jsonDataObject(unbalanced), unbalanced);
}

TEST(JsonString, DecodesJsonEscapesOfStringValuesOnly) {
    EXPECT_EQ(jsonString(R"({"m":"\u4f60\u597d\u4e16\u754c"})", "m"), "你好世界");
    EXPECT_EQ(jsonString(R"({"m":"a\tb\nc\r\"q\"\\\/"})", "m"), "a\tb\nc\r\"q\"\\/");
    EXPECT_EQ(jsonString(R"({"m":"\ud83d\ude00"})", "m"), "\xF0\x9F\x98\x80");  // one code point
    EXPECT_EQ(jsonString(R"({"a":5})", "a"), "");
    EXPECT_EQ(jsonString(R"({"a":{"b":"c"}})", "a"), "");
    EXPECT_EQ(jsonString(R"({"a":""})", "a"), "");
    EXPECT_EQ(jsonString(R"({"b":"x"})", "a"), "");
    // The first member decides, even when a later one would be a string.
    EXPECT_EQ(jsonString(R"({"a":1,"z":{"a":"later"}})", "a"), "");
}

TEST(JsonInt, NumbersStringsAndTheFallback) {
    EXPECT_EQ(jsonInt(R"({"id":5})", "id", -1), 5);
    EXPECT_EQ(jsonInt(R"({"id":"5"})", "id", -1), 5);
    EXPECT_EQ(jsonInt(R"({"id":" 42abc"})", "id", -1), 42);
    EXPECT_EQ(jsonInt(R"({"id":"abc"})", "id", -1), 0);
    EXPECT_EQ(jsonInt(R"({"id":-3})", "id", -1), -3);
    EXPECT_EQ(jsonInt(R"({"id":12.7})", "id", -1), 12);
    EXPECT_EQ(jsonInt(R"({"id":1e3})", "id", -1), 1000);
    EXPECT_EQ(jsonInt(R"({"id":null})", "id", -1), 0);
    EXPECT_EQ(jsonInt(R"({"id":[1]})", "id", -1), 0);
    EXPECT_EQ(jsonInt(R"({"other":1})", "id", -1), -1);
}

TEST(JsonInt, SaturatesInsteadOfOverflowing) {
    EXPECT_EQ(jsonInt(R"({"n":18446744073709551615})", "n", 0), kInt64Max);
    EXPECT_EQ(jsonInt(R"({"n":1e300})", "n", 0), kInt64Max);
    EXPECT_EQ(jsonInt(R"({"n":-1e300})", "n", 0), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(jsonInt(R"({"n":"99999999999999999999999"})", "n", 0), kInt64Max);
    EXPECT_EQ(jsonInt(R"({"n":"-99999999999999999999999"})", "n", 0),
              std::numeric_limits<int64_t>::min());
}

TEST(JsonOptionalInt, PresentOnlyForNonNegativeNumbers) {
    int64_t out = -1;
    EXPECT_TRUE(jsonOptionalInt(R"({"price":0})", "price", out));
    EXPECT_EQ(out, 0);
    EXPECT_TRUE(jsonOptionalInt(R"({"price":990})", "price", out));
    EXPECT_EQ(out, 990);
    // A quoted price is that price, not zero: a priced plan must never show as free.
    EXPECT_TRUE(jsonOptionalInt(R"({"price":"990"})", "price", out));
    EXPECT_EQ(out, 990);
    EXPECT_TRUE(jsonOptionalInt(R"({"price":1299.9})", "price", out));
    EXPECT_EQ(out, 1299);

    out = 77;
    for (const char* text :
         {R"({"price":null})", R"({"other":1})", R"({"price":-5})", R"({"price":-0.5})",
          R"({"price":"-5"})", R"({"price":"12a"})", R"({"price":""})", R"({"price":" 12"})",
          R"({"price":"1.5"})", R"({"price":true})", R"({"price":{}})",
          R"({"price":"99999999999999999999"})", "not json"}) {
        EXPECT_FALSE(jsonOptionalInt(text, "price", out)) << text;
        EXPECT_EQ(out, 77) << text;  // untouched when absent
    }
}

TEST(JsonFlag, TrueAndNonZeroNumbersOnly) {
    EXPECT_TRUE(jsonFlag(R"({"is_email_verify":1})", "is_email_verify"));
    EXPECT_TRUE(jsonFlag(R"({"is_email_verify":true})", "is_email_verify"));
    EXPECT_TRUE(jsonFlag(R"({"f":0.5})", "f"));
    EXPECT_FALSE(jsonFlag(R"({"is_email_verify":0})", "is_email_verify"));
    EXPECT_FALSE(jsonFlag(R"({"is_email_verify":"1"})", "is_email_verify"));
    EXPECT_FALSE(jsonFlag(R"({"f":0.0})", "f"));
    EXPECT_FALSE(jsonFlag(R"({"f":"true"})", "f"));
    EXPECT_FALSE(jsonFlag(R"({"other":1})", "f"));
}

TEST(JsonObject, OnlyAnObjectValueOfThatMember) {
    EXPECT_EQ(jsonObject(R"({"plan":{"id":1,"device_limit":3},"x":2})", "plan"),
              R"({"id":1,"device_limit":3})");
    EXPECT_EQ(jsonObject(R"({"data":{"plan":{"n":"深"}}})", "plan"), R"({"n":"深"})");
    // No grabbing of a later, unrelated object.
    EXPECT_EQ(jsonObject(R"({"plan":null,"other":{"id":1}})", "plan"), "");
    EXPECT_EQ(jsonObject(R"({"plan":"text {not an object}"})", "plan"), "");
    EXPECT_EQ(jsonObject(R"({"plan":[{"id":1}]})", "plan"), "");
    // The text it gives is itself JSON that the look-ups read again.
    const std::string plan = jsonObject(R"({"plan":{"name":"a\"b","n":{"k":1}}})", "plan");
    EXPECT_EQ(jsonString(plan, "name"), "a\"b");
    EXPECT_EQ(jsonInt(plan, "k", 0), 1);
}

TEST(JsonObjectArray, ObjectElementsOfTheArray) {
    const auto items = jsonObjectArray(R"({"data":[{"id":1,"x":{"y":2}},{"id":2}]})", "data");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], R"({"id":1,"x":{"y":2}})");
    EXPECT_EQ(items[1], R"({"id":2})");
    // Elements that are not objects are skipped, nested arrays are not searched.
    const auto mixed =
        jsonObjectArray(R"({"list":[1,"{\"id\":9}",{"id":3},[{"id":4}],null]})", "list");
    ASSERT_EQ(mixed.size(), 1u);
    EXPECT_EQ(mixed[0], R"({"id":3})");
    EXPECT_TRUE(jsonObjectArray(R"({"list":[]})", "list").empty());
    // Falls back to "data" only when the key is absent.
    EXPECT_EQ(jsonObjectArray(R"({"data":[{"id":1}]})", "plans").size(), 1u);
    // The key is there but holds no array: no fallback, no grabbing of a later array.
    EXPECT_TRUE(jsonObjectArray(R"({"plans":{"a":1},"data":[{"id":1}]})", "plans").empty());
    EXPECT_TRUE(jsonObjectArray(R"({"data":{"list":[{"id":1}]}})", "data").empty());
    EXPECT_TRUE(jsonObjectArray(R"({"x":[{"id":1}]})", "plans").empty());
}

TEST(JsonDataObject, TheEnvelopeOrTheWholeText) {
    EXPECT_EQ(jsonDataObject(R"({"status":"success","data":{"token":"t"}})"), R"({"token":"t"})");
    EXPECT_EQ(jsonDataObject(R"({"result":{"data":{"a":1}}})"), R"({"a":1})");
    for (const std::string text : {R"({"data":"trade-123"})", R"({"data":[{"a":1}]})",
                                   R"({"token":"t"})", R"({"data":null,"x":{"data":{"a":1}}})"}) {
        EXPECT_EQ(jsonDataObject(text), text) << text;
    }
}
