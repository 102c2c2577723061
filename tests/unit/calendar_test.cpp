#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "vpn/calendar.h"

using vpn::civilFromUnix;
using vpn::unixFromCivil;

namespace {

std::string text(const vpn::CivilDate& date) {
    return std::to_string(date.year) + "-" + std::to_string(date.month) + "-" + std::to_string(date.day);
}

}  // namespace

TEST(Calendar, KnownDaysBothWaysFromTheirFirstToTheirLastSecond) {
    const std::pair<int64_t, vpn::CivilDate> days[] = {
        {0, {1970, 1, 1}},
        {951782400, {2000, 2, 29}},  // leap day of a year divisible by 400
        {4107542400, {2100, 3, 1}},  // 2100 is not a leap year
        {-86400, {1969, 12, 31}},    // before 1970 rounds towards the past
    };
    for (const auto& [seconds, date] : days) {
        EXPECT_EQ(unixFromCivil(date.year, date.month, date.day), seconds) << text(date);
        EXPECT_EQ(text(civilFromUnix(seconds)), text(date));
        EXPECT_EQ(text(civilFromUnix(seconds + 86399)), text(date));
    }
    // Months and days out of range roll over, extremes without overflow.
    EXPECT_EQ(unixFromCivil(2025, 13, 1), unixFromCivil(2026, 1, 1));
    EXPECT_EQ(unixFromCivil(2025, -12, 1), unixFromCivil(2023, 12, 1));
    EXPECT_EQ(unixFromCivil(2025, 3, 0), unixFromCivil(2025, 2, 28));
    EXPECT_EQ(unixFromCivil(2025, 1, 366), unixFromCivil(2026, 1, 1));
    const int64_t max = std::numeric_limits<int64_t>::max();
    EXPECT_GT(unixFromCivil(max, max, max), unixFromCivil(100000, 1, 1));
    EXPECT_LT(unixFromCivil(-max, -max, -max), unixFromCivil(-100000, 1, 1));
}
