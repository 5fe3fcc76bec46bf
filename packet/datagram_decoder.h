#pragma once

#include "packet/packet_info.h"

#include <cstdint>
#include <span>

// The decoding both capture engines share for one IPv4 datagram.

// Header length in bytes from the first byte of an IPv4 header (0 to 60,
// used unchanged even below 20).
int32_t IpHeaderLen(std::span<const uint8_t> ipHeader) noexcept;
// Data offset in bytes from byte 12 of a TCP header (0 to 60).
int32_t TcpHeaderLen(std::span<const uint8_t> tcpHeader) noexcept;

// Copies the source and destination addresses and the protocol number; an
// engine needs them before it decides whether to drop or count the datagram.
void DecodeAddresses(TPacketInfo &info, std::span<const uint8_t> datagram) noexcept;

// Ports, TCP flag word, ICMP type, payload length and payload copy.
// `datagram` holds the bytes actually present; `limit` is the engine's limit
// (the raw engine's buffer size, or the frame length on the wire minus 14).
// Nothing is ever read past the bytes present: when the payload is copied the
// limit is also capped by them, so Payload is empty or exactly PayloadLen
// bytes of received data. With `ignoreData` the length is measured against
// `limit` alone and nothing is copied.
void DecodeTransport(TPacketInfo &info, std::span<const uint8_t> datagram, int32_t limit,
                     bool ignoreData);

// Both of the above, for a datagram that is delivered.
inline void DecodeDatagram(TPacketInfo &info, std::span<const uint8_t> datagram, int32_t limit,
                           bool ignoreData) {
  DecodeAddresses(info, datagram);
  DecodeTransport(info, datagram, limit, ignoreData);
}
