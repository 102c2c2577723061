// One table for both platforms: Windows decodes with CryptStringToBinaryA, Linux with its own
// decoder, and both must agree on every row (the rows were measured with the Windows API).
#include <gtest/gtest.h>

#include <string>

#include "tests/support/base64_encode.h"
#include "vpn/base64.h"

namespace {

struct Case {
    const char* label;
    std::string text;
    bool ok;
    std::string bytes;
};

void expectCases(const std::initializer_list<Case>& cases) {
    for (const Case& c : cases) {
        std::string bytes = "left over";
        EXPECT_EQ(vpn::base64Decode(c.text, bytes), c.ok) << c.label;
        EXPECT_EQ(bytes, c.ok ? c.bytes : std::string()) << c.label;
    }
}

}  // namespace

TEST(Base64, PaddingIsOptional) {
    expectCases({
        {"empty", "", true, ""},
        {"no padding needed", "Zm9vYmFy", true, "foobar"},
        {"one pad", "Zm9vYmE=", true, "fooba"},
        {"one pad missing", "Zm9vYmE", true, "fooba"},
        {"two pads missing", "Zm9vYg", true, "foob"},
        {"three pads", "Zg===", true, "f"},
        {"lone character", "Zm9vY", true, std::string("foo`")},
        {"lone character padded", "Z===", true, "d"},
        {"unused bits set", "Zh==", true, "f"},
        {"standard alphabet ends", "+/+/", true, "\xfb\xff\xbf"},
        {"zero byte", "AA", true, std::string(1, '\0')},
    });
}

TEST(Base64, WhiteSpaceIsSkippedEverywhere) {
    expectCases({
        {"CR LF inside", "Zm9v\r\nYmFy", true, "foobar"},
        {"blank line inside", "Zm9v\n\nYmFy", true, "foobar"},
        {"trailing CR LF", "Zm9vYmFy\r\n", true, "foobar"},
        {"space inside", "Zm9v YmFy", true, "foobar"},
        {"leading and trailing spaces", " Zm9vYmFy ", true, "foobar"},
        {"space between pads", "Zg= =", true, "f"},
        {"line break after pads", "Zg==\r\n", true, "f"},
        {"only line breaks", "\r\n", true, ""},
    });
}

TEST(Base64, PaddingEndsTheData) {
    expectCases({
        {"second block ignored", "Zg==Zm8=", true, "f"},
        {"pad after a full block", "Zm9v=", true, "foo"},
        {"garbage after a full pad", "Zg==!!", true, "f"},
        {"data after a completing pad", "Zm9=v", true, "fo"},
        {"lone pad", "=", true, ""},
        {"pads only", "====", true, ""},
    });
}

TEST(Base64, RejectsWhatIsNotBase64) {
    expectCases({
        {"pad leaves block incomplete", "Zg=", false, ""},
        {"pad after one character", "Z=", false, ""},
        {"pad leaves second block incomplete", "Zm9vYk=", false, ""},
        {"data after a pad inside a block", "Zm=9v", false, ""},
        {"data after an incomplete pad", "Zm9vYg=x", false, ""},
        {"exclamation mark", "Zm9v!YmFy", false, ""},
        {"garbage at the end", "Zm9vYmFy*", false, ""},
        {"URL-safe minus and underscore", "-_-_", false, ""},
        {"vertical tab", "Zm9v\vYmFy", false, ""},
        {"NUL byte", std::string("Zm9v\0YmFy", 9), false, ""},
        {"non-ASCII byte", "Zm9v\xc3\xa9YmFy", false, ""},
        {"PEM armour", "-----BEGIN X-----\nZm9v\n-----END X-----\n", false, ""},
        {"a plain link", "vless://abc@host:443?pbk=x#n", false, ""},
    });
}

TEST(Base64, DecodesALargeWrappedBody) {
    std::string plain;
    for (int i = 0; i < 20000; ++i) plain += static_cast<char>(i * 7 % 256);
    for (const std::string& bytes : {plain, plain + "x", plain + "xy"}) {  // all three endings
        std::string decoded;
        ASSERT_TRUE(vpn::base64Decode(orvik_test::base64Encode(bytes, 76), decoded));
        EXPECT_EQ(decoded, bytes);
    }
}
