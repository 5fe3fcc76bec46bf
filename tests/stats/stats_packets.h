#pragma once

#include "packet/packet_info.h"
#include "packet/text_format.h"

#include <cstdint>
#include <string_view>

// Packet records as the capture engines deliver them, for the table's tests.

inline uint32_t Ip(std::string_view dotted) {
  return TextToAddr(dotted);
}

// A TCP (or UDP) packet; `isSend`: it left this host.
inline TPacketInfo PortPacket(bool isSend, std::string_view src, int32_t srcPort,
                              std::string_view dst, int32_t dstPort, int32_t frameLen = 60,
                              uint8_t protocol = kProtoTcp, TDateTime captureTime = 1.0) {
  TPacketInfo p;
  p.FrameLen = frameLen;
  p.EtherType = kEtherTypeIPv4;
  p.SrcAddr = Ip(src);
  p.DstAddr = Ip(dst);
  p.SrcPort = srcPort;
  p.DstPort = dstPort;
  p.IpProto = protocol;
  p.IsSend = isSend;
  p.CaptureTime = captureTime;
  return p;
}

inline TPacketInfo IcmpPacket(bool isSend, std::string_view src, std::string_view dst, uint8_t type,
                              int32_t frameLen = 98, TDateTime captureTime = 1.0) {
  TPacketInfo p = PortPacket(isSend, src, 0, dst, 0, frameLen, kProtoIcmp, captureTime);
  p.IcmpMsgType = type;
  return p;
}

// A TCP packet sent from `local` to `remote` port `port`: one packet of that conversation.
inline TPacketInfo Conversation(std::string_view local, std::string_view remote,
                                int32_t port = 80) {
  return PortPacket(true, local, 40000, remote, port);
}
