// One table for both platforms: Windows decodes with CryptStringToBinaryA, Linux with its own
// decoder, and both must agree on every row (the rows were measured with the Windows API).
#include <gtest/gtest.h>

#include <string>

#include "vpn/base64.h"

namespace {

const std::string kRejected = "<rejected>";

TEST(Base64, DecodesAsTheWindowsApiDoes) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"Zm9vYmFy", "foobar"}, {"Zm9vYmE=", "fooba"},
        {"Zm9vYg", "foob"},                      // padding is optional
        {"Zm9vY", "foo`"}, {"Z===", "d"},        // a lone last character still gives a byte
        {"Zh==", "f"},                           // unused bits set
        {"+/+/", "\xfb\xff\xbf"}, {"AA", std::string(1, '\0')},
        {"Zm9v\r\n\tYmFy ", "foobar"}, {"Zg= =", "f"}, {"\r\n", ""},  // white space anywhere
        {"Zg==Zm8=", "f"}, {"Zm9=v", "fo"},       // a completing pad ends the data
        {"Zm9v=", "foo"}, {"=", ""},             // so does a pad where a block would start
        {"Zg==!!", "f"},                         // whatever follows is ignored
        {"Zg=", kRejected},                      // a pad that leaves its block incomplete
        {"Zm=9v", kRejected},                    // data after a pad inside a block
        {"Zm9v!YmFy", kRejected}, {"-_-_", kRejected},  // the URL-safe alphabet
        {"Zm9v\vYmFy", kRejected},               // white space in C, not here
        {std::string("Zm9v\0YmFy", 9), kRejected}, {"Zm9v\xc3\xa9YmFy", kRejected},
    };
    for (const auto& [text, expected] : cases) {
        std::string bytes = "left over";
        const bool ok = vpn::base64Decode(text, bytes);
        EXPECT_EQ(ok ? bytes : (bytes.empty() ? kRejected : "rejected, not emptied"), expected) << text;
    }
}

}  // namespace
