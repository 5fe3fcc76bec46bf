#include "capture/interface_lookup.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>
#include <string>

void IfAddrsDeleter::operator()(ifaddrs *list) const noexcept {
  if (list != nullptr)
    freeifaddrs(list);
}

int ReadInterfaceAddresses(IfAddrsList &list) {
  ifaddrs *head = nullptr;
  if (getifaddrs(&head) != 0)
    return errno;
  list.reset(head);
  return 0;
}

std::string_view BaseInterfaceName(std::string_view name) {
  // Linux refuses ':' in interface names, so the first one starts the label.
  return name.substr(0, name.find(':'));
}

unsigned InterfaceIndexOfAddress(uint32_t addr) {
  if (addr == 0) // what unparsable text turns into; no interface holds it
    return 0;
  IfAddrsList list;
  if (ReadInterfaceAddresses(list) != 0)
    return 0;
  for (const ifaddrs *entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
        entry->ifa_name == nullptr)
      continue;
    const auto *inet = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
    if (inet->sin_addr.s_addr != addr)
      continue;
    const std::string name(BaseInterfaceName(entry->ifa_name));
    if (const unsigned index = if_nametoindex(name.c_str()); index != 0)
      return index;
  }
  return 0;
}
