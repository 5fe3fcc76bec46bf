#include "packet/number_parse.h"

#include <algorithm>

namespace {

constexpr int64_t kSaturate = int64_t(1) << 40;

int digitValue(char c, bool hex) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (hex && c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (hex && c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

struct Scan {
  int64_t value = 0;
  size_t digits = 0;
  size_t end = 0; // index after the last character consumed
};

// Sign, optional radix prefix and digits from `pos` on.
Scan scanNumber(std::string_view text, size_t pos, bool allowBareX) {
  Scan scan;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  bool hex = false;
  if (pos < text.size() && text[pos] == '$') {
    hex = true;
    ++pos;
  } else if (pos + 1 < text.size() && text[pos] == '0' &&
             (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    hex = true;
    pos += 2;
  } else if (allowBareX && pos < text.size() && (text[pos] == 'x' || text[pos] == 'X')) {
    hex = true;
    ++pos;
  }
  int base = hex ? 16 : 10;
  for (; pos < text.size(); ++pos) {
    int d = digitValue(text[pos], hex);
    if (d < 0)
      break;
    scan.value = std::min(scan.value * base + d, kSaturate);
    ++scan.digits;
  }
  if (negative)
    scan.value = -scan.value;
  scan.end = pos;
  return scan;
}

} // namespace

int64_t LeadingInteger(std::string_view text) noexcept {
  size_t pos = 0;
  while (pos < text.size() && isBlank(text[pos]))
    ++pos;
  return scanNumber(text, pos, false).value;
}

std::optional<int32_t> StrictInteger(std::string_view text) noexcept {
  size_t pos = 0;
  while (pos < text.size() && isBlank(text[pos]))
    ++pos;
  size_t end = text.size();
  while (end > pos && isBlank(text[end - 1]))
    --end;
  text = text.substr(0, end);
  Scan scan = scanNumber(text, pos, true);
  if (scan.digits == 0 || scan.end != text.size())
    return std::nullopt;
  if (scan.value < INT32_MIN || scan.value > INT32_MAX) {
    // Hexadecimal texts name bit patterns: "$FFFFFFFF" is -1, as a 32-bit cast gives.
    bool hex = text.find_first_of("$xX") != std::string_view::npos;
    if (hex && scan.value > 0 && scan.value <= int64_t(UINT32_MAX))
      return int32_t(uint32_t(scan.value));
    return std::nullopt;
  }
  return int32_t(scan.value);
}
