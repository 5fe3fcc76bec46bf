#pragma once

#include "packet/date_time.h"

#include <cstdint>

// The clock that stamps packets of the raw engine: tied to the wall clock
// once after each reset, then advanced by the monotonic clock, so a change of
// the system time during a capture does not move the stamps.

int64_t CounterFrequency(); // ticks per second of the monotonic counter
TDateTime PacketClockNow();
void ResetPacketClock();
