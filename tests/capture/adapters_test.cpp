#include "capture/adapter_sources.h"
#include "capture/adapters.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace {

TEST(MacToText, JoinsUpperCaseHexPairs) {
  const uint8_t mac[10] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0xAB, 0xFF, 0x11, 0x22};
  struct Case {
    int length;
    const char *text;
  };
  const Case cases[] = {
      {6, "00-1A-2B-3C-4D-5E"},       {0, "00-00-00-00-00-00"},
      {-3, "00-00-00-00-00-00"},      {1, "00"},
      {8, "00-1A-2B-3C-4D-5E-AB-FF"}, {10, "00-1A-2B-3C-4D-5E-AB-FF"}, // at most 8 bytes
  };
  for (const Case &c : cases)
    EXPECT_EQ(MacToText(mac, c.length), c.text) << "length " << c.length;
}

TEST(ParseRouteGateways, TakesTheNonZeroGatewaysOfOneInterface) {
  // Columns as the kernel writes them: the address fields are the 32-bit
  // values of the network-order addresses (0102A8C0 is 192.168.2.1).
  const char *table =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
      "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
      "wlan0\t00000000\tFE01A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
      "eth0\t0000000A\t0102A8C0\t0003\t0\t0\t100\t000000FF\t0\t0\t0\n"
      "eth0\t0000100A\t0A0A0A0A\t0003\t0\t0\t100\t0000FFFF\t0\t0\t0\n"
      "eth0\t0000200A\tZZ0A0A0A\t0003\t0\t0\t100\t0000FFFF\t0\t0\t0\n"
      "eth0\t0000200A\n"
      "\n";
  EXPECT_EQ(ParseRouteGateways(table, "eth0"),
            (std::vector<std::string>{"192.168.2.1", "10.10.10.10"}));
  EXPECT_EQ(ParseRouteGateways(table, "wlan0"), std::vector<std::string>{"192.168.1.254"});
  EXPECT_TRUE(ParseRouteGateways(table, "eth").empty()) << "names match whole";
  EXPECT_TRUE(ParseRouteGateways(table, "lo").empty());
  EXPECT_TRUE(ParseRouteGateways("", "eth0").empty());
}

TEST(ParseNameServers, KeepsIpv4ServersInFileOrder) {
  const char *conf = "# nameserver 1.1.1.1 in a comment\n"
                     "search example.org\n"
                     "nameserver 192.168.1.1\n"
                     "nameserver fe80::1%eth0\n"
                     "nameserver\t8.8.8.8   # trailing words\r\n"
                     "nameserver 300.1.1.1\n"
                     "nameserver\n"
                     "options edns0\n"
                     "nameserver 9.9.9.9";
  EXPECT_EQ(ParseNameServers(conf),
            (std::vector<std::string>{"192.168.1.1", "8.8.8.8", "9.9.9.9"}));
  EXPECT_TRUE(ParseNameServers("").empty());
}

TEST(ReadTextFile, MissingFileGivesEmptyText) {
  EXPECT_EQ(ReadTextFile("/nonexistent/vantor/file"), "");
  EXPECT_NE(ReadTextFile("/proc/net/route").find("Iface"), std::string::npos)
      << "files that report size 0 are still read";
}

void expectArraysHoldTheirCounts(const TAdaptorInfo &row) {
  const std::pair<int32_t, const std::vector<std::string> *> arrays[] = {
      {row.AddressCount, &row.Addresses},
      {row.AddressCount, &row.Masks},
      {row.GatewayCount, &row.Gateways},
      {row.DhcpServerCount, &row.DhcpServers},
      {row.DnsServerCount, &row.DnsServers}};
  for (const auto &[count, array] : arrays) {
    EXPECT_GT(array->size(), size_t(count)) << row.AdapterName << ": room is kept past the count";
    EXPECT_GE(array->size(), 2u);
    for (size_t i = size_t(count); i < array->size(); ++i)
      EXPECT_EQ((*array)[i], "") << row.AdapterName;
  }
}

TEST(GetAdapterRows, ListsEveryInterfaceInIndexOrder) {
  int32_t count = -1;
  TAdaptorRows rows(7);
  ASSERT_EQ(GetAdapterRows(count, rows), 0);
  ASSERT_EQ(size_t(count), rows.size());
  ASSERT_GE(count, 1);
  for (size_t i = 0; i < rows.size(); ++i) {
    const TAdaptorInfo &row = rows[i];
    SCOPED_TRACE(row.AdapterName);
    EXPECT_EQ(row.IfIndex, if_nametoindex(row.AdapterName.c_str()));
    if (i > 0) {
      EXPECT_LT(rows[i - 1].IfIndex, row.IfIndex);
    }
    EXPECT_EQ(row.AdapterName.find(':'), std::string::npos) << "alias labels join their interface";
    expectArraysHoldTheirCounts(row);
    EXPECT_EQ(row.CurrentAddress, row.AddressCount > 0 ? row.Addresses[0] : kNoAddressText);
    EXPECT_EQ(row.CurrentMask, row.AddressCount > 0 ? row.Masks[0] : kNoAddressText);
    EXPECT_EQ(row.DnsServers, rows[0].DnsServers) << "one resolver list for the host";
    EXPECT_EQ(row.CurrentDnsServer, row.DnsServerCount > 0 ? row.DnsServers[0] : "");
  }

  const auto lo = std::find_if(rows.begin(), rows.end(),
                               [](const TAdaptorInfo &row) { return row.AdapterName == "lo"; });
  ASSERT_NE(lo, rows.end());
  EXPECT_EQ(lo->IfType, 772u);
  EXPECT_EQ(lo->Description, "lo (Loopback)");
  EXPECT_EQ(lo->MacText, "00-00-00-00-00-00");
  ASSERT_GE(lo->AddressCount, 1);
  EXPECT_EQ(lo->Addresses[0], "127.0.0.1");
  EXPECT_EQ(lo->Masks[0], "255.0.0.0");
  EXPECT_EQ(lo->CurrentAddress, "127.0.0.1");
}

// The adapters of a new network namespace, which holds only a "lo" that is
// down and has no address; `addresses` are then set on it as {label, address,
// mask}. The namespace is entered by a thread of its own and ends with it.
struct NamespaceAdapters {
  std::string failure; // why the namespace could not be set up
  int32_t result = -1;
  int32_t count = 0;
  TAdaptorRows rows;
};

struct LabelledAddress {
  const char *label, *address, *mask;
};

bool setAddress(int fd, const LabelledAddress &a, std::string &failure) {
  const std::pair<unsigned long, const char *> steps[] = {{SIOCSIFADDR, a.address},
                                                          {SIOCSIFNETMASK, a.mask}};
  for (const auto &[request, text] : steps) {
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, a.label, IFNAMSIZ - 1);
    sockaddr_in value{};
    value.sin_family = AF_INET;
    inet_pton(AF_INET, text, &value.sin_addr);
    std::memcpy(&ifr.ifr_addr, &value, sizeof value);
    if (ioctl(fd, request, &ifr) != 0) {
      failure = std::string("ioctl on ") + a.label + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

NamespaceAdapters adaptersInNewNamespace(std::vector<LabelledAddress> addresses) {
  NamespaceAdapters out;
  std::thread worker([&] {
    if (unshare(CLONE_NEWNET) != 0) {
      out.failure = std::string("unshare: ") + std::strerror(errno);
      return;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool ready = fd >= 0;
    for (const LabelledAddress &a : addresses)
      ready = ready && setAddress(fd, a, out.failure);
    if (fd >= 0)
      close(fd);
    if (ready)
      out.result = GetAdapterRows(out.count, out.rows);
  });
  worker.join();
  return out;
}

TEST(GetAdapterRows, InterfaceWithoutAddressShowsTheNoAddressText) {
  const NamespaceAdapters ns = adaptersInNewNamespace({});
  if (!ns.failure.empty())
    GTEST_SKIP() << "no network namespace: " << ns.failure;
  ASSERT_EQ(ns.result, 0);
  ASSERT_EQ(ns.count, 1);
  const TAdaptorInfo &lo = ns.rows[0];
  EXPECT_EQ(lo.AdapterName, "lo");
  EXPECT_EQ(lo.AddressCount, 0);
  EXPECT_EQ(lo.CurrentAddress, "  0.  0.  0.  0");
  EXPECT_EQ(lo.CurrentMask, "  0.  0.  0.  0");
  EXPECT_EQ(lo.Addresses, (std::vector<std::string>{"", ""}));
}

TEST(GetAdapterRows, AliasAddressesJoinTheirInterfaceInOrder) {
  const NamespaceAdapters ns = adaptersInNewNamespace({{"lo", "10.1.0.1", "255.255.0.0"},
                                                       {"lo:1", "10.2.0.1", "255.255.255.0"},
                                                       {"lo:2", "172.16.0.1", "255.240.0.0"}});
  if (!ns.failure.empty())
    GTEST_SKIP() << "no network namespace: " << ns.failure;
  ASSERT_EQ(ns.result, 0);
  ASSERT_EQ(ns.count, 1) << "labels are not interfaces of their own";
  const TAdaptorInfo &lo = ns.rows[0];
  EXPECT_EQ(lo.AddressCount, 3);
  EXPECT_EQ(lo.Addresses, (std::vector<std::string>{"10.1.0.1", "10.2.0.1", "172.16.0.1", ""}));
  EXPECT_EQ(lo.Masks,
            (std::vector<std::string>{"255.255.0.0", "255.255.255.0", "255.240.0.0", ""}));
  EXPECT_EQ(lo.CurrentAddress, "10.1.0.1");
  EXPECT_EQ(lo.CurrentMask, "255.255.0.0");
}

} // namespace
