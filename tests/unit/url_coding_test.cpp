#include <gtest/gtest.h>

#include "vpn/url_coding.h"

// All but the unreserved set and '@' encoded; decoding copies what is not an escape.
TEST(UrlCoding, EncodesDecodesAndRoundTripsEveryByte) {
    EXPECT_EQ(vpn::urlEncode("AZaz09-._~ b@c+/&=?#%"), "AZaz09-._%7E%20b@c%2B%2F%26%3D%3F%23%25");
    EXPECT_EQ(vpn::urlEncode(std::string("\x00\xff", 2) + "邮"), "%00%FF%E9%82%AE");
    const std::pair<const char*, std::string> decoded[] = {
        {"Tokyo+A%2B", "Tokyo A+"},  // an encoded plus stays a plus
        {"%e9%82%AE", "邮"},
        {"%zz%4%", "%zz%4%"},        // not hex, too short
        {"%%41", "%A"},              // the first '%' is copied, the second decodes
        {"%00", std::string(1, '\0')},
    };
    for (const auto& [text, bytes] : decoded) EXPECT_EQ(vpn::urlDecode(text), bytes) << text;
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(vpn::urlDecode(vpn::urlEncode(all)), all);
}
