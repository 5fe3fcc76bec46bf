#include "packet/number_parse.h"

#include <gtest/gtest.h>

TEST(LeadingInteger, ReadsUpToTheFirstOtherCharacter) {
  struct Case {
    const char *text;
    int64_t value;
  } cases[] = {{"", 0},    {"42", 42},  {"  42", 42},
               {"4x", 4},  {"4.5", 4},  {"-7", -7},
               {"+7", 7},  {"$1F", 31}, {"0x1f", 31},
               {"x4", 0},  {"abc", 0},  {"0x", 0},
               {"\t9", 9}, {"007", 7},  {"99999999999999999999999", int64_t(1) << 40}};
  for (const Case &c : cases)
    EXPECT_EQ(LeadingInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(StrictInteger, WholeTextMustBeOneInteger) {
  struct Case {
    const char *text;
    std::optional<int32_t> value;
  } cases[] = {{"12", 12},
               {" -12 ", -12},
               {"12abc", std::nullopt},
               {"", std::nullopt},
               {"  ", std::nullopt},
               {"$10", 16},
               {"x10", 16},
               {"0X10", 16},
               {"2147483647", INT32_MAX},
               {"2147483648", std::nullopt},
               {"-2147483648", INT32_MIN},
               {"$FFFFFFFF", -1},
               {"+", std::nullopt},
               {"1 2", std::nullopt}};
  for (const Case &c : cases)
    EXPECT_EQ(StrictInteger(c.text), c.value) << '"' << c.text << '"';
}
