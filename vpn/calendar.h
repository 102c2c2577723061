#pragma once
// UTC calendar arithmetic without the C library's time zone state (thread-safe, portable).

#include <cstdint>

namespace vpn {

struct CivilDate {
    int64_t year = 1970;
    unsigned month = 1;  // 1..12
    unsigned day = 1;    // 1..31
};

// Seconds since 1970-01-01 00:00:00 UTC, now.
int64_t unixNow();

// The UTC calendar date of a moment given in seconds since 1970.
CivilDate civilFromUnix(int64_t seconds);

// Seconds since 1970 at 00:00:00 UTC of the given date (months and days outside their
// ranges roll over, as with timegm).
int64_t unixFromCivil(int64_t year, int64_t month, int64_t day);

// Today's UTC date.
CivilDate todayUtc();

}  // namespace vpn
