// The service finds a node by the route id the client shows, so the trimming must match the
// client's (Qt's) white space set exactly: more or less on either side breaks connecting.
#include <gtest/gtest.h>

#include "vpn/route_id.h"

TEST(RouteId, TrimsTheUnicodeWhiteSpaceSetOnly) {
    const struct {
        std::string name;
        std::string id;
    } cases[] = {
        {" \t東京 01\r\n", "東京 01"},                              // inner spaces stay
        {"\xC2\xA0\xE3\x80\x80Osaka\xE2\x80\xA9\xC2\x85", "Osaka"},  // U+00A0, U+3000, U+2029, U+0085
        {"\xE2\x80\x8BTokyo\xE2\x80\x8B", "\xE2\x80\x8BTokyo\xE2\x80\x8B"},  // U+200B is not white space
        {"\xEF\xBB\xBFSeoul", "\xEF\xBB\xBFSeoul"},                      // nor the byte order mark
        {"\xA0Paris\xC2", "\xA0Paris\xC2"},                              // broken UTF-8 is kept
        {"\xE1\x9A\x80\xE2\x80\x8A\xE2\x80\xAF\xE2\x81\x9F", ""},       // U+1680, U+200A, U+202F, U+205F
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(vpn::routeIdOf(c.name), c.id) << c.name;
}
