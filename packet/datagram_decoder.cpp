#include "packet/datagram_decoder.h"

#include "packet/byte_reader.h"

#include <algorithm>

namespace {
// RFC 791 section 3.1 offsets in the IPv4 header.
constexpr size_t kIpTotalLength = 2;
constexpr size_t kIpProtocol = 9;
constexpr size_t kIpSource = 12;
constexpr size_t kIpDestination = 16;
// RFC 9293 section 3.1 / RFC 768: ports lead both headers.
constexpr size_t kTcpFlagWord = 12;
constexpr int32_t kUdpHeaderLen = 8;
} // namespace

int32_t IpHeaderLen(std::span<const uint8_t> ipHeader) noexcept {
  return (ByteReader(ipHeader).u8(0) & 0x0F) * 4;
}

int32_t TcpHeaderLen(std::span<const uint8_t> tcpHeader) noexcept {
  return (ByteReader(tcpHeader).u8(kTcpFlagWord) >> 4) * 4;
}

void DecodeAddresses(TPacketInfo &info, std::span<const uint8_t> datagram) noexcept {
  ByteReader ip(datagram);
  info.SrcAddr = ip.rawAddr(kIpSource);
  info.DstAddr = ip.rawAddr(kIpDestination);
  info.IpProto = ip.u8(kIpProtocol);
}

void DecodeTransport(TPacketInfo &info, std::span<const uint8_t> datagram, int32_t limit,
                     bool ignoreData) {
  ByteReader ip(datagram);
  const int32_t h = IpHeaderLen(datagram);
  int32_t offset;
  switch (info.IpProto) {
  case kProtoIcmp:
    info.IcmpMsgType = ip.u8(h);
    offset = h;
    break;
  case kProtoTcp:
    info.SrcPort = ip.be16(h);
    info.DstPort = ip.be16(h + 2);
    info.TcpFlagWord = ip.be16(h + kTcpFlagWord);
    offset = h + TcpHeaderLen(ip.tail(h));
    break;
  case kProtoUdp:
    info.SrcPort = ip.be16(h);
    info.DstPort = ip.be16(h + 2);
    offset = h + kUdpHeaderLen;
    break;
  default:
    return;
  }
  const int32_t totalLength = ip.be16(kIpTotalLength);
  const int32_t present = int32_t(std::min<size_t>(datagram.size(), INT32_MAX));
  const int32_t effectiveLimit = ignoreData ? limit : std::min(limit, present);
  info.PayloadLen = std::min(totalLength, effectiveLimit) - offset;
  if (info.PayloadLen > 0 && !ignoreData)
    info.Payload = SharedBytes(datagram.subspan(size_t(offset), size_t(info.PayloadLen)));
}
