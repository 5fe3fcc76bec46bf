#include "filters/builtin_handlers.h"
#include "packet/text_format.h"
#include "packet/text_separators.h"

#include "tests/filters/output_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double kNoon = 45000.5; // 2023-03-15 12:00:00.000

TFilterPacket ipPacket(uint8_t proto, const std::string &payload) {
  TFilterPacket p{};
  p.EtherType = 2048;
  p.SrcAddr = addr(10, 0, 0, 2);
  p.DstAddr = addr(10, 0, 0, 1);
  p.IpProto = proto;
  p.CaptureTime = kNoon;
  p.PayloadLen = int32_t(payload.size());
  p.FrameLen = 54 + p.PayloadLen;
  return p;
}

class BuiltinHandlers : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = CurrentTextSeparators();
    SetTextSeparators(TextSeparators{".", ",", ":"});
    gItems.clear();
  }
  void TearDown() override { SetTextSeparators(saved_); }

  // Runs one handler on `p` with `payload` as its bytes (plus the trailing zero).
  std::vector<std::string> run(TFilterProc proc, TFilterPacket p, const std::string &payload) {
    payload_ = payload; // std::string keeps the zero after the bytes
    p.Payload = reinterpret_cast<const uint8_t *>(payload_.c_str());
    gItems.clear();
    EXPECT_EQ(proc(&p, 64, sink), 0);
    return gItems;
  }
  std::string header(TFilterPacket p, const std::string &payload = "") {
    const std::vector<std::string> items = run(FL_PrintStdHead, p, payload);
    EXPECT_EQ(items.size(), 3u);
    if (items.size() != 3u)
      return {};
    EXPECT_EQ(items[0], "<B>");
    EXPECT_EQ(items[1], "<C>8388608");
    return items[2];
  }

  TextSeparators saved_;
  std::string payload_;
};

TEST_F(BuiltinHandlers, IcmpEchoHeaderAsSeenByRawSocketEngine) {
  TFilterPacket p = ipPacket(1, std::string(40, 'x'));
  p.FrameLen = 74;
  p.IcmpMsgType = 8;
  p.TcpFlagWord = 0x5002; // never a flags text for ICMP, even with an empty payload below
  EXPECT_EQ(header(p, std::string(40, 'x')),
            "12:00:00:000 ICMP PackLen=74 10.0.0.2:0 -> 10.0.0.1:0 echo Len=40 ");
  p.PayloadLen = 0;
  EXPECT_EQ(header(p), "12:00:00:000 ICMP PackLen=74 10.0.0.2:0 -> 10.0.0.1:0 echo Len=0 ");
}

TEST_F(BuiltinHandlers, HeaderLineCases) {
  struct Case {
    const char *name;
    uint8_t proto;
    int32_t srcPort, dstPort;
    uint16_t flagWord;
    int32_t payloadLen;
    const char *expected;
  };
  const Case cases[] = {
      {"bare SYN shows its flags", 6, 1025, 80, 0x5002, 0,
       "12:00:00:000 TCP  PackLen=54 10.0.0.2:1025 -> 10.0.0.1:80 http Len=0 SYN"},
      {"SYN ACK in table order", 6, 80, 1025, 0x5012, 0,
       "12:00:00:000 TCP  PackLen=54 10.0.0.2:80 -> 10.0.0.1:1025 http Len=0 SYN ACK"},
      {"segment with payload shows no flags", 6, 1025, 80, 0x5018, 10,
       "12:00:00:000 TCP  PackLen=54 10.0.0.2:1025 -> 10.0.0.1:80 http Len=10 "},
      {"empty UDP ends in Len=0 and a space", 17, 5000, 53, 0, 0,
       "12:00:00:000 UDP  PackLen=54 10.0.0.2:5000 -> 10.0.0.1:53 dns Len=0 "},
      {"negative payload length printed as is", 17, 5000, 53, 0, -5,
       "12:00:00:000 UDP  PackLen=54 10.0.0.2:5000 -> 10.0.0.1:53 dns Len=-5 "},
      {"flags only for a length of exactly 0", 6, 1025, 80, 0x5002, -5,
       "12:00:00:000 TCP  PackLen=54 10.0.0.2:1025 -> 10.0.0.1:80 http Len=-5 "},
      {"unnamed protocol shows its number", 47, 0, 0, 0, 0,
       "12:00:00:000 47   PackLen=54 10.0.0.2:0 -> 10.0.0.1:0 loopback Len=0 "},
  };
  for (const Case &c : cases) {
    TFilterPacket p = ipPacket(c.proto, "");
    p.SrcPort = c.srcPort;
    p.DstPort = c.dstPort;
    p.TcpFlagWord = c.flagWord;
    p.PayloadLen = c.payloadLen;
    // The payload bytes do not matter to the header; give it enough to cover PayloadLen.
    EXPECT_EQ(header(p, std::string(size_t(c.payloadLen > 0 ? c.payloadLen : 0), 'x')), c.expected)
        << c.name;
  }
}

TEST_F(BuiltinHandlers, NonIpFrameShowsEtherTypeAndHardwareAddresses) {
  TFilterPacket p{};
  p.EtherType = 0x0806;
  p.FrameLen = 42;
  p.PayloadLen = 28;
  p.CaptureTime = kNoon;
  p.IpProto = 6; // stale fields of a non-IP frame are not consulted
  p.SrcPort = 80;
  const uint8_t src[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  std::memcpy(p.SrcMac, src, 6);
  std::memset(p.DstMac, 0xFF, 6);
  EXPECT_EQ(header(p, std::string(28, 'x')),
            "12:00:00:000 ARP  PackLen=42 00-1A-2B-3C-4D-5E -> FF-FF-FF-FF-FF-FF  Len=28 ");
}

TEST_F(BuiltinHandlers, LongTimeSeparatorWidensTheLineInsteadOfCuttingIt) {
  SetTextSeparators(TextSeparators{".", ",", "::"});
  TFilterPacket p = ipPacket(17, "");
  p.SrcPort = 5000;
  p.DstPort = 53;
  EXPECT_EQ(header(p), "12::00::00::000 UDP  PackLen=54 10.0.0.2:5000 -> 10.0.0.1:53 dns Len=0 ");
}

TEST_F(BuiltinHandlers, DumpWritesEveryPayloadByteIncludingZeros) {
  const std::string payload("ab\0cd", 5);
  const std::vector<std::string> items = run(FL_DumpMessage, ipPacket(17, payload), payload);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0], HexDumpText(reinterpret_cast<const uint8_t *>(payload.data()), 5));
  EXPECT_NE(items[0].find("61 62 00 63 64"), std::string::npos) << items[0];
  EXPECT_NE(items[0].find("|ab.cd"), std::string::npos) << items[0];
}

TEST_F(BuiltinHandlers, DumpOfSeveralLinesIsOneItem) {
  std::string payload(40, 'z');
  const std::vector<std::string> items = run(FL_DumpMessage, ipPacket(6, payload), payload);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(std::count(items[0].begin(), items[0].end(), '\r'), 2);
}

TEST_F(BuiltinHandlers, TextStopsAtZeroByteAndAtPayloadLength) {
  const std::string withZero("ab\0cd", 5);
  EXPECT_EQ(run(FL_PrintTextMessage, ipPacket(17, withZero), withZero),
            std::vector<std::string>{"[ab]"});
  TFilterPacket shortLen = ipPacket(17, "abcdef");
  shortLen.PayloadLen = 3;
  EXPECT_EQ(run(FL_PrintTextMessage, shortLen, "abcdef"), std::vector<std::string>{"[abc]"});
}

TEST_F(BuiltinHandlers, TextReplacesUnprintableBytesButKeepsLineBreaks) {
  const std::string payload = "a\tb\xC8\r\nc\x7F\x01";
  EXPECT_EQ(run(FL_PrintTextMessage, ipPacket(6, payload), payload),
            std::vector<std::string>{"[a.b.\r\nc\x7F.]"});
}

TEST_F(BuiltinHandlers, EmptyAndNegativePayloadsStillWriteOneItemEach) {
  for (int32_t len : {0, -1, -100}) {
    TFilterPacket p = ipPacket(17, "");
    p.PayloadLen = len;
    // The bytes behind a negative length must not be read; offer some that would show.
    EXPECT_EQ(run(FL_DumpMessage, p, "abc"), std::vector<std::string>{""}) << len;
    EXPECT_EQ(run(FL_PrintTextMessage, p, "abc"), std::vector<std::string>{"[]"}) << len;
  }
}

TEST_F(BuiltinHandlers, NotificationsWriteNothing) {
  for (TFilterProc proc : {FL_PrintStdHead, FL_DumpMessage, FL_PrintTextMessage}) {
    for (const char *text : {"CAPSTAT", "CAPSTOP"}) {
      // Exactly eight bytes: a handler reading a packet record here would overrun.
      auto buffer = std::make_unique<char[]>(8);
      std::memcpy(buffer.get(), text, 8);
      gItems.clear();
      EXPECT_EQ(proc(buffer.get(), 8, sink), 0);
      EXPECT_TRUE(gItems.empty()) << text;
    }
  }
}

TEST_F(BuiltinHandlers, CallsOfOtherSizesAreNotPackets) {
  const struct {
    const char *bytes;
    int32_t size;
  } calls[] = {{"capstop", 8}, {"CAPSTOPX", 9}, {"CAPSTO", 7}, {"ABCDEFGHIJKLMNOPQRS", 20}};
  for (const auto &call : calls) {
    auto buffer = std::make_unique<char[]>(size_t(call.size));
    std::memcpy(buffer.get(), call.bytes, size_t(call.size));
    for (TFilterProc proc : {FL_PrintStdHead, FL_DumpMessage, FL_PrintTextMessage}) {
      gItems.clear();
      EXPECT_EQ(proc(buffer.get(), call.size, sink), 0);
      EXPECT_TRUE(gItems.empty()) << call.bytes;
    }
  }
}

TEST(IsNotification, OnlyTheExactTextsWithSizeEight) {
  EXPECT_TRUE(IsNotification("CAPSTAT", 8));
  EXPECT_TRUE(IsNotification("CAPSTOP", 8));
  EXPECT_FALSE(IsNotification("CAPSTOP", 7));
  EXPECT_FALSE(IsNotification("capstop", 8));
  EXPECT_FALSE(IsNotification("CAPSTOPP", 8)); // no zero inside the eight bytes
  EXPECT_FALSE(IsNotification("CAPSTAT", 64));
  EXPECT_FALSE(IsNotification(nullptr, 8));
}

} // namespace
