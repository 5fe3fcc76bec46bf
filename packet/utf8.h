#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One step of UTF-8 decoding (Unicode 15, table 3-7) at `pos` (< text.size()):
// the code point and the bytes it took, or -1 and the length of the longest
// start of a valid sequence (at least one byte), so a broken sequence is
// passed over as a whole ("maximal subpart").
struct TUtf8Step {
  int32_t CodePoint;
  size_t Length;
};
TUtf8Step DecodeUtf8Step(std::string_view text, size_t pos);
