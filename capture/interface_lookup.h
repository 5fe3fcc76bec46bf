#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

struct ifaddrs;

// The getifaddrs list, freed with the pointer.
struct IfAddrsDeleter {
  void operator()(ifaddrs *list) const noexcept;
};
using IfAddrsList = std::unique_ptr<ifaddrs, IfAddrsDeleter>;

// Reads the interface address list; returns 0, or the errno of getifaddrs.
int ReadInterfaceAddresses(IfAddrsList &list);

// "eth0:1" -> "eth0": address entries carry their alias label as the name,
// while the addresses belong to the interface itself.
std::string_view BaseInterfaceName(std::string_view name);

// Index of the interface that holds the IPv4 address `addr` (network byte
// order); 0 when no interface holds it or the list cannot be read.
unsigned InterfaceIndexOfAddress(uint32_t addr);
