#include "stats/traffic_class.h"

#include "tests/stats/stats_packets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Expected {
  std::string local, remote;
  uint16_t port, protocol;
  int64_t bytesSent, bytesRecv;
  int32_t packetsSent, packetsRecv;
};

void expectConversation(const TTrafficInfo *entry, const Expected &e) {
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(AddrToText(entry->LocalIP), e.local);
  EXPECT_EQ(AddrToText(entry->RemoteIP), e.remote);
  EXPECT_EQ(entry->Port, e.port);
  EXPECT_EQ(entry->Protocol, e.protocol);
  EXPECT_EQ(entry->BytesSent, e.bytesSent);
  EXPECT_EQ(entry->BytesRecv, e.bytesRecv);
  EXPECT_EQ(entry->PacketsSent, e.packetsSent);
  EXPECT_EQ(entry->PacketsRecv, e.packetsRecv);
}

void addAll(TTrafficClass &table, const std::vector<TPacketInfo> &packets) {
  for (const TPacketInfo &p : packets) {
    table.AddPacket(p);
    table.UpdateServices();
  }
}

// ---- Which packets count, and which conversation they fall into ----------

TEST(TrafficClass, PacketsOtherThanIpv4IcmpTcpUdpChangeNothing) {
  TTrafficClass table;
  table.AddPacket(PortPacket(true, "192.168.1.10", 3000, "10.0.0.1", 80, 100));
  TPacketInfo ipv6 = PortPacket(true, "192.168.1.10", 3000, "10.0.0.1", 80, 500);
  ipv6.EtherType = 0x86DD;
  TPacketInfo arp = ipv6;
  arp.EtherType = 0x0806;
  const TPacketInfo igmp = PortPacket(true, "192.168.1.10", 0, "224.0.0.1", 0, 500, 2);
  const TPacketInfo rawIp = PortPacket(false, "10.0.0.1", 0, "192.168.1.10", 0, 500, 0);
  for (const TPacketInfo &p : {ipv6, arp, igmp, rawIp}) {
    table.AddPacket(p);
    table.UpdateServices();
    EXPECT_EQ(table.TotTraffic(), 1);
    EXPECT_EQ(table.TotService(), 2);
    TServiceInfo totals;
    table.GetTotals(totals);
    EXPECT_EQ(totals.BytesSent, 100);
    EXPECT_EQ(totals.PacketsSent, 1);
    EXPECT_EQ(table.GetService(0)->Hosts, 1);
  }
}

TEST(TrafficClass, KeyRules) {
  const char *me = "192.168.1.10";
  struct Case {
    const char *name;
    std::vector<TPacketInfo> packets;
    std::vector<Expected> conversations; // in key order
  };
  const Case cases[] = {
      {"a sent packet and its answer form one conversation",
       {PortPacket(true, me, 3000, "10.0.0.1", 80, 74),
        PortPacket(false, "10.0.0.1", 80, me, 3000, 1500)},
       {{me, "10.0.0.1", 80, 6, 74, 1500, 1, 1}}},
      {"a second connection from another local port joins it",
       {PortPacket(true, me, 3000, "10.0.0.1", 80, 74),
        PortPacket(true, me, 3001, "10.0.0.1", 80, 60)},
       {{me, "10.0.0.1", 80, 6, 134, 0, 2, 0}}},
      {"a client of this host's well-known port is named after that port",
       {PortPacket(false, "10.0.0.5", 40000, me, 80, 60)},
       {{me, "10.0.0.5", 80, 6, 0, 60, 0, 1}}},
      {"between two high ports the remote port names it both ways",
       {PortPacket(true, me, 5000, "10.0.0.1", 6000, 70),
        PortPacket(false, "10.0.0.1", 6000, me, 5000, 80)},
       {{me, "10.0.0.1", 6000, 6, 70, 80, 1, 1}}},
      {"between two low ports the remote port names it",
       {PortPacket(true, me, 80, "10.0.0.1", 443, 70),
        PortPacket(false, "10.0.0.1", 443, me, 80, 80)},
       {{me, "10.0.0.1", 443, 6, 70, 80, 1, 1}}},
      {"1024 is a high port, 1023 a low one",
       {PortPacket(true, me, 1023, "10.0.0.1", 1024, 10),
        PortPacket(true, me, 1024, "10.0.0.2", 1024, 20),
        PortPacket(true, me, 1024, "10.0.0.3", 1023, 30)},
       {{me, "10.0.0.1", 1023, 6, 10, 0, 1, 0},
        {me, "10.0.0.2", 1024, 6, 20, 0, 1, 0},
        {me, "10.0.0.3", 1023, 6, 30, 0, 1, 0}}},
      {"UDP follows the same port rule; TCP and UDP stay apart",
       {PortPacket(true, me, 53000, "8.8.8.8", 53, 70, kProtoUdp),
        PortPacket(false, "8.8.8.8", 53, me, 53000, 90, kProtoUdp),
        PortPacket(true, me, 53001, "8.8.8.8", 53, 75, kProtoTcp)},
       {{me, "8.8.8.8", 53, 6, 75, 0, 1, 0}, {me, "8.8.8.8", 53, 17, 70, 90, 1, 1}}},
      {"an echo request and its reply form one conversation of type 8; type 3 is another",
       {IcmpPacket(true, me, "10.0.0.1", 8, 98), IcmpPacket(false, "10.0.0.1", me, 0, 98),
        IcmpPacket(false, "10.0.0.1", me, 3, 70)},
       {{me, "10.0.0.1", 3, 1, 0, 70, 0, 1}, {me, "10.0.0.1", 8, 1, 98, 98, 1, 1}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TTrafficClass table;
    addAll(table, c.packets);
    ASSERT_EQ(table.TotTraffic(), int32_t(c.conversations.size()));
    for (size_t i = 0; i < c.conversations.size(); ++i)
      expectConversation(table.GetTraffic(int32_t(i)), c.conversations[i]);
  }
}

TEST(TrafficClass, FirstAndLastSeenComeFromTheCaptureTimes) {
  TTrafficClass table;
  table.AddPacket(PortPacket(true, "192.168.1.10", 3000, "10.0.0.1", 80, 60, kProtoTcp, 100.25));
  table.AddPacket(PortPacket(false, "10.0.0.1", 80, "192.168.1.10", 3000, 60, kProtoTcp, 100.5));
  const TTrafficInfo *entry = table.GetTraffic(0);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->FirstSeen, 100.25);
  EXPECT_EQ(entry->LastSeen, 100.5);
  EXPECT_EQ(entry->Lookups, 0);
  EXPECT_TRUE(entry->LocalHost.empty() && entry->RemoteHost.empty() && entry->ServiceName.empty());
}

TEST(TrafficClass, ConversationsAreListedInKeyOrder) {
  TTrafficClass table;
  // Created in scrambled order; listed by local address (as a big-endian
  // number), remote address, port low byte then high byte, protocol.
  addAll(table, {
                    PortPacket(true, "10.0.0.1", 40000, "1.1.1.1", 1, 60, kProtoTcp),
                    PortPacket(true, "10.0.0.1", 40000, "1.1.1.1", 256, 60, kProtoTcp),
                    PortPacket(true, "9.255.255.255", 40000, "1.1.1.1", 80, 60),
                    PortPacket(true, "10.0.0.1", 40000, "1.1.1.1", 1, 60, kProtoUdp),
                    IcmpPacket(true, "10.0.0.1", "1.1.1.1", 1),
                    PortPacket(true, "10.0.0.1", 40000, "1.0.0.255", 80, 60),
                    PortPacket(true, "10.0.0.1", 40000, "1.1.1.1", 512, 60, kProtoTcp),
                });
  const std::vector<std::tuple<std::string, std::string, uint16_t, uint16_t>> expected = {
      {"9.255.255.255", "1.1.1.1", 80, 6}, {"10.0.0.1", "1.0.0.255", 80, 6},
      {"10.0.0.1", "1.1.1.1", 256, 6},     {"10.0.0.1", "1.1.1.1", 512, 6},
      {"10.0.0.1", "1.1.1.1", 1, 1},       {"10.0.0.1", "1.1.1.1", 1, 6},
      {"10.0.0.1", "1.1.1.1", 1, 17},
  };
  ASSERT_EQ(table.TotTraffic(), int32_t(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    const TTrafficInfo *e = table.GetTraffic(int32_t(i));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(
        std::make_tuple(AddrToText(e->LocalIP), AddrToText(e->RemoteIP), e->Port, e->Protocol),
        expected[i])
        << "position " << i;
  }
}

TEST(TrafficClass, GrowthPast100And200KeepsEveryEntryInKeyOrder) {
  TTrafficClass table;
  std::vector<uint32_t> remotes;
  // Remote addresses in scrambled order; conversation i gets i % 4 + 1 packets.
  for (uint32_t i = 0; i < 300; ++i)
    remotes.push_back((i * 7919u) % 1000u);
  auto remoteText = [](uint32_t r) {
    return "10.0." + std::to_string(r / 256) + "." + std::to_string(r % 256);
  };
  auto add = [&](uint32_t i) {
    for (uint32_t k = 0; k <= i % 4; ++k)
      table.AddPacket(PortPacket(true, "192.168.1.10", 40000, remoteText(remotes[i]), 80, 100));
  };
  for (uint32_t i = 0; i < 100; ++i)
    add(i);
  ASSERT_EQ(table.TotTraffic(), 100);
  // Positions read before the 101st conversation shift where it sorts in.
  const TTrafficInfo *firstBefore = table.GetTraffic(0);
  ASSERT_NE(firstBefore, nullptr);
  const uint32_t firstRemote = firstBefore->RemoteIP;
  table.AddPacket(PortPacket(true, "192.168.1.10", 40000, "9.9.9.9", 80, 100));
  EXPECT_EQ(table.TotTraffic(), 101);
  EXPECT_EQ(AddrToText(table.GetTraffic(0)->RemoteIP), "9.9.9.9");
  EXPECT_EQ(table.GetTraffic(1)->RemoteIP, firstRemote);

  for (uint32_t i = 100; i < 300; ++i)
    add(i);
  ASSERT_EQ(table.TotTraffic(), 301);
  std::vector<const TTrafficInfo *> seen;
  for (int32_t i = 0; i < table.TotTraffic(); ++i)
    seen.push_back(table.GetTraffic(i));
  for (size_t i = 1; i < seen.size(); ++i)
    ASSERT_LT(CompareTrafficKeys(seen[i - 1], seen[i]), 0) << "position " << i;
  // Every pointer leads to its own live conversation with its own counts.
  for (uint32_t i = 0; i < 300; ++i) {
    const auto at = std::find_if(seen.begin(), seen.end(), [&](const TTrafficInfo *e) {
      return AddrToText(e->RemoteIP) == remoteText(remotes[i]);
    });
    ASSERT_NE(at, seen.end()) << remoteText(remotes[i]);
    EXPECT_EQ((*at)->PacketsSent, int32_t(i % 4 + 1));
    EXPECT_EQ((*at)->BytesSent, 100 * int64_t(i % 4 + 1));
  }
  EXPECT_EQ(table.GetService(0)->Hosts, 301);
}

// ---- Service rows, totals, the ends of the tables ------------------------

TEST(TrafficClass, ServiceRowsStandInTheOrderOfTheirFirstConversation) {
  struct Case {
    const char *name;
    std::vector<int32_t> remotePorts;               // one conversation each, to distinct hosts
    std::vector<std::pair<uint16_t, int32_t>> rows; // port, Hosts after the totals row
  };
  const Case cases[] = {
      {"port 80 first", {80, 80, 443}, {{80, 2}, {443, 1}}},
      {"port 443 first", {443, 80, 80}, {{443, 1}, {80, 2}}},
      {"interleaved", {8080, 22, 8080, 80, 22}, {{8080, 2}, {22, 2}, {80, 1}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TTrafficClass table;
    int host = 1;
    for (int32_t port : c.remotePorts) {
      const std::string remote = "10.0.0." + std::to_string(host);
      table.AddPacket(PortPacket(true, "192.168.1.10", 40000, remote, port, 10 * host));
      table.AddPacket(PortPacket(false, remote, port, "192.168.1.10", 40000, 100 * host));
      table.UpdateServices();
      ++host;
    }
    ASSERT_EQ(table.TotService(), int32_t(c.rows.size() + 1));
    const TServiceInfo *totals = table.GetService(0);
    EXPECT_EQ(totals->ServiceName, "TOTALS");
    EXPECT_EQ(totals->Port, 0);
    EXPECT_EQ(totals->Protocol, 0);
    EXPECT_EQ(totals->Hosts, int32_t(c.remotePorts.size()));
    int64_t sent = 0;
    for (size_t i = 0; i < c.rows.size(); ++i) {
      const TServiceInfo *row = table.GetService(int32_t(i + 1));
      ASSERT_NE(row, nullptr);
      EXPECT_EQ(row->Port, c.rows[i].first);
      EXPECT_EQ(row->Protocol, kProtoTcp);
      EXPECT_EQ(row->Hosts, c.rows[i].second);
      EXPECT_EQ(row->PacketsSent, row->Hosts);
      EXPECT_EQ(row->PacketsRecv, row->Hosts);
      EXPECT_TRUE(row->ServiceName.empty());
      EXPECT_EQ(row->BytesRecv, 10 * row->BytesSent);
      sent += row->BytesSent;
    }
    EXPECT_EQ(totals->BytesSent, sent);
    EXPECT_EQ(totals->BytesRecv, 10 * sent);
  }
}

TEST(TrafficClass, EndsOfTheTablesAndClear) {
  TTrafficClass table;
  TServiceInfo totals;
  totals.Hosts = 7;
  totals.ServiceName = "stale";
  table.GetTotals(totals);
  EXPECT_EQ(totals.BytesSent + totals.BytesRecv + totals.PacketsSent + totals.PacketsRecv, 0);
  EXPECT_EQ(totals.Hosts, 0);
  EXPECT_TRUE(totals.ServiceName.empty());
  EXPECT_EQ(table.TotService(), 0);
  EXPECT_EQ(table.GetTraffic(0), nullptr);
  EXPECT_EQ(table.GetService(0), nullptr);

  addAll(table, {Conversation("192.168.1.10", "10.0.0.1"), Conversation("192.168.1.10", "10.0.0.2"),
                 Conversation("192.168.1.10", "10.0.0.2", 443)});
  EXPECT_EQ(table.TotTraffic(), 3);
  EXPECT_EQ(table.TotService(), 3);
  EXPECT_NE(table.GetTraffic(2), nullptr);
  EXPECT_EQ(table.GetTraffic(3), nullptr);
  EXPECT_EQ(table.GetTraffic(-1), nullptr);
  EXPECT_NE(table.GetService(2), nullptr);
  EXPECT_EQ(table.GetService(3), nullptr);
  EXPECT_EQ(table.GetService(-1), nullptr);
  table.GetTotals(totals);
  EXPECT_EQ(totals.BytesSent, 180);
  EXPECT_EQ(totals.PacketsSent, 3);
  EXPECT_EQ(totals.Hosts, 0); // the totals row counts hosts, GetTotals does not
  EXPECT_TRUE(totals.ServiceName.empty());

  table.Clear();
  EXPECT_EQ(table.TotTraffic(), 0);
  EXPECT_EQ(table.TotService(), 0);
  EXPECT_EQ(table.GetTraffic(0), nullptr);
  table.GetTotals(totals);
  EXPECT_EQ(totals.BytesSent, 0);
  // A cleared table starts over: known keys are new again.
  addAll(table, {Conversation("192.168.1.10", "10.0.0.2", 443)});
  EXPECT_EQ(table.TotTraffic(), 1);
  EXPECT_EQ(table.GetTraffic(0)->PacketsSent, 1);
  EXPECT_EQ(table.GetService(0)->Hosts, 1);
  EXPECT_EQ(table.GetService(1)->Port, 443);
}

TEST(TrafficClass, ServiceNamesAreLowerCase) {
  struct Case {
    uint16_t protocol, port;
    const char *name;
  };
  const Case cases[] = {
      {kProtoTcp, 80, "http"},
      {kProtoUdp, 53, "dns"},
      {kProtoTcp, 51515, "<51515>"},
      {kProtoIcmp, 8, "echo"},
      {kProtoIcmp, 0, "echo_reply"},
      {kProtoIcmp, 3, "dest-unrea"},
      {kProtoIcmp, 200, "unknown"},
      {2, 80, ""},
      {0, 0, ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(TTrafficClass::GetServiceName(c.protocol, c.port), c.name)
        << int(c.protocol) << "/" << c.port;
}

// ---- Against a from-scratch model ----------------------------------------

// The table written the plain way: conversations in creation order and in a
// map by key order, service rows rebuilt from all conversations.
class ReferenceTable {
public:
  struct Entry {
    uint32_t local, remote;
    uint16_t port, protocol;
    int64_t bytesSent = 0, bytesRecv = 0;
    int32_t packetsSent = 0, packetsRecv = 0;
    double firstSeen = 0, lastSeen = 0;
  };

  void add(const TPacketInfo &p) {
    if (p.EtherType != 0x0800 || (p.IpProto != 1 && p.IpProto != 6 && p.IpProto != 17))
      return;
    Entry c{};
    c.protocol = p.IpProto;
    int32_t localPort;
    if (p.IsSend) {
      c.local = p.SrcAddr, c.remote = p.DstAddr, c.port = uint16_t(p.DstPort);
      localPort = p.SrcPort, c.bytesSent = p.FrameLen, c.packetsSent = 1;
    } else {
      c.local = p.DstAddr, c.remote = p.SrcAddr, c.port = uint16_t(p.SrcPort);
      localPort = p.DstPort, c.bytesRecv = p.FrameLen, c.packetsRecv = 1;
    }
    if (p.IpProto == 1)
      c.port = p.IcmpMsgType == 0 ? 8 : p.IcmpMsgType;
    else if (c.port >= 1024 && localPort < 1024)
      c.port = uint16_t(localPort);
    const auto [at, isNew] = byKey_.try_emplace(orderOf(c), entries_.size());
    if (isNew) {
      c.firstSeen = c.lastSeen = p.CaptureTime;
      entries_.push_back(c);
      return;
    }
    Entry &e = entries_[at->second];
    e.bytesSent += c.bytesSent, e.bytesRecv += c.bytesRecv;
    e.packetsSent += c.packetsSent, e.packetsRecv += c.packetsRecv;
    e.lastSeen = p.CaptureTime;
  }

  std::vector<Entry> inKeyOrder() const {
    std::vector<Entry> sorted;
    for (const auto &[key, index] : byKey_)
      sorted.push_back(entries_[index]);
    return sorted;
  }

  std::vector<TServiceInfo> rebuildServices() const {
    std::vector<TServiceInfo> rows;
    if (entries_.empty())
      return rows;
    rows.emplace_back().ServiceName = "TOTALS";
    std::map<std::pair<uint16_t, uint16_t>, size_t> rowOf;
    for (const Entry &e : entries_) {
      auto addTo = [&](TServiceInfo &row) {
        row.Hosts += 1;
        row.BytesSent += e.bytesSent, row.BytesRecv += e.bytesRecv;
        row.PacketsSent += e.packetsSent, row.PacketsRecv += e.packetsRecv;
      };
      addTo(rows[0]);
      const auto [at, isNew] = rowOf.try_emplace({e.port, e.protocol}, rows.size());
      if (isNew) {
        TServiceInfo &row = rows.emplace_back();
        row.Port = e.port;
        row.Protocol = e.protocol;
      }
      addTo(rows[at->second]);
    }
    return rows;
  }

private:
  // Addresses as big-endian numbers, port and protocol low byte first.
  using Order = std::tuple<uint32_t, uint32_t, uint16_t, uint16_t>;
  static Order orderOf(const Entry &e) {
    auto lowFirst = [](uint16_t v) { return uint16_t(v << 8 | v >> 8); };
    return {__builtin_bswap32(e.local), __builtin_bswap32(e.remote), lowFirst(e.port),
            lowFirst(e.protocol)};
  }

  std::vector<Entry> entries_; // creation order
  std::map<Order, size_t> byKey_;
};

testing::AssertionResult sameAsReference(TTrafficClass &table, const ReferenceTable &reference) {
  const auto conversations = reference.inKeyOrder();
  if (table.TotTraffic() != int32_t(conversations.size()))
    return testing::AssertionFailure()
           << "TotTraffic " << table.TotTraffic() << ", expected " << conversations.size();
  for (size_t i = 0; i < conversations.size(); ++i) {
    const auto &r = conversations[i];
    const TTrafficInfo *t = table.GetTraffic(int32_t(i));
    if (!t || t->LocalIP != r.local || t->RemoteIP != r.remote || t->Port != r.port ||
        t->Protocol != r.protocol || t->BytesSent != r.bytesSent || t->BytesRecv != r.bytesRecv ||
        t->PacketsSent != r.packetsSent || t->PacketsRecv != r.packetsRecv ||
        t->FirstSeen != r.firstSeen || t->LastSeen != r.lastSeen)
      return testing::AssertionFailure() << "conversation " << i << " differs";
  }
  if (table.GetTraffic(int32_t(conversations.size())) != nullptr)
    return testing::AssertionFailure() << "an entry past the end";

  const auto rows = reference.rebuildServices();
  if (table.TotService() != int32_t(rows.size()))
    return testing::AssertionFailure()
           << "TotService " << table.TotService() << ", expected " << rows.size();
  for (size_t i = 0; i < rows.size(); ++i) {
    const TServiceInfo &r = rows[i];
    const TServiceInfo *t = table.GetService(int32_t(i));
    if (!t || t->Port != r.Port || t->Protocol != r.Protocol || t->ServiceName != r.ServiceName ||
        t->Hosts != r.Hosts || t->BytesSent != r.BytesSent || t->BytesRecv != r.BytesRecv ||
        t->PacketsSent != r.PacketsSent || t->PacketsRecv != r.PacketsRecv)
      return testing::AssertionFailure() << "service row " << i << " differs";
  }
  if (table.GetService(int32_t(rows.size())) != nullptr)
    return testing::AssertionFailure() << "a service row past the end";

  TServiceInfo totals;
  table.GetTotals(totals);
  TServiceInfo expected;
  if (!rows.empty()) {
    expected.BytesSent = rows[0].BytesSent, expected.BytesRecv = rows[0].BytesRecv;
    expected.PacketsSent = rows[0].PacketsSent, expected.PacketsRecv = rows[0].PacketsRecv;
  }
  if (totals.BytesSent != expected.BytesSent || totals.BytesRecv != expected.BytesRecv ||
      totals.PacketsSent != expected.PacketsSent || totals.PacketsRecv != expected.PacketsRecv ||
      totals.Hosts != 0 || totals.Port != 0 || totals.Protocol != 0 || !totals.ServiceName.empty())
    return testing::AssertionFailure() << "GetTotals differs";
  return testing::AssertionSuccess();
}

TEST(TrafficClass, RandomPacketsMatchAFromScratchRebuildAfterEveryPacket) {
  std::mt19937 random(20240611);
  auto pick = [&](const auto &values) { return values[random() % std::size(values)]; };
  const char *locals[] = {"192.168.1.10", "10.1.2.3"};
  const char *remotes[] = {"10.0.0.1", "10.0.1.1", "8.8.8.8", "200.1.2.3", "0.0.0.0"};
  // Ports on both sides of 1024 and pairs whose low and high bytes sort apart.
  const int32_t ports[] = {0,    1,    22,   53,   80,   256,   443,   1023,  1024, 1025,
                           3000, 3001, 5000, 6000, 8080, 40000, 51515, 65535, 512,  768};
  const uint8_t protocols[] = {kProtoTcp, kProtoTcp, kProtoUdp, kProtoUdp, kProtoIcmp, 2};
  const uint8_t icmpTypes[] = {0, 8, 3, 11, 0, 8, 5};

  TTrafficClass table;
  ReferenceTable reference;
  // The second round shows that a cleared table starts over cleanly.
  for (const int packets : {3000, 1000}) {
    for (int n = 0; n < packets; ++n) {
      const bool send = random() % 2 == 0;
      const char *local = pick(locals);
      const char *remote = pick(remotes);
      TPacketInfo p = send ? PortPacket(true, local, pick(ports), remote, pick(ports))
                           : PortPacket(false, remote, pick(ports), local, pick(ports));
      p.IpProto = pick(protocols);
      p.IcmpMsgType = pick(icmpTypes);
      p.FrameLen = int32_t(random() % 1500);
      p.CaptureTime = 45000.0 + n / 86400.0;
      if (random() % 25 == 0)
        p.EtherType = 0x86DD;
      table.AddPacket(p);
      table.UpdateServices();
      reference.add(p);
      ASSERT_TRUE(sameAsReference(table, reference)) << "after packet " << n << " of " << packets;
    }
    EXPECT_GT(table.TotTraffic(), 300); // the storage has grown several times
    EXPECT_GT(table.TotService(), 33);  // so has the index of the service rows
    table.Clear();
    reference = ReferenceTable();
    ASSERT_TRUE(sameAsReference(table, reference));
  }
}

} // namespace
