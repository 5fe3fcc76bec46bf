#include "packet/packet_clock.h"

#include "packet/date_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

constexpr double kMsPerDay = 86400000.0;

// Moves the local time zone for the duration of a test, which shifts LocalNow() exactly as a
// change of the system clock would, and puts the previous zone back afterwards.
class TimeZoneTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (const char *tz = std::getenv("TZ"))
      saved_ = tz;
    ResetPacketClock();
  }
  void TearDown() override {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    ResetPacketClock();
  }
  static void useZone(const char *tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

private:
  std::optional<std::string> saved_;
};

} // namespace

TEST(CounterFrequency, NanosecondsOfTheMonotonicClock) {
  EXPECT_EQ(CounterFrequency(), 1000000000);
  EXPECT_EQ(CounterFrequency(), 1000000000);
}

TEST(PacketClock, NeverGoesBackwards) {
  ResetPacketClock();
  TDateTime previous = PacketClockNow();
  for (int i = 0; i < 100000; ++i) {
    const TDateTime now = PacketClockNow();
    ASSERT_GE(now, previous) << "call " << i;
    previous = now;
  }
}

TEST(PacketClock, AdvancesWithTheCounterBetweenResets) {
  ResetPacketClock();
  const TDateTime first = PacketClockNow();
  const timespec pause{0, 20000000}; // 20 ms
  nanosleep(&pause, nullptr);
  const double elapsedMs = (PacketClockNow() - first) * kMsPerDay;
  EXPECT_GE(elapsedMs, 19.9);
  EXPECT_LT(elapsedMs, 2000.0);
}

TEST_F(TimeZoneTest, StartsFromTheWallClockAfterReset) {
  useZone("UTC0");
  const TDateTime before = LocalNow();
  ResetPacketClock();
  const TDateTime stamp = PacketClockNow();
  const TDateTime after = LocalNow();
  // The base is the wall clock at millisecond resolution; the counter adds microseconds.
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after + 1.0 / kMsPerDay);
}

TEST_F(TimeZoneTest, WallClockChangeMovesStampsOnlyAfterReset) {
  useZone("UTC0");
  const TDateTime base = PacketClockNow();

  useZone("UTC-5"); // the local clock jumps five hours ahead
  const double sameRunHours = (PacketClockNow() - base) * 24.0;
  EXPECT_LT(sameRunHours, 0.01);

  ResetPacketClock();
  const double nextRunHours = (PacketClockNow() - base) * 24.0;
  EXPECT_GT(nextRunHours, 4.99);
  EXPECT_LT(nextRunHours, 5.01);
}

// The clock and the time texts both lean on the date-time decoding, so check it on known dates.
TEST(DecodeDateTime, KnownDates) {
  struct Case {
    TDateTime value;
    DateTimeFields fields;
  } cases[] = {
      {45000.5, {2023, 3, 15, 12, 0, 0, 0}},
      {0.0, {1899, 12, 30, 0, 0, 0, 0}},
      {2.75, {1900, 1, 1, 18, 0, 0, 0}},
      {25569.0, {1970, 1, 1, 0, 0, 0, 0}},
      {36526.0, {2000, 1, 1, 0, 0, 0, 0}},
      {45351.0 + 1.0 / 86400.0, {2024, 2, 29, 0, 0, 1, 0}},
      {45351.999999999, {2024, 3, 1, 0, 0, 0, 0}}, // rounds into the next day
      {45000.0 + 123.0 / kMsPerDay, {2023, 3, 15, 0, 0, 0, 123}},
  };
  for (const Case &c : cases) {
    const DateTimeFields f = DecodeDateTime(c.value);
    const DateTimeFields &e = c.fields;
    EXPECT_EQ(f.year, e.year) << c.value;
    EXPECT_EQ(f.month, e.month) << c.value;
    EXPECT_EQ(f.day, e.day) << c.value;
    EXPECT_EQ(f.hour, e.hour) << c.value;
    EXPECT_EQ(f.minute, e.minute) << c.value;
    EXPECT_EQ(f.second, e.second) << c.value;
    EXPECT_EQ(f.millisecond, e.millisecond) << c.value;
  }
}

TEST(DecodeDateTime, MatchesTheUnixConversion) {
  // 2021-07-04 09:08:07.654 UTC
  const TDateTime value = DateTimeFromUnix(1625389687, 654000, 0.0);
  const DateTimeFields f = DecodeDateTime(value);
  EXPECT_EQ(f.year, 2021);
  EXPECT_EQ(f.month, 7);
  EXPECT_EQ(f.day, 4);
  EXPECT_EQ(f.hour, 9);
  EXPECT_EQ(f.minute, 8);
  EXPECT_EQ(f.second, 7);
  EXPECT_EQ(f.millisecond, 654);
}
