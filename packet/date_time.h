#pragma once

#include <cstdint>

// A date-time value: days since 30 December 1899, the fraction being the
// time of day, in local time.
using TDateTime = double;

// Days from 30 December 1899 to 1 January 1970.
inline constexpr double kUnixEpochDays = 25569.0;

// Seconds and microseconds since 1970 (UTC) shifted by `offsetDays`.
constexpr TDateTime DateTimeFromUnix(int64_t seconds, int64_t microseconds, double offsetDays) {
  return double(seconds) / 86400.0 + kUnixEpochDays + double(microseconds) / 1000000.0 / 86400.0 +
         offsetDays;
}

// The current local time, millisecond resolution.
TDateTime LocalNow();

// Broken-down fields of a date-time value, rounded to the millisecond.
struct DateTimeFields {
  int year, month, day, hour, minute, second, millisecond;
};
DateTimeFields DecodeDateTime(TDateTime value);
