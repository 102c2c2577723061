#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "vpn/json_read.h"

using vpn::jsonDataObject;
using vpn::jsonFlag;
using vpn::jsonOptionalInt;

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
