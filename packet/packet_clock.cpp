#include "packet/packet_clock.h"

#include <ctime>

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kSecondsPerDay = 86400;

// One thread (the raw engine's) uses the clock, so plain statics suffice.
struct ClockState {
  bool synchronised = false;
  TDateTime baseTime = 0;
  int64_t baseCount = 0;
  double ticksPerDay = 0;
};
ClockState gClock;
int64_t gFrequency = 0;

// The counter is CLOCK_MONOTONIC in nanoseconds; a system without it reports 0.
int64_t queryFrequency() {
  timespec resolution{};
  return clock_getres(CLOCK_MONOTONIC, &resolution) == 0 ? kNanosPerSecond : 0;
}

int64_t readCounter() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
}

} // namespace

int64_t CounterFrequency() {
  if (gFrequency == 0)
    gFrequency = queryFrequency();
  return gFrequency;
}

TDateTime PacketClockNow() {
  const int64_t frequency = CounterFrequency();
  if (frequency == 0)
    return LocalNow(); // no counter to interpolate with: the wall clock is the best we have
  if (!gClock.synchronised) {
    gClock.baseTime = LocalNow();
    gClock.baseCount = readCounter();
    gClock.ticksPerDay = double(frequency * kSecondsPerDay);
    gClock.synchronised = true;
  }
  return gClock.baseTime + double(readCounter() - gClock.baseCount) / gClock.ticksPerDay;
}

void ResetPacketClock() {
  gClock.synchronised = false;
}
