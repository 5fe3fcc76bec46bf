#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The one way outside bytes are read. Every read is bounds-checked: a field
// that lies past the bytes present reads as 0, which callers treat as an
// expected case (a truncated capture), never as an error.
class ByteReader {
public:
  explicit constexpr ByteReader(std::span<const uint8_t> bytes) noexcept : bytes_(bytes) {}

  constexpr size_t size() const noexcept { return bytes_.size(); }
  constexpr bool has(size_t offset, size_t count) const noexcept {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }
  constexpr uint8_t u8(size_t offset) const noexcept {
    return offset < bytes_.size() ? bytes_[offset] : 0;
  }
  constexpr uint16_t be16(size_t offset) const noexcept {
    return has(offset, 2) ? uint16_t(bytes_[offset] << 8 | bytes_[offset + 1]) : 0;
  }
  constexpr uint32_t be32(size_t offset) const noexcept {
    return has(offset, 4) ? uint32_t(bytes_[offset]) << 24 | uint32_t(bytes_[offset + 1]) << 16 |
                                uint32_t(bytes_[offset + 2]) << 8 | uint32_t(bytes_[offset + 3])
                          : 0;
  }
  constexpr uint32_t le32(size_t offset) const noexcept {
    return has(offset, 4)
               ? uint32_t(bytes_[offset]) | uint32_t(bytes_[offset + 1]) << 8 |
                     uint32_t(bytes_[offset + 2]) << 16 | uint32_t(bytes_[offset + 3]) << 24
               : 0;
  }
  // Four bytes kept in wire order: an IPv4 address in network byte order.
  uint32_t rawAddr(size_t offset) const noexcept;
  // Copies `count` bytes into `out`, or zero-fills `out` when they are not all present.
  void copy(size_t offset, uint8_t *out, size_t count) const noexcept;
  // The bytes from `offset` on, clipped to what is present.
  constexpr std::span<const uint8_t> tail(size_t offset) const noexcept {
    return offset < bytes_.size() ? bytes_.subspan(offset) : std::span<const uint8_t>{};
  }
  constexpr std::span<const uint8_t> bytes() const noexcept { return bytes_; }

private:
  std::span<const uint8_t> bytes_;
};
