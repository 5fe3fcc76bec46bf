// The shipped DNS plug-in, loaded as the host loads it: through dlopen and its
// exports only.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "filters/plugin_api/vantor_plugin.h"

#ifndef VANTOR_LTDNS_PATH
#error "VANTOR_LTDNS_PATH must name the built LTDns module"
#endif

namespace {

using GetDesVersionFn = int32_t (*)(char *);
using GetCountFn = int32_t (*)();
using GetDescFn = int32_t (*)(int32_t, char *, char *);

// The output callback is a plain function pointer, so items land in a static sink.
std::vector<std::string> gItems;
void collectItem(const char *text) {
  gItems.emplace_back(text);
}

// A DNS message written field by field, big-endian as on the wire.
class DnsBytes {
public:
  DnsBytes &u8(unsigned v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  DnsBytes &u16(unsigned v) { return u8(v >> 8).u8(v & 0xFF); }
  DnsBytes &u32(uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
  DnsBytes &raw(std::initializer_list<unsigned> values) {
    for (unsigned v : values)
      u8(v);
    return *this;
  }
  DnsBytes &header(unsigned id, unsigned flags, unsigned qd, unsigned an, unsigned ns = 0,
                   unsigned ar = 0) {
    return u16(id).u16(flags).u16(qd).u16(an).u16(ns).u16(ar);
  }
  // Uncompressed labels of a dotted name, ending in the root label.
  DnsBytes &name(const std::string &dotted) {
    size_t start = 0;
    while (start < dotted.size()) {
      size_t dot = dotted.find('.', start);
      if (dot == std::string::npos)
        dot = dotted.size();
      label(dotted.substr(start, dot - start));
      start = dot + 1;
    }
    return u8(0);
  }
  DnsBytes &label(const std::string &text) {
    u8(static_cast<unsigned>(text.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  DnsBytes &pointer(unsigned offset) { return u16(0xC000 | offset); }
  DnsBytes &question(unsigned type) { return u16(type).u16(1); }
  // Type, class IN, TTL and the data length; the caller writes the data.
  DnsBytes &recordHead(unsigned type, unsigned dataLen) {
    return u16(type).u16(1).u32(3600).u16(dataLen);
  }
  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t> &bytes() const { return bytes_; }

private:
  std::vector<uint8_t> bytes_;
};

struct PacketShape {
  uint16_t etherType = 2048;
  uint8_t ipProto = 17;
  int32_t srcPort = 53124;
  int32_t dstPort = 53;
};

class LTDnsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    handle_ = dlopen(VANTOR_LTDNS_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    desVersion_ = reinterpret_cast<GetDesVersionFn>(dlsym(handle_, "GetDLLDesVersion"));
    count_ = reinterpret_cast<GetCountFn>(dlsym(handle_, "GetFilterCount"));
    desc_ = reinterpret_cast<GetDescFn>(dlsym(handle_, "GetFilterDesc"));
    handler_ = reinterpret_cast<TFilterProc>(dlsym(handle_, "FL_PrintDns"));
  }
  static void TearDownTestSuite() {
    if (handle_ != nullptr)
      dlclose(handle_);
    handle_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(handle_, nullptr);
    ASSERT_NE(desVersion_, nullptr);
    ASSERT_NE(count_, nullptr);
    ASSERT_NE(desc_, nullptr);
    ASSERT_NE(handler_, nullptr);
    gItems.clear();
  }

  // Calls the handler with the message as the UDP payload, in a buffer of
  // exactly the message's bytes plus the host's trailing zero.
  static std::vector<std::string> run(const std::vector<uint8_t> &message, int32_t payloadLen,
                                      PacketShape shape = {}) {
    std::vector<uint8_t> payload(message);
    payload.push_back(0);
    TFilterPacket packet{};
    packet.FrameLen = 42 + static_cast<int32_t>(message.size());
    packet.EtherType = shape.etherType;
    packet.IpProto = shape.ipProto;
    packet.SrcPort = shape.srcPort;
    packet.DstPort = shape.dstPort;
    packet.PayloadLen = payloadLen;
    packet.Payload = payload.data();
    gItems.clear();
    handler_(&packet, sizeof packet, collectItem);
    return gItems;
  }
  static std::vector<std::string> run(const DnsBytes &message, PacketShape shape = {}) {
    return run(message.bytes(), static_cast<int32_t>(message.size()), shape);
  }

  static inline void *handle_ = nullptr;
  static inline GetDesVersionFn desVersion_ = nullptr;
  static inline GetCountFn count_ = nullptr;
  static inline GetDescFn desc_ = nullptr;
  static inline TFilterProc handler_ = nullptr;
};

using Items = std::vector<std::string>;
const Items kMalformed{"malformed DNS message"};

// The host never clears its buffers, so each must come back zero-terminated.
std::string terminatedText(const char (&buffer)[VANTOR_PLUGIN_TEXT_SIZE]) {
  const void *zero = std::memchr(buffer, 0, sizeof buffer);
  EXPECT_NE(zero, nullptr) << "no terminating zero";
  return zero == nullptr ? std::string() : std::string(buffer);
}

TEST_F(LTDnsTest, DescribesItselfAndItsOneHandler) {
  char desc[VANTOR_PLUGIN_TEXT_SIZE];
  char name[VANTOR_PLUGIN_TEXT_SIZE];
  std::memset(desc, 'x', sizeof desc);
  desVersion_(desc);
  EXPECT_EQ(terminatedText(desc), "LTDns 1.0 - DNS queries and answers");

  EXPECT_EQ(count_(), 1);

  std::memset(desc, 'x', sizeof desc);
  std::memset(name, 'x', sizeof name);
  desc_(0, desc, name);
  EXPECT_EQ(terminatedText(desc), "Print DNS queries and answers");
  EXPECT_EQ(terminatedText(name), "FL_PrintDns");
  EXPECT_EQ(reinterpret_cast<TFilterProc>(dlsym(handle_, name)), handler_);

  for (int32_t index : {1, -1, 1000}) {
    std::memset(desc, 'x', sizeof desc);
    std::memset(name, 'x', sizeof name);
    desc_(index, desc, name);
    EXPECT_EQ(terminatedText(desc), "") << index;
    EXPECT_EQ(terminatedText(name), "") << index;
  }
}

TEST_F(LTDnsTest, QueryListsItsQuestionsIncludingACompressedName) {
  DnsBytes query;
  query.header(0x1A2B, 0x0100, 3, 0)
      .name("example.com")
      .question(1) // name at offset 12
      .name("example.org")
      .question(28)
      .label("mail")
      .pointer(12)
      .question(15); // mail.example.com
  EXPECT_EQ(run(query),
            Items{"DNS query id=0x1A2B example.com A, example.org AAAA, mail.example.com MX"});
}

TEST_F(LTDnsTest, AnswerListsTheARecordsAndSkipsOthers) {
  // www.example.com is a CNAME for example.com; the A records name the alias
  // through a pointer into the CNAME's data, which itself ends in a pointer.
  DnsBytes answer;
  answer.header(0x1A2B, 0x8180, 1, 3).name("www.example.com").question(1); // "example" at 16
  answer.pointer(12).recordHead(5, 2).pointer(16);
  const unsigned aliasAt = static_cast<unsigned>(answer.size()) - 2;
  answer.pointer(aliasAt).recordHead(1, 4).raw({93, 184, 216, 34});
  answer.pointer(aliasAt).recordHead(1, 4).raw({93, 184, 216, 35});
  EXPECT_EQ(run(answer),
            Items{"DNS answer id=0x1A2B www.example.com A -> 93.184.216.34, 93.184.216.35"});
}

TEST_F(LTDnsTest, AnswerWithoutAddressesAndWithAnErrorCode) {
  struct Case {
    unsigned flags;
    const char *expected;
  };
  const Case cases[] = {
      {0x8180, "DNS answer id=0x0007 nosuch.example A -> (no A records)"},
      {0x8183, "DNS answer id=0x0007 rcode=3 (NXDOMAIN) nosuch.example A -> (no A records)"},
      {0x8182, "DNS answer id=0x0007 rcode=2 (SERVFAIL) nosuch.example A -> (no A records)"},
      {0x818C, "DNS answer id=0x0007 rcode=12 nosuch.example A -> (no A records)"},
  };
  for (const Case &c : cases) {
    DnsBytes answer;
    answer.header(7, c.flags, 1, 1).name("nosuch.example").question(1);
    answer.pointer(12).recordHead(28, 16).raw({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, //
                                               0, 0, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(run(answer), Items{c.expected}) << std::hex << c.flags;
  }
}

TEST_F(LTDnsTest, QuestionTypesByNameOrNumber) {
  struct Case {
    unsigned type;
    const char *text;
  };
  const Case cases[] = {
      {1, "A"},     {2, "NS"},      {5, "CNAME"},        {6, "SOA"},  {12, "PTR"},
      {15, "MX"},   {16, "TXT"},    {28, "AAAA"},        {33, "SRV"}, {255, "ANY"},
      {0, "TYPE0"}, {65, "TYPE65"}, {65535, "TYPE65535"}};
  for (const Case &c : cases) {
    DnsBytes query;
    query.header(0xBEEF, 0, 1, 0).name("a.b").question(c.type);
    EXPECT_EQ(run(query), Items{std::string("DNS query id=0xBEEF a.b ") + c.text}) << c.type;
  }
}

TEST_F(LTDnsTest, NamesAreShownAsPrintableText) {
  DnsBytes query;
  query.header(1, 0, 2, 0).u8(6).raw({'a', 0, ' ', '.', '\\', 0xFF}).u8(0).question(1);
  query.u8(0).question(2); // the root
  EXPECT_EQ(run(query), Items{"DNS query id=0x0001 a\\000\\032\\046\\092\\255 A, . NS"});
}

TEST_F(LTDnsTest, MessagesWithoutQuestions) {
  DnsBytes query;
  query.header(2, 0, 0, 0);
  EXPECT_EQ(run(query), Items{"DNS query id=0x0002 (no questions)"});
  DnsBytes answer;
  answer.header(3, 0x8000, 0, 1).u8(0).recordHead(1, 4).raw({10, 0, 0, 1});
  EXPECT_EQ(run(answer), Items{"DNS answer id=0x0003 (no questions) -> 10.0.0.1"});
}

TEST_F(LTDnsTest, LongestLabelAndNameAreAccepted) {
  const std::string l63(63, 'a');
  const std::string l61(61, 'b');
  // 3 * (1 + 63) + (1 + 61) + 1 = 255 octets on the wire.
  const std::string longest = l63 + "." + l63 + "." + l63 + "." + l61;
  DnsBytes query;
  query.header(4, 0, 1, 0).name(longest).question(1);
  EXPECT_EQ(run(query), Items{"DNS query id=0x0004 " + longest + " A"});
}

TEST_F(LTDnsTest, ManyRecordsAreCutWithAnEllipsis) {
  DnsBytes answer;
  answer.header(5, 0x8180, 1, 400).name("many.example").question(1);
  for (unsigned i = 0; i < 400; i++)
    answer.pointer(12).recordHead(1, 4).raw({10, 1, i >> 8, i & 0xFF});
  const Items items = run(answer);
  ASSERT_EQ(items.size(), 1u);
  const std::string &item = items[0];
  EXPECT_EQ(item.rfind("DNS answer id=0x0005 many.example A -> 10.1.0.0, 10.1.0.1, ", 0), 0u);
  EXPECT_EQ(item.substr(item.size() - 3), "...");
  EXPECT_LT(item.size(), 2048u);
  EXPECT_EQ(item.find("10.1.1.143"), std::string::npos); // the 400th record
}

TEST_F(LTDnsTest, OnlyIpv4UdpOnPort53IsHandled) {
  DnsBytes query;
  query.header(6, 0, 1, 0).name("example.com").question(1);
  const Items shown{"DNS query id=0x0006 example.com A"};
  EXPECT_EQ(run(query, {2048, 17, 53124, 53}), shown);
  EXPECT_EQ(run(query, {2048, 17, 53, 53124}), shown);
  EXPECT_EQ(run(query, {2048, 6, 53124, 53}), Items{});  // TCP
  EXPECT_EQ(run(query, {2048, 17, 53124, 54}), Items{}); // another port
  EXPECT_EQ(run(query, {2054, 17, 53124, 53}), Items{}); // ARP
  EXPECT_EQ(run(query, {0x86DD, 17, 53, 53}), Items{});  // IPv6
}

TEST_F(LTDnsTest, NotificationsAndOtherSizesWriteNothing) {
  handler_(VANTOR_NOTIFY_CAPSTAT, VANTOR_NOTIFY_SIZE, collectItem);
  handler_(VANTOR_NOTIFY_CAPSTOP, VANTOR_NOTIFY_SIZE, collectItem);
  EXPECT_TRUE(gItems.empty());

  // A record of the wrong size is not read as a packet, even one that would print.
  DnsBytes query;
  query.header(6, 0, 1, 0).name("example.com").question(1);
  std::vector<uint8_t> payload(query.bytes());
  payload.push_back(0);
  unsigned char record[sizeof(TFilterPacket) + 8] = {};
  TFilterPacket packet{};
  packet.EtherType = 2048;
  packet.IpProto = 17;
  packet.SrcPort = 53;
  packet.PayloadLen = static_cast<int32_t>(query.size());
  packet.Payload = payload.data();
  std::memcpy(record, &packet, sizeof packet);
  handler_(record, sizeof packet - 1, collectItem);
  handler_(record, sizeof packet + 1, collectItem);
  EXPECT_TRUE(gItems.empty());
  handler_(record, sizeof packet, collectItem);
  EXPECT_EQ(gItems, Items{"DNS query id=0x0006 example.com A"});
}

TEST_F(LTDnsTest, MalformedMessagesGiveOneItem) {
  const std::string l63(63, 'a');
  struct Case {
    const char *what;
    DnsBytes message;
  };
  std::vector<Case> cases;
  auto add = [&](const char *what) -> DnsBytes & {
    cases.push_back({what, DnsBytes()});
    return cases.back().message;
  };
  add("truncated header").raw({0x1A, 0x2B, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0});
  add("pointer to itself").header(1, 0, 1, 0).pointer(12).question(1);
  add("two pointers in a loop")
      .header(1, 0, 2, 0)
      .label("a")
      .pointer(20)
      .question(1)
      .label("b")
      .pointer(12)
      .question(1);
  add("pointer beyond the message").header(1, 0, 1, 0).pointer(0x3FFF).question(1);
  add("pointer just past the end").header(1, 0, 1, 0).pointer(18).question(1);
  add("pointer cut in half").header(1, 0, 2, 0).name("a.b").question(1).u8(0xC0);
  add("label of 64").header(1, 0, 1, 0).label(std::string(64, 'x')).u8(0).question(1);
  add("reserved label type").header(1, 0, 1, 0).u8(0x80).u8(0).question(1);
  add("name of 256 octets")
      .header(1, 0, 1, 0)
      .name(l63 + "." + l63 + "." + l63 + "." + std::string(62, 'b'))
      .question(1);
  add("name grown by a pointer past 255 octets")
      .header(1, 0, 2, 0)
      .name(l63 + "." + l63 + "." + l63)
      .question(1) // 193 octets at 12
      .label(l63)
      .pointer(12)
      .question(1);
  add("label longer than the bytes").header(1, 0, 1, 0).u8(10).raw({'a', 'b', 'c', 'd', 'e'});
  add("name without its end").header(1, 0, 1, 0).label("abcdef");
  add("question without its type").header(1, 0, 1, 0).name("a.b").u8(0);
  add("more questions than bytes").header(1, 0, 3, 0).name("a.b").question(1);
  add("answer count far too large").header(1, 0x8180, 1, 0xFFFF).name("a.b").question(1);
  add("authority count too large").header(1, 0x8180, 0, 0, 2).u8(0).recordHead(2, 0);
  add("additional record cut").header(1, 0, 0, 0, 0, 1).u8(0).recordHead(41, 10).raw({1, 2});
  add("answer data cut")
      .header(1, 0x8180, 1, 1)
      .name("a.b")
      .question(1)
      .pointer(12)
      .recordHead(1, 4)
      .raw({1, 2});
  add("A record of 6 bytes")
      .header(1, 0x8180, 1, 1)
      .name("a.b")
      .question(1)
      .pointer(12)
      .recordHead(1, 6)
      .raw({1, 2, 3, 4, 5, 6});

  for (const Case &c : cases)
    EXPECT_EQ(run(c.message), kMalformed) << c.what;
}

TEST_F(LTDnsTest, OnlyPayloadLenBytesAreRead) {
  DnsBytes query;
  query.header(8, 0, 1, 0).name("example.com").question(1);
  const std::vector<uint8_t> &bytes = query.bytes();
  const int32_t whole = static_cast<int32_t>(bytes.size());
  EXPECT_EQ(run(bytes, whole), Items{"DNS query id=0x0008 example.com A"});
  // The bytes past PayloadLen are present in the buffer but not part of the message.
  EXPECT_EQ(run(bytes, whole - 1), kMalformed);
  EXPECT_EQ(run(bytes, 12), kMalformed); // the header alone still claims a question
}

TEST_F(LTDnsTest, EmptyOrNegativePayloadIsMalformed) {
  for (int32_t payloadLen : {0, -1, INT32_MIN})
    EXPECT_EQ(run(std::vector<uint8_t>{}, payloadLen), kMalformed) << payloadLen;
}

} // namespace
