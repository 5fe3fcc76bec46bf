#pragma once

#include "packet/date_time.h"
#include "stats/find_list.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

// One conversation: this host's address, the other side's address, the
// service port (the ICMP type for ICMP) and the IP protocol, with what was
// seen of it.
struct TTrafficInfo {
  uint32_t LocalIP = 0;  // network byte order
  uint32_t RemoteIP = 0; // network byte order
  uint16_t Port = 0;
  uint16_t Protocol = 0;   // 1, 6 or 17
  std::string LocalHost;   // lower case; empty until a reverse lookup names it
  std::string RemoteHost;  // lower case; empty until a reverse lookup names it
  std::string ServiceName; // left empty by the table
  int64_t BytesSent = 0;
  int64_t BytesRecv = 0;
  int32_t PacketsSent = 0;
  int32_t PacketsRecv = 0;
  int32_t Lookups = 0; // reverse lookups started for either address, at most 6
  TDateTime FirstSeen = 0;
  TDateTime LastSeen = 0;
};

// One service (port and protocol), or the totals row.
struct TServiceInfo {
  uint16_t Port = 0;
  uint16_t Protocol = 0;
  std::string ServiceName;
  int32_t Hosts = 0; // conversations counted into the row
  int64_t BytesSent = 0;
  int64_t BytesRecv = 0;
  int32_t PacketsSent = 0;
  int32_t PacketsRecv = 0;
};

// The keys are compared as raw bytes: the addresses in network order sort as
// big-endian numbers, and Port and Protocol low byte first, which is their
// memory order only on a little-endian machine.
static_assert(std::endian::native == std::endian::little);
inline constexpr int32_t kTrafficKeyLen = 12;
inline constexpr int32_t kServiceKeyLen = 4;
static_assert(offsetof(TTrafficInfo, LocalIP) == 0 && offsetof(TTrafficInfo, RemoteIP) == 4 &&
              offsetof(TTrafficInfo, Port) == 8 && offsetof(TTrafficInfo, Protocol) == 10 &&
              offsetof(TTrafficInfo, LocalHost) >= size_t(kTrafficKeyLen));
static_assert(offsetof(TServiceInfo, Port) == 0 && offsetof(TServiceInfo, Protocol) == 2 &&
              offsetof(TServiceInfo, ServiceName) >= size_t(kServiceKeyLen));

// Compare functions for TFindList over the two key layouts above.
inline int CompareTrafficKeys(const void *a, const void *b) {
  return CompareBytes(a, b, kTrafficKeyLen);
}
inline int CompareServiceKeys(const void *a, const void *b) {
  return CompareBytes(a, b, kServiceKeyLen);
}
