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

TEST(Calendar, EveryDayOfFourCenturiesRoundTrips) {
    int64_t previousDay = unixFromCivil(1899, 12, 31) / 86400;
    for (int64_t year = 1900; year < 2300; ++year) {
        for (unsigned month = 1; month <= 12; ++month) {
            for (unsigned day = 1; day <= 31; ++day) {
                const int64_t seconds = unixFromCivil(year, month, day);
                const vpn::CivilDate back = civilFromUnix(seconds);
                if (back.month != month) break;  // rolled into the next month: past its end
                ASSERT_EQ(back.year, year);
                ASSERT_EQ(back.day, day);
                ASSERT_EQ(seconds / 86400, previousDay + 1) << year << "-" << month << "-" << day;
                previousDay = seconds / 86400;
            }
        }
    }
}
