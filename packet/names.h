#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Names for the numbers found in packet headers. Every lookup returns text
// and never fails; a number without a name gets a fixed fallback text.

struct TEtherProto {
  int32_t Number;
  std::string_view Name;
};
struct TIPProto {
  int32_t Number;
  std::string_view Name;
};
struct TWellKnownSvc {
  int32_t Number;
  std::string_view Name;
};

// The built-in tables. Their row order is part of their meaning: a port pair
// takes the name of whichever of its ports comes first in WellKnownSvcs.
extern const TEtherProto EtherProtos[14];
extern const TIPProto IPProtos[6];
extern const TWellKnownSvc WellKnownSvcs[46];

std::string EtherProtoName(uint16_t etherType); // "IP", or four upper-case hex digits
std::string IPProtoName(int32_t protocol);      // "TCP", or the decimal number
std::string IcmpTypeName(uint16_t icmpType);    // "ECHO", or "UNKNOWN"
std::string PortName(int32_t port);             // "ports.txt", then the built-in table, else "<P>"
std::string PortPairName(int32_t srcPort, int32_t dstPort);
std::string TcpFlagsText(uint8_t flags); // "SYN ACK"
