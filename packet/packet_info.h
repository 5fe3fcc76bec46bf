#pragma once

#include "packet/date_time.h"
#include "packet/shared_bytes.h"

#include <array>
#include <cstdint>
#include <functional>

// One decoded packet, as both capture engines deliver it. A plain value:
// copies share the payload bytes.
struct TPacketInfo {
  int32_t FrameLen = 0;            // length as an Ethernet frame (raw engine: datagram + 14)
  uint16_t EtherType = 0;          // host byte order
  std::array<uint8_t, 6> SrcMac{}; // wire order; zero from the raw engine
  std::array<uint8_t, 6> DstMac{};
  uint32_t SrcAddr = 0; // network byte order: first octet in the lowest byte
  uint32_t DstAddr = 0;
  int32_t SrcPort = 0; // TCP/UDP only, host byte order
  int32_t DstPort = 0;
  uint8_t IpProto = 0;
  uint16_t TcpFlagWord = 0; // TCP header bytes 12-13, host byte order
  bool IsSend = false;      // the packet left this host
  uint8_t IcmpMsgType = 0;
  int32_t PayloadLen = 0; // may be negative for a lying header
  SharedBytes Payload;    // empty, or exactly PayloadLen bytes
  TDateTime CaptureTime = 0;
};

// Base of the capture components, so a receiver knows which engine sent a packet.
class TPacketSource {
public:
  virtual ~TPacketSource() = default;
};

// Delivery of one packet. The record lives only for the call; a receiver
// that keeps it takes a copy.
using TPacketEvent = std::function<void(TPacketSource &Sender, const TPacketInfo &PacketInfo)>;

inline constexpr uint16_t kEtherTypeIPv4 = 0x0800;
inline constexpr int kEthernetHeaderLen = 14;
inline constexpr uint8_t kProtoIcmp = 1;
inline constexpr uint8_t kProtoTcp = 6;
inline constexpr uint8_t kProtoUdp = 17;
