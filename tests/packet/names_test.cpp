#include "packet/names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

// Port names depend on the current folder's "ports.txt"; they are tested with
// the file handling in port_names_test.cpp.

namespace {

template <typename Number> struct NameCase {
  Number number;
  const char *expected;
};

TEST(EtherProtoNameTest, NamesKnownTypesAndWritesOthersAsFourHexDigits) {
  const NameCase<uint16_t> cases[] = {
      {0x0800, "IP"},   {0x0806, "ARP"},  {0x0200, "PUP"},  {0x86DD, "IPV6"},
      {0x900D, "LOOP"}, {0x88CC, "88CC"}, {0x0000, "0000"}, {0x00AB, "00AB"},
      {0x0801, "0801"}, {0xFFFF, "FFFF"}, {0x8139, "8139"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(EtherProtoName(c.number), c.expected) << "type 0x" << std::hex << c.number;
}

TEST(IPProtoNameTest, NamesKnownProtocolsAndWritesOthersInDecimal) {
  const NameCase<int32_t> cases[] = {
      {0, "IP"},
      {1, "ICMP"},
      {2, "IGMP"},
      {6, "TCP"},
      {17, "UDP"},
      {128, "ISO-IP"},
      {47, "47"},
      {3, "3"},
      {129, "129"},
      {-1, "-1"},
      {INT32_MIN, "-2147483648"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(IPProtoName(c.number), c.expected) << "protocol " << c.number;
}

TEST(IcmpTypeNameTest, NamesListedTypesAndCallsEveryOtherTypeUnknown) {
  const NameCase<uint16_t> cases[] = {
      {0, "ECHO_REPLY"},  {3, "DEST-UNREA"}, {4, "SRC_Q"},       {5, "REDIR"},
      {8, "ECHO"},        {11, "TTLX"},      {12, "BADPAR"},     {13, "TIME"},
      {14, "TIME_REPLY"}, {15, "INFO"},      {16, "INFO_REPLY"}, {1, "UNKNOWN"},
      {2, "UNKNOWN"},     {6, "UNKNOWN"},    {7, "UNKNOWN"},     {9, "UNKNOWN"},
      {10, "UNKNOWN"},    {17, "UNKNOWN"},   {300, "UNKNOWN"},   {65535, "UNKNOWN"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(IcmpTypeName(c.number), c.expected) << "type " << c.number;
}

TEST(TcpFlagsTextTest, WritesSetFlagsLowestBitFirstSeparatedByOneBlank) {
  const NameCase<uint8_t> cases[] = {
      {0x00, ""},
      {0x01, "FIN"},
      {0x80, "CWR"},
      {0x12, "SYN ACK"},
      {0x11, "FIN ACK"},
      {0x14, "RST ACK"},
      {0xC2, "SYN ECH CWR"},
      {0x18, "PSH ACK"},
      {0x20, "URG"},
      {0xFF, "FIN SYN RST PSH ACK URG ECH CWR"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(TcpFlagsText(c.number), c.expected) << "flags 0x" << std::hex << int(c.number);
}

} // namespace
