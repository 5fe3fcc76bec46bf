#include "packet/utf8.h"

TUtf8Step DecodeUtf8Step(std::string_view text, size_t pos) {
  const auto byteAt = [&](size_t i) { return uint8_t(text[i]); };
  const uint8_t lead = byteAt(pos);
  if (lead < 0x80)
    return {lead, 1};
  size_t trail;
  int32_t value;
  uint8_t low = 0x80, high = 0xBF; // range of the first trail byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    value = lead & 0x0F;
    low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
    high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    value = lead & 0x07;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
  } else {
    return {-1, 1};
  }
  for (size_t i = 1; i <= trail; ++i) {
    if (pos + i >= text.size() || byteAt(pos + i) < low || byteAt(pos + i) > high)
      return {-1, i};
    value = value << 6 | (byteAt(pos + i) & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {value, trail + 1};
}
