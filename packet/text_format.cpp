#include "packet/text_format.h"

#include "packet/number_parse.h"
#include "packet/text_separators.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Upper-case hexadecimal pair of every byte value followed by blanks, so the dump copies one
// fixed-size block per input byte.
struct HexPairs {
  char pair[256][4];
  constexpr HexPairs() : pair() {
    for (int i = 0; i < 256; ++i) {
      pair[i][0] = kHexDigits[i >> 4];
      pair[i][1] = kHexDigits[i & 15];
      pair[i][2] = ' ';
      pair[i][3] = ' ';
    }
  }
};
constexpr HexPairs kHexPairs;

// What the character column of a dump shows for each byte value; 127 is shown as itself.
struct DumpChars {
  char shown[256];
  constexpr DumpChars() : shown() {
    for (int i = 0; i < 256; ++i)
      shown[i] = (i >= 32 && i <= 127) ? char(i) : '.';
  }
};
constexpr DumpChars kDumpChars;

struct SizeStep {
  int64_t threshold;
  double divisor;
  int precision;
  const char *unit;
};

constexpr double kKilo = 1024.0;
constexpr double kMega = kKilo * 1024.0;
constexpr double kGiga = kMega * 1024.0;

// The first step whose threshold the count reaches decides the unit and the decimals, so the
// text keeps three or four significant digits over the whole range.
constexpr SizeStep kSizeSteps[] = {
    {100 * (int64_t(1) << 30), kGiga, 0, "G"},
    {10 * (int64_t(1) << 30), kGiga, 1, "G"},
    {int64_t(1) << 30, kGiga, 2, "G"},
    {100 * (int64_t(1) << 20), kMega, 0, "M"},
    {10 * (int64_t(1) << 20), kMega, 1, "M"},
    {int64_t(1) << 20, kMega, 2, "M"},
    {100 * 1024, kKilo, 0, "K"},
    {10 * 1024, kKilo, 1, "K"},
    {1024, kKilo, 2, "K"},
};

const SizeStep &sizeStepFor(int64_t bytes) {
  static constexpr SizeStep kBytes{INT64_MIN, 1.0, 0, ""};
  for (const SizeStep &step : kSizeSteps)
    if (bytes >= step.threshold)
      return step;
  return kBytes;
}

constexpr int kDumpBytesPerLine = 16;
// "-", three characters per byte, "|", one character per byte.
constexpr int kDumpLineBody = 1 + 3 * kDumpBytesPerLine + 1 + kDumpBytesPerLine;
constexpr int kOffsetDigits = 6;

// "00" to "99", so the offset is written two digits at a time.
struct TwoDigits {
  char digits[100][2];
  constexpr TwoDigits() : digits() {
    for (int i = 0; i < 100; ++i) {
      digits[i][0] = char('0' + i / 10);
      digits[i][1] = char('0' + i % 10);
    }
  }
};
constexpr TwoDigits kTwoDigits;

// The offset column: decimal, zero-filled to six digits, more once the offset needs them.
char *writeOffset(char *out, uint32_t offset) {
  if (offset < 1000000) { // every line of a packet: three independent two-digit copies
    std::memcpy(out, kTwoDigits.digits[offset / 10000], 2);
    std::memcpy(out + 2, kTwoDigits.digits[offset / 100 % 100], 2);
    std::memcpy(out + 4, kTwoDigits.digits[offset % 100], 2);
    return out + kOffsetDigits;
  }
  int width = kOffsetDigits + 1;
  for (uint64_t limit = 10000000; offset >= limit; limit *= 10)
    ++width;
  for (int i = width - 1; i >= 0; --i) {
    out[i] = char('0' + offset % 10);
    offset /= 10;
  }
  return out + width;
}

// "-", the hex groups, "|" and the character column of one line; blanks past the data.
char *writeDumpLine(char *out, const uint8_t *data, uint32_t inLine) {
  // A local copy of the line: stores into the text cannot change it, so it is read only once.
  uint8_t line[kDumpBytesPerLine];
  char *hex = out + 1;
  char *chars = out + 2 + 3 * kDumpBytesPerLine;
  out[0] = '-';
  if (inLine == kDumpBytesPerLine) {
    std::memcpy(line, data, kDumpBytesPerLine);
    // Each copy writes one blank too many; the next pair or the "|" overwrites it.
    for (int i = 0; i < kDumpBytesPerLine; ++i)
      std::memcpy(hex + 3 * i, kHexPairs.pair[line[i]], 4);
    for (int i = 0; i < kDumpBytesPerLine; ++i)
      chars[i] = kDumpChars.shown[line[i]];
  } else {
    std::memcpy(line, data, inLine);
    std::memset(hex, ' ', 3 * kDumpBytesPerLine);
    std::memset(chars, ' ', kDumpBytesPerLine);
    for (uint32_t i = 0; i < inLine; ++i) {
      std::memcpy(hex + 3 * i, kHexPairs.pair[line[i]], 3);
      chars[i] = kDumpChars.shown[line[i]];
    }
  }
  out[1 + 3 * kDumpBytesPerLine] = '|';
  return out + kDumpLineBody;
}

// Characters of a dump of `lines` lines: each line one CR apart, each offset at least six digits
// and one more for every power of ten from a million on that it reaches.
size_t dumpSize(uint32_t lines) {
  size_t size = size_t(lines) * (kOffsetDigits + kDumpLineBody) + (lines - 1);
  for (uint64_t limit = 1000000; limit <= UINT32_MAX; limit *= 10) {
    const uint64_t firstLine = limit / kDumpBytesPerLine; // every limit is a multiple of 16
    if (lines > firstLine)
      size += lines - firstLine;
  }
  return size;
}

} // namespace

std::string AddrToText(uint32_t addr) {
  uint8_t bytes[4];
  std::memcpy(bytes, &addr, sizeof bytes);
  std::string text;
  text.reserve(15);
  for (int i = 0; i < 4; ++i) {
    if (i > 0)
      text += '.';
    text += std::to_string(bytes[i]);
  }
  return text;
}

bool TryTextToAddr(std::string_view text, uint32_t &addr) {
  addr = 0;
  if (text.size() < 7)
    return false;
  int64_t parts[4];
  std::string_view rest = text;
  for (int i = 0; i < 3; ++i) {
    const size_t dot = rest.find('.');
    if (dot == std::string_view::npos)
      return false;
    parts[i] = LeadingInteger(rest.substr(0, dot));
    rest.remove_prefix(dot + 1);
  }
  // The fourth part is read leniently, so "4x" or "4.5" end in 4, but it must be there.
  if (rest.empty())
    return false;
  parts[3] = LeadingInteger(rest);
  bool anyAboveZero = false;
  for (int64_t part : parts) {
    // A negative part would wrap into a plausible octet ("-4" as 252), so it is refused too.
    if (part < 0 || part > 255)
      return false;
    anyAboveZero = anyAboveZero || part > 0;
  }
  if (parts[0] == 0 && anyAboveZero)
    return false;
  const uint8_t bytes[4] = {uint8_t(parts[0]), uint8_t(parts[1]), uint8_t(parts[2]),
                            uint8_t(parts[3])};
  std::memcpy(&addr, bytes, sizeof addr);
  return true;
}

uint32_t TextToAddr(std::string_view text) {
  uint32_t addr = 0;
  return TryTextToAddr(text, addr) ? addr : 0;
}

std::string EtherAddrText(const std::array<uint8_t, 6> &mac) {
  std::string text;
  text.reserve(17);
  for (size_t i = 0; i < mac.size(); ++i) {
    if (i > 0)
      text += '-';
    text.append(kHexPairs.pair[mac[i]], 2);
  }
  return text;
}

std::string SizeText(int64_t bytes) {
  const SizeStep &step = sizeStepFor(bytes);
  // to_chars instead of printf: the C locale set up by Qt would otherwise choose the decimal
  // point, and the configured separator may be longer than one byte.
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, double(bytes) / step.divisor,
                                    std::chars_format::fixed, step.precision);
  std::string_view number(buffer, size_t(result.ptr - buffer));
  std::string text;
  const size_t point = number.find('.');
  if (point == std::string_view::npos) {
    text = number;
  } else {
    text = number.substr(0, point);
    text += CurrentTextSeparators().decimal;
    text += number.substr(point + 1);
  }
  text += step.unit;
  return text;
}

std::string GroupDigits(std::string_view digits) {
  if (digits.size() <= 3)
    return std::string(digits);
  const std::string &separator = CurrentTextSeparators().thousands;
  const size_t groups = (digits.size() + 2) / 3;
  std::string text;
  text.reserve(digits.size() + (groups - 1) * separator.size());
  size_t lead = digits.size() % 3;
  if (lead == 0)
    lead = 3;
  text.append(digits.substr(0, lead));
  for (size_t pos = lead; pos < digits.size(); pos += 3) {
    text += separator;
    text.append(digits.substr(pos, 3));
  }
  return text;
}

std::string CountText(int32_t count) {
  // Widened first so that INT32_MIN has a magnitude; the sign stays out of the grouping.
  const int64_t value = count;
  if (value < 0)
    return "-" + GroupDigits(std::to_string(-value));
  return GroupDigits(std::to_string(value));
}

std::string TimeOfDayText(TDateTime value) {
  const DateTimeFields fields = DecodeDateTime(value);
  const std::string &separator = CurrentTextSeparators().time;
  std::string text;
  text.reserve(9 + 3 * separator.size());
  AppendZeroPadded(text, fields.hour, 2);
  text += separator;
  AppendZeroPadded(text, fields.minute, 2);
  text += separator;
  AppendZeroPadded(text, fields.second, 2);
  text += separator;
  AppendZeroPadded(text, fields.millisecond, 3);
  return text;
}

void AppendZeroPadded(std::string &out, int value, int width) {
  char digits[10];
  width = width < 0 ? 0 : (width > 10 ? 10 : width);
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = char('0' + value % 10);
    value /= 10;
  }
  out.append(digits, size_t(width));
}

std::string HexDumpText(const uint8_t *bytes, int32_t count) {
  if (count <= 0 || bytes == nullptr)
    return {};
  const uint32_t total = uint32_t(count);
  const uint32_t lines = (total + kDumpBytesPerLine - 1) / kDumpBytesPerLine;

  // Sized once up front: the dump of a full packet is built without any further allocation.
  std::string text(dumpSize(lines), '\0');

  char *out = text.data();
  for (uint32_t offset = 0; offset < total; offset += kDumpBytesPerLine) {
    if (offset > 0)
      *out++ = '\r';
    out = writeOffset(out, offset);
    out = writeDumpLine(out, bytes + offset, std::min<uint32_t>(kDumpBytesPerLine, total - offset));
  }
  return text;
}

bool MakePrintable(std::string &text) {
  bool replaced = false;
  for (char &c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 32 || byte > 127) && byte != '\r' && byte != '\n') {
      c = '.';
      replaced = true;
    }
  }
  return replaced;
}
