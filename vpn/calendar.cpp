// STUB: to be written
#include "vpn/calendar.h"

namespace vpn {

int64_t unixNow() { return 0; }
CivilDate civilFromUnix(int64_t) { return {}; }
int64_t unixFromCivil(int64_t, int64_t, int64_t) { return 0; }
CivilDate todayUtc() { return {}; }

}  // namespace vpn
