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
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

std::string deepArrays(size_t depth, const std::string& inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

}  // namespace

TEST(JsonLookup, FirstMemberInDocumentOrderAtAnyDepth) {
    EXPECT_EQ(jsonString(R"({"a":{"id":"inner"},"id":"outer"})", "id"), "inner");
    EXPECT_EQ(jsonString(R"({"id":"outer","a":{"id":"inner"}})", "id"), "outer");
    EXPECT_EQ(jsonString(R"([1,{"x":[{"k":"deep"}]},{"k":"shallow"}])", "k"), "deep");
    EXPECT_EQ(jsonObject(R"({"x":{"x":5}})", "x"), R"({"x":5})");  // a member's key before its value
    EXPECT_EQ(jsonString(R"({"Id":"upper"})", "id"), "");           // keys compare exactly
    EXPECT_EQ(jsonString("{\"a\" :\r\n\t\"v\"}", "a"), "v");
    // Of duplicate keys the first, also inside a kept object.
    EXPECT_EQ(jsonInt(R"({"id":1,"id":2})", "id", 0), 1);
    EXPECT_EQ(jsonObject(R"({"plan":{"a":1,"a":2}})", "plan"), R"({"a":1,"a":2})");
    // Keys inside string values are never matched; only a string value is read, decoded.
    EXPECT_EQ(jsonString(R"({"message":"use \"token\":\"fake\" here","token":"real"})", "token"), "real");
    EXPECT_EQ(jsonInt(R"({"note":"\"id\":7","id":3})", "id", -1), 3);
    EXPECT_EQ(jsonString(R"({"m":"\"\\\/\u4f60\ud83d\ude00"})", "m"), "\"\\/你\xF0\x9F\x98\x80");
    EXPECT_EQ(jsonString(R"({"a":5,"b":{"c":"d"}})", "a") + jsonString(R"({"a":5,"b":{"c":"d"}})", "b"), "");
    EXPECT_EQ(jsonString(R"({"a":1,"z":{"a":"later"}})", "a"), "");  // the first member decides
}

TEST(JsonLookup, TextThatIsNotJsonOrTooDeepReadsAsAbsent) {
    const std::string texts[] = {R"({"a":"v")", R"({"a":"v"} trailing)", R"({'a':'v'})", "{\"a\":\"\xff\"}",
                                 "",         R"({"a":"v",})",           deepArrays(100000, R"({"a":"v"})")};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        EXPECT_EQ(jsonString(text, "a"), "");
        EXPECT_EQ(jsonInt(text, "a", -7), -7);
        EXPECT_FALSE(jsonFlag(text, "a"));
        EXPECT_EQ(jsonObject(text, "a"), "");
        EXPECT_TRUE(jsonObjectArray(text, "a").empty());
        EXPECT_EQ(jsonDataObject(text), text);
    }
    EXPECT_EQ(jsonObject(deepArrays(300, R"({"k":{"v":1}})"), "k"), R"({"v":1})");  // as deep as a reply gets
}

TEST(JsonInt, NumbersStringsSaturationAndTheFallback) {
    const std::pair<const char*, int64_t> cases[] = {
        {R"({"n":5})", 5}, {R"({"n":" 42abc"})", 42}, {R"({"n":"abc"})", 0}, {R"({"n":12.7})", 12},
        {R"({"n":null})", 0}, {R"({"n":[1]})", 0}, {R"({"other":1})", -1},
        {R"({"n":18446744073709551615})", kInt64Max}, {R"({"n":1e300})", kInt64Max},
        {R"({"n":-1e300})", kInt64Min}, {R"({"n":"99999999999999999999999"})", kInt64Max},
        {R"({"n":"-99999999999999999999999"})", kInt64Min},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(jsonInt(text, "n", -1), value) << text;
}

// A quoted price is that price, not zero: a priced plan must never show as free.
TEST(JsonOptionalInt, PresentOnlyForNonNegativeNumbers) {
    const std::pair<const char*, int64_t> cases[] = {
        {R"({"n":0})", 0},           {R"({"n":"990"})", 990},   {R"({"n":1299.9})", 1299},
        {R"({"other":1})", 77},      {R"({"n":-5})", 77},       {R"({"n":-0.5})", 77},
        {R"({"n":"12a"})", 77},      {R"({"n":""})", 77},       {R"({"n":true})", 77},
        {R"({"n":"99999999999999999999"})", 77},  // 77: absent, and left untouched
    };
    for (const auto& [text, value] : cases) {
        int64_t out = 77;
        EXPECT_EQ(jsonOptionalInt(text, "n", out), value != 77) << text;
        EXPECT_EQ(out, value) << text;
    }
}

// jsonFlag: true and non-zero numbers only; jsonDataObject: the envelope's data or the whole text.
TEST(JsonFlagAndData, FlagsAndTheEnvelope) {
    for (const char* t : {R"({"f":1})", R"({"f":true})", R"({"f":0.5})"}) EXPECT_TRUE(jsonFlag(t, "f")) << t;
    for (const char* t : {R"({"f":0})", R"({"f":"1"})", R"({"f":0.0})"}) EXPECT_FALSE(jsonFlag(t, "f")) << t;
    EXPECT_EQ(jsonDataObject(R"({"status":"success","data":{"token":"t"}})"), R"({"token":"t"})");
    EXPECT_EQ(jsonDataObject(R"({"result":{"data":{"a":1}}})"), R"({"a":1})");
    const std::string nullData = R"({"data":null,"x":{"data":{"a":1}}})";
    EXPECT_EQ(jsonDataObject(nullData), nullData);
}

TEST(JsonObject, OnlyAnObjectValueOfThatMember) {
    EXPECT_EQ(jsonObject(R"({"data":{"plan":{"n":"深"}},"x":2})", "plan"), R"({"n":"深"})");
    // No grabbing of a later, unrelated object.
    EXPECT_EQ(jsonObject(R"({"plan":null,"other":{"id":1}})", "plan"), "");
    EXPECT_EQ(jsonObject(R"({"plan":"text {not an object}"})", "plan"), "");
    EXPECT_EQ(jsonObject(R"({"plan":[{"id":1}]})", "plan"), "");
    // The text it gives is itself JSON that the look-ups read again.
    const std::string plan = jsonObject(R"({"plan":{"name":"a\"b","n":{"k":1}}})", "plan");
    EXPECT_EQ(jsonString(plan, "name") + std::to_string(jsonInt(plan, "k", 0)), "a\"b1");
}

TEST(JsonObjectArray, ObjectElementsOfTheArray) {
    using List = std::vector<std::string>;
    EXPECT_EQ(jsonObjectArray(R"({"data":[{"id":1,"x":{"y":2}},{"id":2}]})", "data"),
              (List{R"({"id":1,"x":{"y":2}})", R"({"id":2})"}));
    // Elements that are not objects are skipped, nested arrays are not searched.
    EXPECT_EQ(jsonObjectArray(R"({"list":[1,"{\"id\":9}",{"id":3},[{"id":4}],null]})", "list"),
              List{R"({"id":3})"});
    // Falls back to "data" only when the key is absent.
    EXPECT_EQ(jsonObjectArray(R"({"data":[{"id":1}]})", "plans").size(), 1u);
    EXPECT_TRUE(jsonObjectArray(R"({"plans":{"a":1},"data":[{"id":1}]})", "plans").empty());
    EXPECT_TRUE(jsonObjectArray(R"({"data":{"list":[{"id":1}]}})", "data").empty());
}
