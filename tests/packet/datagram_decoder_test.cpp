#include "packet/datagram_decoder.h"

#include "tests/support/datagram_builder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TPacketInfo decode(const std::vector<uint8_t> &d, int32_t limit = 2001, bool ignoreData = false,
                   size_t present = SIZE_MAX) {
  TPacketInfo info;
  std::span<const uint8_t> bytes(d.data(), std::min(present, d.size()));
  DecodeDatagram(info, bytes, limit, ignoreData);
  return info;
}

TEST(HeaderLengths, UseTheLowAndHighNibbles) {
  const uint8_t ip[20] = {0x46};
  EXPECT_EQ(IpHeaderLen(ip), 24);
  const uint8_t shortIp[20] = {0x42};
  EXPECT_EQ(IpHeaderLen(shortIp), 8) << "a length below 20 is used unchanged";
  uint8_t tcp[20] = {};
  tcp[12] = 0xF0;
  EXPECT_EQ(TcpHeaderLen(tcp), 60);
  EXPECT_EQ(IpHeaderLen({}), 0);
  EXPECT_EQ(TcpHeaderLen(std::span<const uint8_t>(tcp, 12)), 0) << "byte 12 missing reads as 0";
}

TEST(DecodeDatagram, TcpSegmentWithPayload) {
  DatagramShape shape;
  shape.src = {192, 168, 1, 10};
  shape.srcPort = 0xC350;
  shape.dstPort = 443;
  shape.payload = Filled(20, 'a');
  const auto d = BuildDatagram(shape);
  ASSERT_EQ(d.size(), 60u);
  const TPacketInfo info = decode(d);
  EXPECT_EQ(info.SrcAddr, 0x0A01A8C0u) << "first octet in the lowest byte";
  EXPECT_EQ(info.DstAddr, 0x0100000Au);
  EXPECT_EQ(info.IpProto, 6);
  EXPECT_EQ(info.SrcPort, 50000);
  EXPECT_EQ(info.DstPort, 443);
  EXPECT_EQ(info.TcpFlagWord, 0x5018);
  EXPECT_EQ(info.PayloadLen, 20);
  ASSERT_EQ(info.Payload.size(), 20u);
  EXPECT_EQ(0, std::memcmp(info.Payload.data(), shape.payload.data(), 20));
  EXPECT_EQ(info.IcmpMsgType, 0);
}

TEST(DecodeDatagram, UdpIcmpAndOtherProtocols) {
  DatagramShape udp;
  udp.protocol = 17;
  udp.srcPort = 53;
  udp.dstPort = 33000;
  const TPacketInfo u = decode(BuildDatagram(udp));
  EXPECT_EQ(u.SrcPort, 53);
  EXPECT_EQ(u.DstPort, 33000);
  EXPECT_EQ(u.PayloadLen, 0) << "total length 28";
  EXPECT_TRUE(u.Payload.empty());
  EXPECT_EQ(u.TcpFlagWord, 0);

  DatagramShape icmp;
  icmp.protocol = 1;
  icmp.icmpType = 8;
  icmp.payload = Filled(56);
  const auto icmpBytes = BuildDatagram(icmp);
  ASSERT_EQ(icmpBytes.size(), 84u);
  const TPacketInfo i = decode(icmpBytes);
  EXPECT_EQ(i.IcmpMsgType, 8);
  EXPECT_EQ(i.SrcPort, 0);
  EXPECT_EQ(i.DstPort, 0);
  EXPECT_EQ(i.PayloadLen, 64) << "the payload starts with the ICMP header";
  ASSERT_EQ(i.Payload.size(), 64u);
  EXPECT_EQ(i.Payload.data()[0], 8);

  DatagramShape igmp;
  igmp.protocol = 2;
  igmp.payload = Filled(8);
  const TPacketInfo g = decode(BuildDatagram(igmp));
  EXPECT_EQ(g.IpProto, 2);
  EXPECT_EQ(g.SrcPort, 0);
  EXPECT_EQ(g.IcmpMsgType, 0);
  EXPECT_EQ(g.PayloadLen, 0);
  EXPECT_TRUE(g.Payload.empty());
}

TEST(DecodeDatagram, IgnoreDataMeasuresButCopiesNothing) {
  DatagramShape shape;
  shape.payload = Filled(100);
  const TPacketInfo info = decode(BuildDatagram(shape), 2001, true);
  EXPECT_EQ(info.PayloadLen, 100);
  EXPECT_TRUE(info.Payload.empty());
}

// The payload length follows min(total length, limit, bytes present) - offset
// when copying; a lying header can never make the decoder read past the bytes.
struct PayloadCase {
  const char *name;
  int totalLength; // -1: true length
  size_t payload;  // payload bytes actually built
  size_t present;  // bytes handed to the decoder (SIZE_MAX: all)
  int32_t limit;
  bool ignoreData;
  int32_t expectedLen;
  size_t expectedCopied;
  size_t expectedOffset = 40; // where the copied bytes start in the datagram
};

class PayloadRule : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(PayloadRule, NeverReadsPastThePresentBytes) {
  const PayloadCase &c = GetParam();
  DatagramShape shape;
  shape.totalLength = c.totalLength;
  shape.payload = Filled(c.payload, 1);
  const auto d = BuildDatagram(shape);
  const TPacketInfo info = decode(d, c.limit, c.ignoreData, c.present);
  EXPECT_EQ(info.PayloadLen, c.expectedLen);
  ASSERT_EQ(info.Payload.size(), c.expectedCopied);
  for (size_t i = 0; i < info.Payload.size(); ++i)
    ASSERT_EQ(info.Payload.data()[i], d[c.expectedOffset + i]) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PayloadRule,
    ::testing::Values(
        // A total length of 4000 in a full 2001-byte receive buffer: limited by the buffer.
        PayloadCase{"raw_limit", 4000, 1961, SIZE_MAX, 2001, false, 2001 - 40, 1961},
        // The same claim with IgnoreData: measured against the engine limit alone.
        PayloadCase{"raw_limit_ignore", 4000, 1961, SIZE_MAX, 2001, true, 1961, 0},
        // The header claims 1500 bytes but only 100 arrived: cut to what is present.
        PayloadCase{"claims_more_than_present", 1500, 60, SIZE_MAX, 2001, false, 60, 60},
        // Driver engine with a short capture: the limit is the wire length, the bytes are fewer.
        PayloadCase{"snap_cut", -1, 1460, 68, 1500, false, 28, 28},
        PayloadCase{"snap_cut_ignore", -1, 1460, 68, 1500, true, 1460, 0},
        // Total length smaller than the headers: negative, nothing copied.
        PayloadCase{"negative", 30, 10, SIZE_MAX, 2001, false, -10, 0},
        // Headers cut short: the TCP offset reads 0, so the payload starts after the IP header.
        PayloadCase{"tcp_header_missing", -1, 0, 30, 2001, false, 10, 10, 20}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DecodeDatagram, TruncatedHeadersLeaveFieldsZero) {
  DatagramShape shape;
  shape.payload = Filled(10);
  const auto d = BuildDatagram(shape);
  for (size_t present = 0; present <= d.size(); ++present) {
    const TPacketInfo info = decode(d, 2001, false, present);
    if (present < 16) {
      EXPECT_EQ(info.SrcAddr, 0u) << present;
    }
    if (present < 22) {
      EXPECT_EQ(info.SrcPort, 0) << present;
    }
    if (present < 34) {
      EXPECT_EQ(info.TcpFlagWord, 0) << present;
    }
    EXPECT_LE(info.Payload.size(), present);
    if (!info.Payload.empty()) {
      EXPECT_EQ(int32_t(info.Payload.size()), info.PayloadLen);
    }
  }
}

TEST(DecodeDatagram, LongIpHeaderWithOptions) {
  DatagramShape shape;
  shape.ipHeaderWords = 6;
  shape.tcpDataWords = 8; // 32-byte TCP header with options
  shape.payload = Filled(5, 9);
  const TPacketInfo info = decode(BuildDatagram(shape));
  EXPECT_EQ(info.SrcPort, 1025);
  EXPECT_EQ(info.TcpFlagWord, 0x8018);
  EXPECT_EQ(info.PayloadLen, 5);
  ASSERT_EQ(info.Payload.size(), 5u);
  EXPECT_EQ(info.Payload.data()[0], 9);
}

} // namespace
