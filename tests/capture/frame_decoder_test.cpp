// The per-record path of the driver engine, fed with synthetic records: what
// is counted, dropped and delivered, for Ethernet and Linux cooked captures,
// including records whose headers lie or are cut short.
#include "capture/monitor_pcap.h"

#include "packet/date_time.h"

#include "tests/support/datagram_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

using Mac = std::array<uint8_t, 6>;
constexpr Mac kOurMac{0x02, 0x00, 0x5E, 0x10, 0x00, 0x01};
constexpr Mac kOtherMac{0x02, 0x00, 0x5E, 0x10, 0x00, 0x02};
constexpr Mac kBroadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr Mac kZeroMac{};
constexpr uint16_t kEtherTypeArp = 0x0806;

std::vector<uint8_t> udpDatagram(std::vector<uint8_t> src, std::vector<uint8_t> dst,
                                 size_t payloadBytes = 18) {
  DatagramShape layout;
  layout.protocol = 17;
  layout.src = std::move(src);
  layout.dst = std::move(dst);
  layout.srcPort = 5353;
  layout.dstPort = 53;
  layout.payload = Filled(payloadBytes, 'a');
  return BuildDatagram(layout);
}

// LINUX_SLL: packet type, ARPHRD type, address length, 8 address bytes, protocol.
std::vector<uint8_t> sll(uint16_t packetType, const Mac &address, uint16_t addressLen,
                         uint16_t protocol, const std::vector<uint8_t> &body) {
  std::vector<uint8_t> frame(16, 0);
  putBe16(frame, 0, packetType);
  putBe16(frame, 2, 1); // ARPHRD_ETHER
  putBe16(frame, 4, addressLen);
  std::copy(address.begin(), address.end(), frame.begin() + 6);
  putBe16(frame, 14, protocol);
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

// LINUX_SLL2: protocol, reserved, interface index, ARPHRD type, packet type,
// address length, 8 address bytes.
std::vector<uint8_t> sll2(uint8_t packetType, const Mac &address, uint8_t addressLen,
                          uint16_t protocol, const std::vector<uint8_t> &body) {
  std::vector<uint8_t> frame(20, 0);
  putBe16(frame, 0, protocol);
  frame[7] = 3; // interface index 3
  putBe16(frame, 8, 1);
  frame[10] = packetType;
  frame[11] = addressLen;
  std::copy(address.begin(), address.end(), frame.begin() + 12);
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

class FrameDecoder : public ::testing::Test {
protected:
  void SetUp() override {
    monitor.PrepareDecoder(DLT_EN10MB, kOurMac);
    attachReceiver();
  }

  void attachReceiver() {
    monitor.OnPacketEvent = [this](TPacketSource &sender, const TPacketInfo &info) {
      EXPECT_EQ(&sender, static_cast<TPacketSource *>(&monitor));
      delivered.push_back(info);
    };
  }

  // One record: `captured` bytes of the frame are present (all by default),
  // `wireLen` is the length on the wire (the frame's size by default). The
  // captured bytes get a heap block of their own, so a read past them is an
  // address-sanitizer report.
  void feed(const std::vector<uint8_t> &frame, std::optional<uint32_t> wireLen = {},
            std::optional<size_t> captured = {}, timeval ts = {1200000000, 0}) {
    const size_t caplen = std::min(captured.value_or(frame.size()), frame.size());
    std::unique_ptr<uint8_t[]> bytes(caplen ? new uint8_t[caplen] : nullptr);
    if (caplen)
      std::memcpy(bytes.get(), frame.data(), caplen);
    pcap_pkthdr header{};
    header.ts = ts;
    header.caplen = uint32_t(caplen);
    header.len = wireLen.value_or(uint32_t(frame.size()));
    monitor.HandleFrame(header, bytes.get());
  }

  void expectCounts(int32_t sendPackets, int64_t sendBytes, int32_t recvPackets,
                    int64_t recvBytes) {
    EXPECT_EQ(monitor.TotSendPackets(), sendPackets);
    EXPECT_EQ(monitor.TotSendBytes(), sendBytes);
    EXPECT_EQ(monitor.TotRecvPackets(), recvPackets);
    EXPECT_EQ(monitor.TotRecvBytes(), recvBytes);
  }

  TMonitorPcap monitor;
  std::vector<TPacketInfo> delivered;
};

TEST_F(FrameDecoder, DirectionComesFromTheSourceHardwareAddress) {
  struct Case {
    const char *name;
    Mac adapter, dst, src;
    bool isSend;
  };
  const Case cases[] = {
      {"sent by us", kOurMac, kOtherMac, kOurMac, true},
      {"addressed to us", kOurMac, kOurMac, kOtherMac, false},
      {"broadcast from another host", kOurMac, kBroadcast, kOtherMac, false},
      {"our broadcast", kOurMac, kBroadcast, kOurMac, true},
      {"after a failed address query", kZeroMac, kOurMac, kOtherMac, false},
  };
  const auto datagram = udpDatagram({10, 0, 0, 2}, {10, 0, 0, 1});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    monitor.PrepareDecoder(DLT_EN10MB, c.adapter);
    delivered.clear();
    const auto frame = EthernetFrame(c.dst, c.src, kEtherTypeIPv4, datagram);
    ASSERT_EQ(frame.size(), 60u);
    feed(frame);
    if (c.isSend)
      expectCounts(1, 60, 0, 0);
    else
      expectCounts(0, 0, 1, 60);
    ASSERT_EQ(delivered.size(), 1u);
    const TPacketInfo &info = delivered[0];
    EXPECT_EQ(info.IsSend, c.isSend);
    EXPECT_EQ(info.FrameLen, 60);
    EXPECT_EQ(info.EtherType, kEtherTypeIPv4);
    EXPECT_EQ(info.SrcMac, c.src);
    EXPECT_EQ(info.DstMac, c.dst);
    EXPECT_EQ(info.SrcAddr, 0x0200000Au);
    EXPECT_EQ(info.DstAddr, 0x0100000Au);
    EXPECT_EQ(info.IpProto, 17);
    EXPECT_EQ(info.SrcPort, 5353);
    EXPECT_EQ(info.DstPort, 53);
    EXPECT_EQ(info.PayloadLen, 18);
    EXPECT_EQ(info.Payload.view(), "abcdefghijklmnopqr");
  }
}

TEST_F(FrameDecoder, CountsFramesWithoutAReceiver) {
  monitor.OnPacketEvent = nullptr;
  feed(
      EthernetFrame(kOtherMac, kOurMac, kEtherTypeIPv4, udpDatagram({10, 0, 0, 2}, {10, 0, 0, 1})));
  feed(EthernetFrame(kOurMac, kOtherMac, kEtherTypeArp, Filled(46)));
  feed(EthernetFrame(kOurMac, kOtherMac, kEtherTypeIPv4,
                     udpDatagram({10, 0, 0, 1}, {10, 0, 0, 2}, 100)));
  expectCounts(1, 60, 2, 60 + 142);
}

TEST_F(FrameDecoder, NonIpFramesCarryEverythingAfterTheEthernetHeader) {
  const auto body = Filled(46, 0x10);
  const auto arp = EthernetFrame(kBroadcast, kOtherMac, kEtherTypeArp, body);
  ASSERT_EQ(arp.size(), 60u);
  feed(arp);
  expectCounts(0, 0, 1, 60);
  ASSERT_EQ(delivered.size(), 1u);
  const TPacketInfo &info = delivered[0];
  EXPECT_EQ(info.EtherType, kEtherTypeArp);
  EXPECT_EQ(info.PayloadLen, 46);
  ASSERT_EQ(info.Payload.size(), 46u);
  EXPECT_EQ(0, std::memcmp(info.Payload.data(), body.data(), 46));
  EXPECT_EQ(info.SrcAddr, 0u);
  EXPECT_EQ(info.DstAddr, 0u);
  EXPECT_EQ(info.SrcPort, 0);
  EXPECT_EQ(info.DstPort, 0);
  EXPECT_EQ(info.IpProto, 0);
  EXPECT_EQ(info.IcmpMsgType, 0);
  EXPECT_EQ(info.TcpFlagWord, 0);

  monitor.IgnoreNonIP = true;
  monitor.PrepareDecoder(DLT_EN10MB, kOurMac);
  delivered.clear();
  feed(arp);
  expectCounts(0, 0, 0, 0);
  EXPECT_TRUE(delivered.empty());

  // A bare header is counted but carries nothing to deliver.
  monitor.IgnoreNonIP = false;
  feed(EthernetFrame(kBroadcast, kOtherMac, kEtherTypeArp, {}));
  expectCounts(0, 0, 1, 14);
  EXPECT_TRUE(delivered.empty());
}

TEST_F(FrameDecoder, IgnoreLanDropsTrafficInsideTheSubnet) {
  struct Case {
    const char *name;
    const char *mask;
    std::vector<uint8_t> dst;
    bool kept;
  };
  const Case cases[] = {
      {"inside the subnet", "255.255.255.0", {192, 168, 1, 9}, false},
      {"leaving the subnet", "255.255.255.0", {10, 0, 0, 1}, true},
      {"to 0.0.0.0", "255.255.255.0", {0, 0, 0, 0}, false},
      {"no mask, inside", "", {192, 168, 1, 9}, true},
      {"no mask, to 0.0.0.0", "", {0, 0, 0, 0}, true},
  };
  monitor.IgnoreLAN = true;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    monitor.AddrMask = c.mask;
    monitor.PrepareDecoder(DLT_EN10MB, kOurMac);
    delivered.clear();
    feed(EthernetFrame(kOtherMac, kOurMac, kEtherTypeIPv4, udpDatagram({192, 168, 1, 5}, c.dst)));
    EXPECT_EQ(delivered.size(), c.kept ? 1u : 0u);
    EXPECT_EQ(monitor.TotSendPackets(), c.kept ? 1 : 0) << "dropped before counting";
  }
  // The rule is off without IgnoreLAN, mask or not.
  monitor.IgnoreLAN = false;
  monitor.AddrMask = "255.255.255.0";
  monitor.PrepareDecoder(DLT_EN10MB, kOurMac);
  feed(EthernetFrame(kOtherMac, kOurMac, kEtherTypeIPv4,
                     udpDatagram({192, 168, 1, 5}, {192, 168, 1, 9})));
  EXPECT_EQ(monitor.TotSendPackets(), 1);
}

// Sets TZ for one test and puts the old value back.
class ScopedTimeZone {
public:
  explicit ScopedTimeZone(const char *zone) {
    if (const char *old = std::getenv("TZ"))
      old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_)
      setenv("TZ", old_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

private:
  std::optional<std::string> old_;
};

TEST_F(FrameDecoder, TimeStampIsLocalTimeFromTheRecordHeader) {
  ScopedTimeZone zone("UTC-1"); // one hour east of UTC: bias -60 minutes
  ASSERT_EQ(GetTimeZoneBias(), -60);
  monitor.PrepareDecoder(DLT_EN10MB, kOurMac);
  feed(EthernetFrame(kOurMac, kOtherMac, kEtherTypeArp, Filled(46)), {}, {}, {1200000000, 500000});
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_DOUBLE_EQ(delivered[0].CaptureTime, 1200000000.0 / 86400 + 25569 + 0.5 / 86400 + 1.0 / 24);
}

TEST_F(FrameDecoder, SnapLengthCutsThePayloadNeverTheCounts) {
  DatagramShape layout;
  layout.payload = Filled(1460, 'x');
  const auto tcp = EthernetFrame(kOurMac, kOtherMac, kEtherTypeIPv4, BuildDatagram(layout));
  const auto other = EthernetFrame(kOurMac, kOtherMac, 0x86DD, Filled(986));
  ASSERT_EQ(tcp.size(), 1514u);
  struct Case {
    const char *name;
    const std::vector<uint8_t> &frame;
    size_t captured;
    bool ignoreData;
    int32_t payloadLen;
    size_t payloadBytes;
  };
  const Case cases[] = {
      {"TCP, all captured", tcp, 2000, false, 1460, 1460},
      {"TCP, 100 of 1514 captured", tcp, 100, false, 46, 46},
      {"TCP, headers only captured", tcp, 54, false, 0, 0},
      {"TCP, 68 captured, IgnoreData", tcp, 68, true, 1460, 0},
      {"non-IP, 68 of 1000 captured", other, 68, false, 54, 54},
      {"non-IP, 68 captured, IgnoreData", other, 68, true, 986, 0},
      {"non-IP, link header only", other, 14, false, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    monitor.IgnoreData = c.ignoreData;
    monitor.PrepareDecoder(DLT_EN10MB, kOurMac);
    delivered.clear();
    feed(c.frame, {}, c.captured);
    expectCounts(0, 0, 1, int64_t(c.frame.size()));
    ASSERT_EQ(delivered.size(), 1u);
    const TPacketInfo &info = delivered[0];
    EXPECT_EQ(info.FrameLen, int32_t(c.frame.size()));
    EXPECT_EQ(info.PayloadLen, c.payloadLen);
    ASSERT_EQ(info.Payload.size(), c.payloadBytes);
    const size_t payloadOffset = info.EtherType == kEtherTypeIPv4 ? 14 + 40 : 14;
    if (c.payloadBytes > 0) {
      EXPECT_EQ(0,
                std::memcmp(info.Payload.data(), c.frame.data() + payloadOffset, c.payloadBytes));
    }
  }
}

TEST_F(FrameDecoder, ShortRecordsAreReadOnlyAsFarAsCaptured) {
  const auto frame =
      EthernetFrame(kOurMac, kOtherMac, kEtherTypeIPv4, udpDatagram({10, 0, 0, 2}, {10, 0, 0, 1}));
  for (size_t captured = 0; captured <= 42; ++captured) {
    SCOPED_TRACE("captured " + std::to_string(captured));
    monitor.PrepareDecoder(DLT_EN10MB, kOurMac);
    delivered.clear();
    feed(frame, {}, captured);
    // Counted at its length on the wire whatever was captured.
    expectCounts(0, 0, 1, 60);
    ASSERT_EQ(delivered.size(), 1u);
    const TPacketInfo &info = delivered[0];
    EXPECT_EQ(info.FrameLen, 60);
    // A field not wholly captured reads as 0.
    EXPECT_EQ(info.EtherType, captured >= 14 ? kEtherTypeIPv4 : 0);
    EXPECT_EQ(info.DstMac, captured >= 6 ? kOurMac : kZeroMac);
    EXPECT_EQ(info.SrcMac, captured >= 12 ? kOtherMac : kZeroMac);
    EXPECT_EQ(info.SrcAddr, captured >= 30 ? 0x0200000Au : 0u);
    EXPECT_EQ(info.DstAddr, captured >= 34 ? 0x0100000Au : 0u);
    EXPECT_EQ(info.DstPort, captured >= 38 ? 53 : 0);
    EXPECT_TRUE(info.Payload.empty());
    EXPECT_LE(info.PayloadLen, 0);
  }
}

TEST_F(FrameDecoder, LyingLengthsNeverReachPastTheCapturedBytes) {
  struct Case {
    const char *name;
    int ipHeaderWords;
    int totalLength;                 // -1: the true length
    size_t udpPayload;               // bytes after the UDP header
    std::optional<uint32_t> wireLen; // none: the frame's size
    size_t captured;                 // bytes present
    bool counted;
    int32_t frameLen;
    int32_t payloadLen;
  };
  const Case cases[] = {
      {"total length 4000 in a 60-byte frame", 5, 4000, 18, {}, 60, true, 60, 18},
      {"total length 4000, 100 of 1514 captured", 5, 4000, 1472, 1514, 100, true, 1514, 58},
      {"total length below the headers", 5, 20, 18, {}, 60, true, 60, -8},
      {"IHL 15, the frame ends inside the header", 15, -1, 18, {}, 60, true, 60, -22},
      {"IHL 0: ports read from the IPv4 header", 0, -1, 18, {}, 60, true, 60, 38},
      {"wire length shorter than captured", 5, -1, 18, 20, 60, true, 20, -22},
      {"wire length 0", 5, -1, 18, 0, 60, false, 0, 0},
      {"wire length beyond 32-bit signed", 5, -1, 18, 0x80000000u, 60, false, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DatagramShape layout;
    layout.protocol = 17;
    layout.ipHeaderWords = uint8_t(c.ipHeaderWords);
    layout.totalLength = c.totalLength;
    layout.payload = Filled(c.udpPayload, 'a');
    auto frame = EthernetFrame(kOurMac, kOtherMac, kEtherTypeIPv4, BuildDatagram(layout));
    frame.resize(std::min<size_t>(frame.size(), c.captured));
    monitor.PrepareDecoder(DLT_EN10MB, kOurMac);
    delivered.clear();
    feed(frame, c.wireLen.value_or(uint32_t(frame.size())));
    EXPECT_EQ(monitor.TotRecvPackets(), c.counted ? 1 : 0);
    if (!c.counted) {
      EXPECT_TRUE(delivered.empty());
      continue;
    }
    ASSERT_EQ(delivered.size(), 1u);
    const TPacketInfo &info = delivered[0];
    EXPECT_EQ(info.FrameLen, c.frameLen);
    EXPECT_EQ(info.PayloadLen, c.payloadLen);
    EXPECT_EQ(info.Payload.size(), c.payloadLen > 0 ? size_t(c.payloadLen) : 0u);
    EXPECT_LE(info.Payload.size(), c.captured);
  }
}

TEST_F(FrameDecoder, CookedCapturesTakeTheDirectionFromThePacketType) {
  const auto datagram = udpDatagram({10, 0, 0, 2}, {10, 0, 0, 1});
  struct Case {
    const char *name;
    int linkType;
    std::vector<uint8_t> frame;
    bool isSend;
    Mac srcMac;
  };
  const Case cases[] = {
      {"SLL outgoing", DLT_LINUX_SLL, sll(4, kOurMac, 6, kEtherTypeIPv4, datagram), true, kOurMac},
      {"SLL to us", DLT_LINUX_SLL, sll(0, kOtherMac, 6, kEtherTypeIPv4, datagram), false,
       kOtherMac},
      {"SLL broadcast", DLT_LINUX_SLL, sll(1, kOtherMac, 6, kEtherTypeIPv4, datagram), false,
       kOtherMac},
      {"SLL, no hardware address", DLT_LINUX_SLL, sll(4, kOtherMac, 0, kEtherTypeIPv4, datagram),
       true, kZeroMac},
      {"SLL2 outgoing", DLT_LINUX_SLL2, sll2(4, kOurMac, 6, kEtherTypeIPv4, datagram), true,
       kOurMac},
      {"SLL2 to us", DLT_LINUX_SLL2, sll2(0, kOtherMac, 6, kEtherTypeIPv4, datagram), false,
       kOtherMac},
      {"SLL2 multicast from another host", DLT_LINUX_SLL2,
       sll2(2, kOtherMac, 6, kEtherTypeIPv4, datagram), false, kOtherMac},
      {"SLL2, 8-byte address", DLT_LINUX_SLL2, sll2(0, kOtherMac, 8, kEtherTypeIPv4, datagram),
       false, kZeroMac},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    // The adapter address plays no part: a cooked capture has none.
    monitor.PrepareDecoder(c.linkType, kZeroMac);
    delivered.clear();
    feed(c.frame);
    // Counted as the same Ethernet frame the Ethernet link would show.
    if (c.isSend)
      expectCounts(1, 60, 0, 0);
    else
      expectCounts(0, 0, 1, 60);
    ASSERT_EQ(delivered.size(), 1u);
    const TPacketInfo &info = delivered[0];
    EXPECT_EQ(info.IsSend, c.isSend);
    EXPECT_EQ(info.FrameLen, 60);
    EXPECT_EQ(info.EtherType, kEtherTypeIPv4);
    EXPECT_EQ(info.SrcMac, c.srcMac);
    EXPECT_EQ(info.DstMac, kZeroMac);
    EXPECT_EQ(info.SrcAddr, 0x0200000Au);
    EXPECT_EQ(info.DstPort, 53);
    EXPECT_EQ(info.PayloadLen, 18);
    EXPECT_EQ(info.Payload.size(), 18u);
  }
}

TEST_F(FrameDecoder, CookedNonIpAndShortRecords) {
  monitor.PrepareDecoder(DLT_LINUX_SLL2, kZeroMac);
  const auto body = Filled(28, 0x40);
  feed(sll2(0, kOtherMac, 6, kEtherTypeArp, body));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].FrameLen, 42);
  EXPECT_EQ(delivered[0].PayloadLen, 28);
  EXPECT_EQ(0, std::memcmp(delivered[0].Payload.data(), body.data(), 28));

  // Wire lengths are measured as Ethernet frames: a record no longer than its
  // cooked header is an empty 14-byte frame, a shorter one is no frame.
  monitor.PrepareDecoder(DLT_LINUX_SLL, kZeroMac);
  delivered.clear();
  feed(sll(0, kOtherMac, 6, kEtherTypeIPv4, {}), 2);
  expectCounts(0, 0, 0, 0);
  feed(sll(0, kOtherMac, 6, kEtherTypeIPv4, {}), 16, 10);
  expectCounts(0, 0, 1, 14);
  EXPECT_TRUE(delivered.empty()) << "nothing after the link header";
}

TEST_F(FrameDecoder, UnsupportedLinkTypesAreNotDecoded) {
  monitor.PrepareDecoder(DLT_RAW, kOurMac);
  feed(udpDatagram({10, 0, 0, 2}, {10, 0, 0, 1}));
  expectCounts(0, 0, 0, 0);
  EXPECT_TRUE(delivered.empty());
}

} // namespace
