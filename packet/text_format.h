#pragma once

#include "packet/date_time.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Formatting of addresses, sizes, counts, times and payload bytes. None of
// these report errors or keep state; all may be called from any thread.

std::string AddrToText(uint32_t addr);                        // "192.168.1.10"
bool TryTextToAddr(std::string_view text, uint32_t &addr);    // dotted text to network order
uint32_t TextToAddr(std::string_view text);                   // 0 when invalid
std::string EtherAddrText(const std::array<uint8_t, 6> &mac); // "00-1A-2B-3C-4D-5E"
std::string SizeText(int64_t bytes);                          // "1.50K"
std::string GroupDigits(std::string_view digits);             // "1,234,567"
std::string CountText(int32_t count);                         // "-1,234"
std::string TimeOfDayText(TDateTime value);                   // "14:03:07:042"
std::string HexDumpText(const uint8_t *bytes, int32_t count);
bool MakePrintable(std::string &text);
// Appends the last `width` decimal digits of a non-negative value, zero-filled.
void AppendZeroPadded(std::string &out, int value, int width);
