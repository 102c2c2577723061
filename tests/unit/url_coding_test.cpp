#include <gtest/gtest.h>

#include "vpn/url_coding.h"

using vpn::urlDecode;
using vpn::urlEncode;

TEST(UrlEncode, KeepsOnlyTheUnreservedSetAndTheAtSign) {
    EXPECT_EQ(urlEncode("a b@c~"), "a%20b@c%7E");
    EXPECT_EQ(urlEncode("AZaz09-._"), "AZaz09-._");
    EXPECT_EQ(urlEncode("+/&=?#%"), "%2B%2F%26%3D%3F%23%25");
    EXPECT_EQ(urlEncode(std::string("\x00\xff", 2)), "%00%FF");
    EXPECT_EQ(urlEncode("邮"), "%E9%82%AE");
    EXPECT_EQ(urlEncode(""), "");
}

TEST(UrlDecode, EscapesPlusAndInvalidPercents) {
    EXPECT_EQ(urlDecode("a+b%2"), "a b%2");
    EXPECT_EQ(urlDecode("Tokyo%20A"), "Tokyo A");
    EXPECT_EQ(urlDecode("%e9%82%AE"), "邮");
    EXPECT_EQ(urlDecode("%2B"), "+");        // an encoded plus stays a plus
    EXPECT_EQ(urlDecode("%zz%4"), "%zz%4");  // not hex, too short
    EXPECT_EQ(urlDecode("%%41"), "%A");      // the first '%' is copied, the second decodes
    EXPECT_EQ(urlDecode("100%"), "100%");
    EXPECT_EQ(urlDecode("%00"), std::string(1, '\0'));
}

TEST(UrlCoding, EveryByteRoundTrips) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(urlDecode(urlEncode(all)), all);
}
