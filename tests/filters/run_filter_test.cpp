#include "filters/builtin_handlers.h"
#include "filters/handler_table.h"
#include "filters/ip_filter.h"
#include "filters/return_pairs.h"
#include "packet/date_time.h"
#include "packet/names.h"
#include "packet/text_format.h"
#include "packet/text_separators.h"

#include "tests/filters/output_sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kTcp = 6, kUdp = 17, kIcmp = 1;
const uint8_t kPayload[] = "0123456789"; // ten bytes and the zero that ends them

TFilterPacket packet(uint8_t proto, uint32_t src, int32_t sport, uint32_t dst, int32_t dport,
                     int32_t payloadLen = 10) {
  TFilterPacket p{};
  p.EtherType = 2048;
  p.IpProto = proto;
  p.SrcAddr = src;
  p.SrcPort = sport;
  p.DstAddr = dst;
  p.DstPort = dport;
  p.PayloadLen = payloadLen;
  p.FrameLen = 54 + (payloadLen > 0 ? payloadLen : 0);
  p.Payload = payloadLen > 0 ? kPayload : kPayload + 10;
  p.CaptureTime = 1.0; // far from now: the announcement must not use it
  return p;
}

TFilterPacket icmp(uint8_t type) {
  TFilterPacket p = packet(kIcmp, addr(10, 0, 0, 2), 0, addr(10, 0, 0, 1), 0);
  p.IcmpMsgType = type;
  return p;
}

// 31 empty entries, then `type` in the last one.
std::vector<uint8_t> lastIcmpEntry(uint8_t type) {
  std::vector<uint8_t> types(32, 255);
  types.back() = type;
  return types;
}

const std::regex
    kAnnouncement(R"(^(\d{8})-(\d\d):(\d\d):(\d\d)\.(\d{3}) - (\S+) (Return )?Package Got$)");

class RunFilterTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = CurrentTextSeparators();
    SetTextSeparators(TextSeparators{".", ",", ":"});
    ClearFilterProcs();
    RegisterBuiltinHandlers();
    ASSERT_EQ(FilterProcCount, 3);
    gItems.clear();
    filter_.OutProc = sink;
  }
  void TearDown() override {
    ClearFilterProcs();
    SetTextSeparators(saved_);
  }

  static TIPFilter allData() {
    TIPFilter f;
    f.Name = "All Data";
    f.AllProto = -1;
    f.OutProc = sink;
    f.ProcCount = 2;
    f.Procs[0] = FilterProcs[0];
    f.Procs[1] = FilterProcs[1];
    return f;
  }
  // A filter that lists some protocols; `protos` fill the entries from the first on.
  static TIPFilter listing(std::initializer_list<uint8_t> protos) {
    TIPFilter f;
    f.AllProto = 0;
    f.Protos.fill(255);
    f.IcmpTypes.fill(255);
    std::copy(protos.begin(), protos.end(), f.Protos.begin());
    f.OutProc = sink;
    return f;
  }
  // Runs `p` and checks that a failed test wrote nothing.
  bool run(TIPFilter &f, const TFilterPacket &p) {
    gItems.clear();
    const bool passed = RunFilter(f, p);
    if (!passed) {
      EXPECT_TRUE(gItems.empty());
    }
    return passed;
  }

  TextSeparators saved_;
  TIPFilter filter_;
};

TEST_F(RunFilterTest, AllDataPassesEveryPacketAndAnnouncesBeforeItsHandlers) {
  TIPFilter f = allData();
  const TFilterPacket packets[] = {
      packet(kTcp, addr(10, 0, 0, 2), 1025, addr(10, 0, 0, 1), 80),
      packet(kUdp, addr(1, 2, 3, 4), 5000, addr(5, 6, 7, 8), 53, 0),
      icmp(8),
      packet(255, 0, 0, 0, 0, -1),
  };
  for (const TFilterPacket &p : packets) {
    ASSERT_TRUE(run(f, p));
    ASSERT_EQ(gItems.size(), 7u);
    EXPECT_EQ(gItems[0], " ");
    EXPECT_EQ(gItems[1], "<C>12632256");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(gItems[2], m, kAnnouncement)) << gItems[2];
    EXPECT_EQ(m[6], IPProtoName(p.IpProto));
    EXPECT_FALSE(m[7].matched);
    EXPECT_EQ(gItems[3], "<B>");
    EXPECT_EQ(gItems[4], "<C>8388608");
    EXPECT_NE(gItems[5].find(" PackLen="), std::string::npos);
    EXPECT_EQ(gItems[6], HexDumpText(p.Payload, p.PayloadLen));
  }
  EXPECT_EQ(f.Returns, nullptr); // ReturnPkg 0 needs no lists
}

TEST_F(RunFilterTest, FilterWithoutHandlersStillWritesTheAnnouncement) {
  TIPFilter f = listing({kUdp});
  ASSERT_TRUE(run(f, packet(kUdp, 1, 1, 2, 2)));
  ASSERT_EQ(gItems.size(), 3u);
  EXPECT_TRUE(std::regex_match(gItems[2], kAnnouncement)) << gItems[2];
}

TEST_F(RunFilterTest, ChainStopsAtFirstEmptyRow) {
  TIPFilter f = allData();
  f.Procs[0] = FilterProcs[2];
  f.Procs[1] = TCustFilters{};
  f.Procs[2] = FilterProcs[1];
  ASSERT_TRUE(run(f, packet(kTcp, 1, 1, 2, 2)));
  ASSERT_EQ(gItems.size(), 4u);
  EXPECT_EQ(gItems[3], "[0123456789]");
}

TEST_F(RunFilterTest, ProtocolTest) {
  struct Case {
    const char *name;
    int32_t allProto;
    std::vector<uint8_t> protos;
    std::vector<uint8_t> icmpTypes; // from the first entry; the rest stay 255
    TFilterPacket packet;
    bool passes;
  };
  const TFilterPacket tcp = packet(kTcp, 1, 1, 2, 2);
  const TFilterPacket udp = packet(kUdp, 1, 1, 2, 2);
  const TFilterPacket proto255 = packet(255, 1, 1, 2, 2);
  const Case cases[] = {
      {"-1 skips the test", -1, {}, {}, tcp, true},
      {"nothing listed rejects TCP", 0, {}, {}, tcp, false},
      {"nothing listed passes protocol 255", 0, {}, {}, proto255, true},
      {"listed TCP", 0, {kTcp}, {}, tcp, true},
      {"UDP not listed", 0, {kTcp}, {}, udp, false},
      {"any value but -1 tests", 1, {kTcp}, {}, udp, false},
      {"last entry counts", 0, {255, 255, 255, 255, 255, 255, 255, kUdp}, {}, udp, true},
      {"every ICMP type with 254", 0, {kIcmp}, {254}, icmp(13), true},
      {"listed ICMP type", 0, {kTcp, kIcmp}, {8}, icmp(8), true},
      {"echo reply when only echo listed", 0, {kIcmp}, {8}, icmp(0), false},
      {"last ICMP entry counts", 0, {kIcmp}, lastIcmpEntry(3), icmp(3), true},
      {"254 only counts first", 0, {kIcmp}, {8, 254}, icmp(0), false},
      {"ICMP types ignore other protocols", 0, {kTcp}, {8}, tcp, true},
  };
  for (const Case &c : cases) {
    TIPFilter f = listing({});
    f.AllProto = c.allProto;
    std::copy(c.protos.begin(), c.protos.end(), f.Protos.begin());
    std::copy(c.icmpTypes.begin(), c.icmpTypes.end(), f.IcmpTypes.begin());
    EXPECT_EQ(run(f, c.packet), c.passes) << c.name;
  }
}

TEST_F(RunFilterTest, AddressTestIsExactDottedText) {
  struct Case {
    const char *condition;
    uint32_t packetAddr;
    bool passes;
  };
  const Case cases[] = {
      {"10.0.0.1", addr(10, 0, 0, 1), true},
      {"10.0.0.1", addr(10, 0, 0, 10), false},
      {"10.0.0.10", addr(10, 0, 0, 1), false},
      {"1.0.0.10", addr(10, 0, 0, 1), false}, // byte order
      {"010.0.0.1", addr(10, 0, 0, 1), false},
      {"10.0.0.01", addr(10, 0, 0, 1), false},
      {" 10.0.0.1", addr(10, 0, 0, 1), false},
      {"10.0.0.1 ", addr(10, 0, 0, 1), false},
      {"10.0.0.1.", addr(10, 0, 0, 1), false},
      {"10.0.0", addr(10, 0, 0, 0), false},
      {"10.0.0.1.5", addr(10, 0, 0, 1), false},
      {"10.0.0.*", addr(10, 0, 0, 1), false},
      {"10.0.0.0/8", addr(10, 0, 0, 0), false},
      {"256.0.0.1", addr(0, 0, 0, 1), false},
      {"+10.0.0.1", addr(10, 0, 0, 1), false},
      {"0x0A.0.0.1", addr(10, 0, 0, 1), false},
      {"0.1.2.3", addr(0, 1, 2, 3), true},
      {"0.0.0.0", 0, true},
      {"255.255.255.255", addr(255, 255, 255, 255), true},
  };
  for (const Case &c : cases) {
    TIPFilter src = listing({});
    src.AllProto = -1;
    src.SIP = c.condition;
    EXPECT_EQ(run(src, packet(kTcp, c.packetAddr, 1, addr(9, 9, 9, 9), 2)), c.passes)
        << "SIP " << c.condition;
    TIPFilter dst = src;
    dst.SIP.clear();
    dst.DIP = c.condition;
    EXPECT_EQ(run(dst, packet(kTcp, addr(9, 9, 9, 9), 1, c.packetAddr, 2)), c.passes)
        << "DIP " << c.condition;
  }
}

TEST_F(RunFilterTest, BothAddressesMustMatch) {
  TIPFilter f = listing({});
  f.AllProto = -1;
  f.SIP = "10.0.0.2";
  f.DIP = "10.0.0.1";
  EXPECT_TRUE(run(f, packet(kTcp, addr(10, 0, 0, 2), 1, addr(10, 0, 0, 1), 2)));
  EXPECT_FALSE(run(f, packet(kTcp, addr(10, 0, 0, 1), 1, addr(10, 0, 0, 2), 2)));
  EXPECT_FALSE(run(f, packet(kTcp, addr(10, 0, 0, 2), 1, addr(10, 0, 0, 2), 2)));
}

TEST_F(RunFilterTest, ChangedAddressTextTakesEffectInTheSameRecordAndInCopies) {
  TIPFilter f = listing({});
  f.AllProto = -1;
  f.SIP = "10.0.0.1";
  const TFilterPacket from1 = packet(kTcp, addr(10, 0, 0, 1), 1, 2, 2);
  const TFilterPacket from2 = packet(kTcp, addr(10, 0, 0, 2), 1, 2, 2);
  EXPECT_TRUE(run(f, from1));
  f.SIP = "10.0.0.2";
  EXPECT_FALSE(run(f, from1));
  EXPECT_TRUE(run(f, from2));
  TIPFilter copy = f;
  copy.SIP = "10.0.0.01";
  EXPECT_FALSE(run(copy, from1));
  EXPECT_TRUE(run(f, from2));
  copy.SIP.clear();
  EXPECT_TRUE(run(copy, from1));
}

TEST_F(RunFilterTest, PortTests) {
  struct Case {
    const char *name;
    int32_t sport, dport;
    TFilterPacket packet;
    bool passes;
  };
  const Case cases[] = {
      {"source port 80 rejects ICMP", 80, 0, icmp(8), false},
      {"source port 80 matches", 80, 0, packet(kTcp, 1, 80, 2, 1025), true},
      {"source port is not the destination", 80, 0, packet(kTcp, 1, 1025, 2, 80), false},
      {"destination port matches", 0, 443, packet(kTcp, 1, 1025, 2, 443), true},
      {"destination port differs", 0, 443, packet(kTcp, 1, 1025, 2, 80), false},
      {"both set, both match", 53, 5000, packet(kUdp, 1, 53, 2, 5000), true},
      {"both set, one differs", 53, 5000, packet(kUdp, 1, 53, 2, 5001), false},
  };
  for (const Case &c : cases) {
    TIPFilter f = listing({});
    f.AllProto = -1;
    f.SPort = c.sport;
    f.DPort = c.dport;
    EXPECT_EQ(run(f, c.packet), c.passes) << c.name;
  }
}

TEST_F(RunFilterTest, PayloadTestOnlyWithIgZeroOne) {
  struct Case {
    int32_t igZero;
    int32_t payloadLen;
    bool passes;
  };
  const Case cases[] = {{1, 0, false}, {1, 10, true}, {1, -1, true},
                        {0, 0, true},  {2, 0, true},  {-1, 0, true}};
  for (const Case &c : cases) {
    TIPFilter f = allData();
    f.IgZero = c.igZero;
    EXPECT_EQ(run(f, packet(kUdp, 1, 1, 2, 2, c.payloadLen)), c.passes)
        << "IgZero " << c.igZero << " PayloadLen " << c.payloadLen;
  }
}

TEST_F(RunFilterTest, ReturnTrafficOfARememberedDestinationPasses) {
  // Only TCP from 10.0.0.2 to port 80 would pass on its own.
  TIPFilter f = listing({kTcp});
  f.SIP = "10.0.0.2";
  f.DPort = 80;
  f.ReturnPkg = 1;
  f.Procs[0] = FilterProcs[0];
  f.ProcCount = 1;
  ASSERT_EQ(f.Returns, nullptr);

  ASSERT_TRUE(run(f, packet(kTcp, addr(10, 0, 0, 2), 1025, addr(10, 0, 0, 1), 80)));
  ASSERT_NE(f.Returns, nullptr);
  EXPECT_EQ(f.Returns->RetIPs(), std::vector<std::string>{"10.0.0.1"});
  EXPECT_EQ(f.Returns->RetPorts(), std::vector<std::string>{"80"});

  // The reply fails protocol, address and port conditions, yet passes as return traffic.
  ASSERT_TRUE(run(f, packet(kUdp, addr(10, 0, 0, 1), 80, addr(10, 0, 0, 7), 5000)));
  ASSERT_EQ(gItems.size(), 6u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(gItems[2], m, kAnnouncement)) << gItems[2];
  EXPECT_EQ(m[6], "UDP");
  EXPECT_TRUE(m[7].matched);
  EXPECT_EQ(gItems[3], "<B>");      // the chain runs for return packets too
  EXPECT_EQ(f.Returns->size(), 1u); // a return packet's destination is not remembered

  // Same address, other port: not remembered, and fails the filter's own tests.
  EXPECT_FALSE(run(f, packet(kTcp, addr(10, 0, 0, 1), 443, addr(10, 0, 0, 2), 1025)));
  // A remembered port from another address is no return packet either.
  EXPECT_FALSE(run(f, packet(kTcp, addr(10, 0, 0, 9), 80, addr(10, 0, 0, 2), 1025)));
}

TEST_F(RunFilterTest, RememberedPairsKeepTheirOrderWithoutDuplicates) {
  TIPFilter f = allData();
  f.ReturnPkg = 1;
  const uint32_t a = addr(192, 168, 1, 20), b = addr(8, 8, 8, 8);
  ASSERT_TRUE(run(f, packet(kTcp, 1, 1, a, 443)));
  ASSERT_TRUE(run(f, packet(kUdp, 1, 1, b, 53)));
  ASSERT_TRUE(run(f, packet(kTcp, 3, 3, a, 443))); // same pair again
  ASSERT_TRUE(run(f, packet(kTcp, 1, 1, a, 8080)));
  EXPECT_EQ(f.Returns->RetIPs(),
            (std::vector<std::string>{"192.168.1.20", "8.8.8.8", "192.168.1.20"}));
  EXPECT_EQ(f.Returns->RetPorts(), (std::vector<std::string>{"443", "53", "8080"}));
}

TEST_F(RunFilterTest, CopiesShareTheirRememberedPairs) {
  TIPFilter table = listing({kTcp});
  table.ReturnPkg = 1;
  table.Returns = std::make_shared<TReturnPairs>();
  TIPFilter current = table;
  ASSERT_TRUE(run(current, packet(kTcp, addr(10, 0, 0, 2), 1025, addr(10, 0, 0, 1), 80)));
  // Learnt through the copy, known to the record it was copied from.
  EXPECT_TRUE(run(table, packet(kUdp, addr(10, 0, 0, 1), 80, addr(10, 0, 0, 2), 1025)));
  EXPECT_EQ(table.Returns->size(), 1u);
}

TEST_F(RunFilterTest, EmptyReturnPacketFailsWhenEmptyPayloadsAreIgnored) {
  TIPFilter f = listing({kTcp});
  f.ReturnPkg = 1;
  f.IgZero = 1;
  ASSERT_TRUE(run(f, packet(kTcp, addr(10, 0, 0, 2), 1025, addr(10, 0, 0, 1), 80)));
  EXPECT_FALSE(run(f, packet(kTcp, addr(10, 0, 0, 1), 80, addr(10, 0, 0, 2), 1025, 0)));
  EXPECT_TRUE(run(f, packet(kTcp, addr(10, 0, 0, 1), 80, addr(10, 0, 0, 2), 1025, 1)));
}

TEST_F(RunFilterTest, OnlyReturnPkgOneRemembers) {
  for (int32_t value : {0, 2, -1}) {
    TIPFilter f = listing({kTcp});
    f.ReturnPkg = value;
    ASSERT_TRUE(run(f, packet(kTcp, addr(10, 0, 0, 2), 1025, addr(10, 0, 0, 1), 80)));
    EXPECT_EQ(f.Returns, nullptr) << value;
    EXPECT_FALSE(run(f, packet(kUdp, addr(10, 0, 0, 1), 80, addr(10, 0, 0, 2), 1025))) << value;
  }
}

// The announced time is the clock at the call, written with the configured
// time separator between hours, minutes and seconds only.
TEST_F(RunFilterTest, AnnouncementTimeIsNowWithTheTimeSeparator) {
  for (const std::string separator : {":", "#"}) {
    SetTextSeparators(TextSeparators{".", ",", separator});
    TIPFilter f = listing({kUdp});
    auto stamp = [](const DateTimeFields &t) {
      char text[32];
      std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%03d", t.year, t.month, t.day,
                    t.hour, t.minute, t.second, t.millisecond);
      return std::string(text);
    };
    const std::string before = stamp(DecodeDateTime(LocalNow()));
    ASSERT_TRUE(run(f, packet(kUdp, 1, 1, 2, 2)));
    const std::string after = stamp(DecodeDateTime(LocalNow()));
    ASSERT_EQ(gItems.size(), 3u);
    const std::regex format("^(\\d{8})-(\\d\\d)" + separator + "(\\d\\d)" + separator +
                            "(\\d\\d)\\.(\\d{3}) - UDP Package Got$");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(gItems[2], m, format)) << gItems[2];
    const std::string announced = m.str(1) + m.str(2) + m.str(3) + m.str(4) + m.str(5);
    EXPECT_LE(before, announced);
    EXPECT_LE(announced, after);
  }
}

TEST(FreeFilterLists, ReleasesThePairsOfEveryTableEntry) {
  IPFilters[0].Returns = std::make_shared<TReturnPairs>();
  IPFilters[kMaxIPFilters - 1].Returns = std::make_shared<TReturnPairs>();
  const std::shared_ptr<TReturnPairs> held = IPFilters[0].Returns; // a current filter's copy
  held->Remember(1, 80);
  FreeFilterLists();
  for (const TIPFilter &f : IPFilters)
    EXPECT_EQ(f.Returns, nullptr);
  EXPECT_EQ(held->size(), 1u);
}

} // namespace
