#include <gtest/gtest.h>

#include <ctime>
#include <cstdint>
#include <limits>

#include "vpn/calendar.h"

using vpn::civilFromUnix;
using vpn::unixFromCivil;

namespace {

void expectDate(int64_t seconds, int64_t year, unsigned month, unsigned day) {
    const vpn::CivilDate date = civilFromUnix(seconds);
    EXPECT_EQ(date.year, year) << seconds;
    EXPECT_EQ(date.month, month) << seconds;
    EXPECT_EQ(date.day, day) << seconds;
}

}  // namespace

TEST(Calendar, KnownMoments) {
    expectDate(0, 1970, 1, 1);
    expectDate(86400, 1970, 1, 2);
    expectDate(951782400, 2000, 2, 29);  // leap day of a year divisible by 400
    expectDate(1735689600, 2025, 1, 1);
    expectDate(4107542400, 2100, 3, 1);  // 2100 is not a leap year
    expectDate(-1, 1969, 12, 31);        // before 1970 rounds towards the past
    expectDate(-86401, 1969, 12, 30);
    EXPECT_EQ(unixFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(unixFromCivil(2025, 1, 31), 1738281600);
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

TEST(Calendar, OutOfRangeMonthsAndDaysRollOver) {
    EXPECT_EQ(unixFromCivil(2025, 13, 1), unixFromCivil(2026, 1, 1));
    EXPECT_EQ(unixFromCivil(2025, 0, 1), unixFromCivil(2024, 12, 1));
    EXPECT_EQ(unixFromCivil(2025, -12, 1), unixFromCivil(2023, 12, 1));
    EXPECT_EQ(unixFromCivil(2025, 2, 29), unixFromCivil(2025, 3, 1));
    EXPECT_EQ(unixFromCivil(2025, 3, 0), unixFromCivil(2025, 2, 28));
    EXPECT_EQ(unixFromCivil(2025, 1, 366), unixFromCivil(2026, 1, 1));
}

TEST(Calendar, ExtremeArgumentsDoNotOverflow) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    EXPECT_GT(unixFromCivil(kMax, kMax, kMax), unixFromCivil(100000, 1, 1));
    EXPECT_LT(unixFromCivil(kMin, kMin, kMin), unixFromCivil(-100000, 1, 1));
    for (int64_t seconds : {kMax, kMin}) {
        const vpn::CivilDate date = civilFromUnix(seconds);
        EXPECT_GE(date.month, 1u);
        EXPECT_LE(date.month, 12u);
        EXPECT_GE(date.day, 1u);
        EXPECT_LE(date.day, 31u);
    }
}

TEST(Calendar, NowAgreesWithTheCLibrary) {
    const std::time_t before = std::time(nullptr);
    const int64_t now = vpn::unixNow();
    const vpn::CivilDate today = vpn::todayUtc();
    const std::time_t after = std::time(nullptr);
    EXPECT_GE(now, static_cast<int64_t>(before));
    EXPECT_LE(now, static_cast<int64_t>(after));
    const std::tm* utc = std::gmtime(&after);  // single-threaded test: the shared buffer is fine
    ASSERT_NE(utc, nullptr);
    if (before / 86400 == after / 86400) {  // not across midnight
        EXPECT_EQ(today.year, utc->tm_year + 1900);
        EXPECT_EQ(today.month, static_cast<unsigned>(utc->tm_mon + 1));
        EXPECT_EQ(today.day, static_cast<unsigned>(utc->tm_mday));
    }
}
