#include "packet/date_time.h"

#include <cmath>
#include <ctime>

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void civilFromDays(int64_t z, int &year, int &month, int &day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(yoe + era * 400 + (month <= 2));
}

} // namespace

TDateTime LocalNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  const int64_t millis = now.tv_nsec / 1000000;
  return DateTimeFromUnix(int64_t(now.tv_sec) + local.tm_gmtoff, millis * 1000, 0.0);
}

DateTimeFields DecodeDateTime(TDateTime value) {
  constexpr int64_t kMsPerDay = 86400000;
  DateTimeFields f{};
  if (!std::isfinite(value) || std::fabs(value) > 1e7)
    value = 0; // far outside any capture; keeps the arithmetic defined
  const int64_t total = std::llround(value * double(kMsPerDay));
  int64_t day = total / kMsPerDay;
  int64_t ms = total % kMsPerDay;
  if (ms < 0) {
    ms += kMsPerDay;
    --day;
  }
  civilFromDays(day - int64_t(kUnixEpochDays), f.year, f.month, f.day);
  f.hour = int(ms / 3600000);
  f.minute = int(ms / 60000 % 60);
  f.second = int(ms / 1000 % 60);
  f.millisecond = int(ms % 1000);
  return f;
}
