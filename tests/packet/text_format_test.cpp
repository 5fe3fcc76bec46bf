#include "packet/text_format.h"
#include "packet/text_separators.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <vector>

namespace {

uint32_t addrOf(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t addr;
  std::memcpy(&addr, bytes, sizeof addr);
  return addr;
}

std::string bytesText(const std::vector<uint8_t> &bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> splitLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t cr = text.find('\r', start);
    lines.push_back(text.substr(start, cr - start));
    if (cr == std::string::npos)
      return lines;
    start = cr + 1;
  }
}

// A plain, slow rendition of the dump layout to compare the fast one against.
std::string referenceDump(const std::vector<uint8_t> &bytes) {
  std::string text;
  for (size_t offset = 0; offset < bytes.size(); offset += 16) {
    char piece[32];
    if (offset > 0)
      text += '\r';
    std::snprintf(piece, sizeof piece, "%06zu-", offset);
    text += piece;
    for (size_t i = offset; i < offset + 16; ++i) {
      if (i < bytes.size()) {
        std::snprintf(piece, sizeof piece, "%02X ", bytes[i]);
        text += piece;
      } else {
        text += "   ";
      }
    }
    text += '|';
    for (size_t i = offset; i < offset + 16; ++i)
      text += i >= bytes.size() ? ' ' : (bytes[i] >= 32 && bytes[i] <= 127) ? char(bytes[i]) : '.';
  }
  return text;
}

} // namespace

// Readable separators in failure messages instead of the object's bytes.
static void PrintTo(const TextSeparators &s, std::ostream *out) {
  *out << "decimal \"" << s.decimal << "\" thousands \"" << s.thousands << "\" time \"" << s.time
       << '"';
}

TEST(AddrToText, FirstOctetIsTheLowestAddressedByte) {
  EXPECT_EQ(AddrToText(addrOf(192, 168, 1, 10)), "192.168.1.10");
  EXPECT_EQ(AddrToText(addrOf(255, 255, 255, 255)), "255.255.255.255");
  EXPECT_EQ(AddrToText(0), "0.0.0.0");
  EXPECT_EQ(addrOf(127, 0, 0, 1), TextToAddr("127.0.0.1"));
  EXPECT_EQ(AddrToText(addrOf(127, 0, 0, 1)), "127.0.0.1");
  if (addrOf(1, 0, 0, 0) == 1) { // the little-endian reading of the same bytes
    EXPECT_EQ(AddrToText(0x0100007F), "127.0.0.1");
  }
}

TEST(TryTextToAddr, ValidAndInvalidTexts) {
  struct Case {
    const char *text;
    bool valid;
    uint32_t addr;
  } cases[] = {
      {"10.0.0.1", true, addrOf(10, 0, 0, 1)},
      {"192.168.1.10", true, addrOf(192, 168, 1, 10)},
      {"255.255.255.255", true, addrOf(255, 255, 255, 255)},
      {"1.2.3", false, 0},     // too short
      {"1.2.3.", false, 0},    // too short as well
      {"1234567", false, 0},   // long enough, no dots
      {"10.20.30", false, 0},  // only two dots
      {"10.20.30.", false, 0}, // nothing after the third dot
      {"256.1.1.1", false, 0},
      {"1.2.3.256", false, 0},
      {"1.2.3.99999999999999999999", false, 0},
      {"0.1.2.3", false, 0}, // first part 0 with other parts set
      {"0.0.0.1", false, 0},
      {"0.0.0.0", true, 0},
      {"1.2.3.4.5", true, addrOf(1, 2, 3, 4)},
      {"1..2.34", true, addrOf(1, 0, 2, 34)},
      {"1.2.3.4x", true, addrOf(1, 2, 3, 4)},
      {"1.2.3.4.5x", true, addrOf(1, 2, 3, 4)},
      {" 10. 0. 0. 1", true, addrOf(10, 0, 0, 1)},
      {"$A.0x10.3.4", true, addrOf(10, 16, 3, 4)},
      {"+1.2.3.4", true, addrOf(1, 2, 3, 4)},
      {"1.2.3.-4", false, 0}, // a negative part must not wrap into 252
      {"-1.2.3.4", false, 0},
      {"1.-0.3.4", true, addrOf(1, 0, 3, 4)},
      {"a.b.c.d", true, 0}, // every part reads as 0: the same as "0.0.0.0"
  };
  for (const Case &c : cases) {
    uint32_t addr = 0xDEADBEEF;
    EXPECT_EQ(TryTextToAddr(c.text, addr), c.valid) << '"' << c.text << '"';
    EXPECT_EQ(addr, c.addr) << '"' << c.text << '"';
    EXPECT_EQ(TextToAddr(c.text), c.addr) << '"' << c.text << '"';
  }
}

TEST(EtherAddrText, UpperCaseHexJoinedByDashes) {
  EXPECT_EQ(EtherAddrText({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), "00-1A-2B-3C-4D-5E");
  EXPECT_EQ(EtherAddrText({0xFF, 0xab, 0x01, 0x10, 0x09, 0xf0}), "FF-AB-01-10-09-F0");
}

// The separator-dependent helpers run under several regional settings. Expected texts are
// written with "." as decimal, "," as thousands and ":" as time separator and translated.
class SeparatorTest : public ::testing::TestWithParam<TextSeparators> {
protected:
  void SetUp() override { SetTextSeparators(GetParam()); }
  void TearDown() override { SetTextSeparators(TextSeparators{}); }

  static std::string localized(const std::string &canonical) {
    const TextSeparators &s = GetParam();
    std::string text;
    for (char c : canonical)
      text += c == '.' ? s.decimal : c == ',' ? s.thousands : c == ':' ? s.time : std::string(1, c);
    return text;
  }
};

TEST_P(SeparatorTest, SizeTextKeepsThreeOrFourDigits) {
  struct Case {
    int64_t bytes;
    const char *text;
  } cases[] = {
      {0, "0"},
      {1, "1"},
      {1023, "1023"},
      {1024, "1.00K"},
      {1536, "1.50K"},
      {10239, "10.00K"},
      {10240, "10.0K"},
      {102399, "100.0K"},
      {102400, "100K"},
      {1048575, "1024K"},
      {1048576, "1.00M"},
      {10485760, "10.0M"},
      {104857599, "100.0M"},
      {104857600, "100M"},
      {1073741823, "1024M"},
      {1073741824, "1.00G"},
      {10737418239, "10.00G"},
      {10737418240, "10.0G"},
      {107374182400, "100G"},
      {int64_t(1) << 40, "1024G"},
      {INT64_MAX, "8589934592G"},
      {-1, "-1"},
      {-5000, "-5000"},
      {INT64_MIN, "-9223372036854775808"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(SizeText(c.bytes), localized(c.text)) << c.bytes;
}

TEST_P(SeparatorTest, GroupDigitsCountsGroupsFromTheRight) {
  struct Case {
    const char *digits;
    const char *text;
  } cases[] = {{"", ""},
               {"1", "1"},
               {"123", "123"},
               {"1234", "1,234"},
               {"123456", "123,456"},
               {"1234567", "1,234,567"},
               {"123456789012", "123,456,789,012"}};
  for (const Case &c : cases)
    EXPECT_EQ(GroupDigits(c.digits), localized(c.text)) << c.digits;
}

TEST_P(SeparatorTest, CountTextGroupsDigitsAfterTheSign) {
  struct Case {
    int32_t count;
    const char *text;
  } cases[] = {{0, "0"},
               {999, "999"},
               {1000, "1,000"},
               {123456, "123,456"},
               {2147483647, "2,147,483,647"},
               {-1, "-1"},
               {-999, "-999"},
               {-1234, "-1,234"},
               {-100000, "-100,000"},
               {INT32_MIN, "-2,147,483,648"}};
  for (const Case &c : cases)
    EXPECT_EQ(CountText(c.count), localized(c.text)) << c.count;
}

TEST_P(SeparatorTest, TimeOfDayTextShowsMillisecondsWithoutDate) {
  constexpr double kMs = 1.0 / 86400000.0;
  struct Case {
    TDateTime value;
    const char *text;
  } cases[] = {
      {0.5, "12:00:00:000"},
      {45000.5, "12:00:00:000"},
      {0.0, "00:00:00:000"},
      {45000 + (14 * 3600 + 3 * 60 + 7) / 86400.0 + 42 * kMs, "14:03:07:042"},
      {45000 + (23 * 3600 + 59 * 60 + 59) / 86400.0 + 999 * kMs, "23:59:59:999"},
      // Rounds to the millisecond, carrying into the next day rather than showing 24 hours.
      {45000 + (23 * 3600 + 59 * 60 + 59) / 86400.0 + 999.6 * kMs, "00:00:00:000"},
      {45000.25 + 0.4 * kMs, "06:00:00:000"},
      {45000.25 + 0.6 * kMs, "06:00:00:001"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(TimeOfDayText(c.value), localized(c.text)) << c.value;
}

INSTANTIATE_TEST_SUITE_P(Locales, SeparatorTest,
                         ::testing::Values(TextSeparators{".", ",", ":"},
                                           TextSeparators{",", ".", ":"},
                                           // several bytes each: U+066B, U+00A0, U+2236
                                           TextSeparators{"\u066B", "\u00A0", "\u2236"}));

TEST(SizeText, IgnoresTheCLocaleDecimalPoint) {
  // Qt sets the C locale from the environment; a comma there must not reach the text.
  const char *previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE"))
    GTEST_SKIP() << "no German C locale installed";
  const std::string text = SizeText(1536);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(text, "1.50K");
}

TEST(TextSeparators, LoadedFromTheSystemLocale) {
  // QLocale reads the environment once per process, so each locale is tried in a fresh one.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char *locale;
    const char *decimal;
    const char *thousands;
  } cases[] = {
      {"en_US.UTF-8", ".", ","}, {"de_DE.UTF-8", ",", "."}, {"de_CH.UTF-8", ".", "\u2019"}};
  for (const Case &c : cases) {
    EXPECT_EXIT(
        {
          setenv("LC_ALL", c.locale, 1);
          LoadSystemTextSeparators();
          const TextSeparators &s = CurrentTextSeparators();
          std::fprintf(stderr, "[%s][%s][%s]", s.decimal.c_str(), s.thousands.c_str(),
                       s.time.c_str());
          std::exit(s.decimal == c.decimal && s.thousands == c.thousands && s.time == ":" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << c.locale;
  }
}

TEST(HexDumpText, NothingToShow) {
  const uint8_t byte = 0x41;
  EXPECT_EQ(HexDumpText(&byte, 0), "");
  EXPECT_EQ(HexDumpText(&byte, -1), "");
  EXPECT_EQ(HexDumpText(&byte, INT32_MIN), "");
}

TEST(HexDumpText, ShortLineIsPaddedToFullWidth) {
  const uint8_t abc[] = {'A', 'B', 'C'};
  EXPECT_EQ(HexDumpText(abc, 3),
            "000000-41 42 43 " + std::string(39, ' ') + "|ABC" + std::string(13, ' '));
}

TEST(HexDumpText, LinesOfSixteenJoinedByCarriageReturn) {
  std::vector<uint8_t> bytes(17);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = uint8_t(0xA0 + i);

  const std::string one = HexDumpText(bytes.data(), 16);
  EXPECT_EQ(one.size(), 72u);
  EXPECT_EQ(one.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(one.substr(0, 19), "000000-A0 A1 A2 A3 ");
  EXPECT_EQ(one.substr(52, 4), "AF |");

  const std::string two = HexDumpText(bytes.data(), 17);
  EXPECT_EQ(two.find('\n'), std::string::npos);
  const std::vector<std::string> lines = splitLines(two);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], one);
  EXPECT_EQ(lines[1], "000016-B0 " + std::string(45, ' ') + "|." + std::string(15, ' '));
}

TEST(HexDumpText, CharacterColumnShowsOnly32To127) {
  const uint8_t bytes[] = {0, 9, 31, 127, 128, 255, 32, 'a', '~', 0x7E};
  const std::string text = HexDumpText(bytes, int32_t(sizeof bytes));
  EXPECT_EQ(text.substr(0, 37), "000000-00 09 1F 7F 80 FF 20 61 7E 7E ");
  EXPECT_EQ(text.substr(56), "...\x7F.. a~~" + std::string(6, ' '));
}

TEST(HexDumpText, FullPacketMatchesTheLineLayout) {
  std::vector<uint8_t> bytes(1460);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = uint8_t(i * 7);
  const std::string text = HexDumpText(bytes.data(), int32_t(bytes.size()));
  EXPECT_EQ(text, referenceDump(bytes));
  const std::vector<std::string> lines = splitLines(text);
  ASSERT_EQ(lines.size(), 92u);
  for (const std::string &line : lines)
    EXPECT_EQ(line.size(), 72u);
  EXPECT_EQ(lines.back().substr(0, 7), "001456-");
}

TEST(HexDumpText, OffsetsPastSixDigitsGrow) {
  std::vector<uint8_t> bytes(1000000 + 17, 0x55);
  const std::string text = HexDumpText(bytes.data(), int32_t(bytes.size()));
  const std::vector<std::string> lines = splitLines(text);
  ASSERT_EQ(lines.size(), 62502u);
  EXPECT_EQ(lines[62499].substr(0, 7), "999984-");
  EXPECT_EQ(lines[62499].size(), 72u);
  std::string fullHex;
  for (int i = 0; i < 16; ++i)
    fullHex += "55 ";
  EXPECT_EQ(lines[62500], "1000000-" + fullHex + "|" + std::string(16, 'U'));
  EXPECT_EQ(lines[62501], "1000016-55 " + std::string(45, ' ') + "|U" + std::string(15, ' '));
  EXPECT_EQ(text, referenceDump(bytes));
}

TEST(MakePrintable, ReplacesControlAndHighBytesButKeepsLineBreaks) {
  struct Case {
    std::string text;
    bool replaced;
    std::string result;
  } cases[] = {
      {"a\tb\xC8\r\n", true, "a.b.\r\n"},
      {"abc", false, "abc"},
      {"", false, ""},
      {"\x7F ~", false, "\x7F ~"},
      {bytesText({0, 31, 32, 128, 255, 'z'}), true, ".. ..z"},
  };
  for (Case &c : cases) {
    std::string text = c.text;
    EXPECT_EQ(MakePrintable(text), c.replaced) << c.text;
    EXPECT_EQ(text, c.result) << c.text;
  }
}
