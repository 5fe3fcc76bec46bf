#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

// Builds IPv4 datagrams (and Ethernet frames around them) byte by byte for
// tests, so every header field can be made to lie.
struct DatagramShape {
  uint8_t protocol = 6;
  uint8_t ipHeaderWords = 5; // IHL
  int totalLength = -1;      // -1: the true length
  std::vector<uint8_t> src{10, 0, 0, 2};
  std::vector<uint8_t> dst{10, 0, 0, 1};
  uint16_t srcPort = 1025;
  uint16_t dstPort = 80;
  uint8_t tcpDataWords = 5; // TCP data offset
  uint8_t tcpFlags = 0x18;
  uint8_t icmpType = 8;
  std::vector<uint8_t> payload;
};

inline void putBe16(std::vector<uint8_t> &out, size_t at, uint16_t value) {
  out[at] = uint8_t(value >> 8);
  out[at + 1] = uint8_t(value);
}

inline std::vector<uint8_t> BuildDatagram(const DatagramShape &shape) {
  // Header lengths below 20 still get the 20 bytes that hold the addresses.
  const size_t ipLen = std::max<size_t>(20, size_t(shape.ipHeaderWords) * 4);
  std::vector<uint8_t> d(ipLen, 0);
  d[0] = uint8_t(0x40 | (shape.ipHeaderWords & 0x0F));
  d[8] = 64;
  d[9] = shape.protocol;
  for (int i = 0; i < 4; ++i) {
    d[12 + i] = shape.src[i];
    d[16 + i] = shape.dst[i];
  }
  std::vector<uint8_t> transport;
  switch (shape.protocol) {
  case 6: {
    const size_t tcpLen = std::max<size_t>(20, size_t(shape.tcpDataWords) * 4);
    transport.assign(tcpLen, 0);
    putBe16(transport, 0, shape.srcPort);
    putBe16(transport, 2, shape.dstPort);
    transport[12] = uint8_t(shape.tcpDataWords << 4);
    transport[13] = shape.tcpFlags;
    break;
  }
  case 17:
    transport.assign(8, 0);
    putBe16(transport, 0, shape.srcPort);
    putBe16(transport, 2, shape.dstPort);
    break;
  case 1:
    transport.assign(8, 0);
    transport[0] = shape.icmpType;
    break;
  default:
    break;
  }
  d.insert(d.end(), transport.begin(), transport.end());
  d.insert(d.end(), shape.payload.begin(), shape.payload.end());
  putBe16(d, 2, uint16_t(shape.totalLength < 0 ? d.size() : size_t(shape.totalLength)));
  return d;
}

inline std::vector<uint8_t> BytesOf(std::string_view text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<uint8_t> Filled(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> out(count);
  for (size_t i = 0; i < count; ++i)
    out[i] = uint8_t(first + i);
  return out;
}

// An Ethernet II frame around `body`.
inline std::vector<uint8_t> EthernetFrame(const std::array<uint8_t, 6> &dst,
                                          const std::array<uint8_t, 6> &src, uint16_t etherType,
                                          const std::vector<uint8_t> &body) {
  std::vector<uint8_t> frame(dst.begin(), dst.end());
  frame.insert(frame.end(), src.begin(), src.end());
  frame.push_back(uint8_t(etherType >> 8));
  frame.push_back(uint8_t(etherType));
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}
