// Civil-date arithmetic after Howard Hinnant's days_from_civil / civil_from_days: exact for
// the proleptic Gregorian calendar, no C library time functions (gmtime, timegm, mktime are
// not thread-safe or not available everywhere).
#include "vpn/calendar.h"

#include <algorithm>
#include <chrono>

namespace vpn {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Bounds far beyond any real date that keep every intermediate result inside int64.
constexpr int64_t kYearLimit = 100'000'000'000;     // 1e11 years
constexpr int64_t kMonthLimit = 1'000'000'000'000;  // 1e12 months
constexpr int64_t kDayLimit = 10'000'000'000'000;   // 1e13 days

int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days since 1970-01-01 of a valid date (month 1..12, day counted from 1 without a limit).
int64_t daysFromCivil(int64_t year, unsigned month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = floorDiv(year, 400);
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);                  // [0, 399]
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;  // [0, 365]
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468 + (day - 1);
}

CivilDate civilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = floorDiv(days, 146097);
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);  // [0, 146096]
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;  // March-based month [0, 11]
    CivilDate date;
    date.day = dayOfYear - (153 * mp + 2) / 5 + 1;
    date.month = mp < 10 ? mp + 3 : mp - 9;
    date.year = static_cast<int64_t>(yearOfEra) + era * 400 + (date.month <= 2 ? 1 : 0);
    return date;
}

}  // namespace

int64_t unixNow() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::floor<std::chrono::seconds>(since).count();
}

CivilDate civilFromUnix(int64_t seconds) {
    return civilFromDays(floorDiv(seconds, kSecondsPerDay));
}

int64_t unixFromCivil(int64_t year, int64_t month, int64_t day) {
    year = std::clamp(year, -kYearLimit, kYearLimit);
    month = std::clamp(month, -kMonthLimit, kMonthLimit);
    day = std::clamp(day, -kDayLimit, kDayLimit);
    // Months outside 1..12 carry into the year, days outside the month into the next ones.
    year += floorDiv(month - 1, 12);
    const auto monthOfYear = static_cast<unsigned>(month - 1 - floorDiv(month - 1, 12) * 12 + 1);
    return daysFromCivil(year, monthOfYear, day) * kSecondsPerDay;
}

CivilDate todayUtc() { return civilFromUnix(unixNow()); }

}  // namespace vpn
