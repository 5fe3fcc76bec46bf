#include "capture/adapters.h"

#include "capture/adapter_sources.h"
#include "capture/interface_lookup.h"
#include "packet/text_format.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

#include <algorithm>
#include <charconv>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int kMaxMacLength = 8;

struct LinkKind {
  uint32_t type; // ARPHRD_*
  const char *name;
};

// Words for the description; types not listed are shown by number.
constexpr LinkKind kLinkKinds[] = {
    {ARPHRD_ETHER, "Ethernet"},          {ARPHRD_LOOPBACK, "Loopback"},
    {ARPHRD_PPP, "Point-to-point"},      {ARPHRD_NONE, "Tunnel"},
    {ARPHRD_TUNNEL, "IPIP tunnel"},      {ARPHRD_TUNNEL6, "IPv6 tunnel"},
    {ARPHRD_SIT, "IPv6-in-IPv4 tunnel"}, {ARPHRD_IPGRE, "GRE tunnel"},
    {ARPHRD_IEEE80211, "Wireless"},      {ARPHRD_IEEE80211_RADIOTAP, "Wireless monitor"},
    {ARPHRD_INFINIBAND, "InfiniBand"},   {ARPHRD_IEEE802154, "IEEE 802.15.4"},
    {ARPHRD_VOID, "No link layer"},
};

std::string linkKindText(uint32_t type) {
  for (const LinkKind &kind : kLinkKinds)
    if (kind.type == type)
      return kind.name;
  return "link type " + std::to_string(type);
}

// Arrays start with room for two entries and double whenever they fill, so
// they may be longer than their count; the entries past it are empty.
constexpr size_t kFirstArrayLength = 2;

void appendEntry(std::vector<std::string> &array, int32_t &count, std::string text) {
  array[size_t(count)] = std::move(text);
  ++count;
  if (array.size() <= size_t(count))
    array.resize(size_t(count) * 2);
}

TAdaptorInfo emptyRow(std::string name) {
  TAdaptorInfo row;
  row.AdapterName = std::move(name);
  row.MacText = MacToText(nullptr, 0);
  row.CurrentAddress = kNoAddressText;
  row.CurrentMask = kNoAddressText;
  for (auto *array : {&row.Addresses, &row.Masks, &row.Gateways, &row.DhcpServers, &row.PrimaryWins,
                      &row.SecondaryWins, &row.DnsServers})
    array->resize(kFirstArrayLength);
  return row;
}

uint32_t inetAddress(const sockaddr *address) {
  if (address == nullptr || address->sa_family != AF_INET)
    return 0;
  return reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr;
}

// For an interface getifaddrs lists without its link entry.
uint32_t interfaceTypeFromSysfs(const std::string &name) {
  const std::string text = ReadTextFile("/sys/class/net/" + name + "/type");
  uint32_t type = 0;
  std::from_chars(text.data(), text.data() + text.size(), type);
  return type;
}

struct FoundInterface {
  TAdaptorInfo row;
  bool hasLinkEntry = false; // its AF_PACKET entry gave index, type and MAC
};

FoundInterface &interfaceNamed(std::vector<FoundInterface> &found, std::string_view name) {
  for (FoundInterface &entry : found)
    if (entry.row.AdapterName == name)
      return entry;
  found.push_back({emptyRow(std::string(name))});
  return found.back();
}

} // namespace

std::string MacToText(const uint8_t *address, int length) {
  if (address == nullptr || length <= 0)
    return "00-00-00-00-00-00";
  length = std::min(length, kMaxMacLength);
  std::string text;
  text.reserve(size_t(length) * 3);
  for (int i = 0; i < length; ++i) {
    if (i > 0)
      text += '-';
    text += kHexDigits[address[i] >> 4];
    text += kHexDigits[address[i] & 0x0F];
  }
  return text;
}

int32_t GetAdapterRows(int32_t &count, TAdaptorRows &rows) {
  IfAddrsList list;
  if (const int err = ReadInterfaceAddresses(list); err != 0)
    return err;

  std::vector<FoundInterface> found;
  for (const ifaddrs *entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_name == nullptr)
      continue;
    FoundInterface &interface = interfaceNamed(found, BaseInterfaceName(entry->ifa_name));
    TAdaptorInfo &row = interface.row;
    const int family = entry->ifa_addr != nullptr ? entry->ifa_addr->sa_family : AF_UNSPEC;
    if (family == AF_PACKET) {
      const auto *link = reinterpret_cast<const sockaddr_ll *>(entry->ifa_addr);
      row.IfIndex = uint32_t(link->sll_ifindex);
      row.IfType = link->sll_hatype;
      row.MacText = MacToText(link->sll_addr, link->sll_halen);
      interface.hasLinkEntry = true;
    } else if (family == AF_INET) {
      int32_t maskCount = row.AddressCount;
      appendEntry(row.Addresses, row.AddressCount, AddrToText(inetAddress(entry->ifa_addr)));
      appendEntry(row.Masks, maskCount, AddrToText(inetAddress(entry->ifa_netmask)));
      if (row.AddressCount == 1) {
        row.CurrentAddress = row.Addresses[0];
        row.CurrentMask = row.Masks[0];
      }
    }
  }

  const std::string routeText = ReadTextFile("/proc/net/route");
  const std::vector<std::string> dnsServers = ParseNameServers(ReadTextFile("/etc/resolv.conf"));
  TAdaptorRows result;
  result.reserve(found.size());
  for (FoundInterface &interface : found) {
    TAdaptorInfo &row = interface.row;
    if (!interface.hasLinkEntry) {
      row.IfIndex = if_nametoindex(row.AdapterName.c_str());
      row.IfType = interfaceTypeFromSysfs(row.AdapterName);
    }
    row.Description = row.AdapterName + " (" + linkKindText(row.IfType) + ")";
    for (std::string &gateway : ParseRouteGateways(routeText, row.AdapterName))
      appendEntry(row.Gateways, row.GatewayCount, std::move(gateway));
    for (const std::string &server : dnsServers)
      appendEntry(row.DnsServers, row.DnsServerCount, server);
    if (!dnsServers.empty())
      row.CurrentDnsServer = dnsServers.front();
    result.push_back(std::move(row));
  }

  std::stable_sort(result.begin(), result.end(), [](const TAdaptorInfo &a, const TAdaptorInfo &b) {
    return a.IfIndex < b.IfIndex;
  });
  count = int32_t(result.size());
  rows = std::move(result);
  return 0;
}
