#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// An immutable, reference-counted byte buffer: copying it never copies the
// bytes, so every copy of a packet record shares one payload. The bytes are
// followed by one zero byte, so handlers may treat them as a C string.
class SharedBytes {
public:
  SharedBytes() noexcept = default;
  // Copies `bytes` into one new allocation.
  explicit SharedBytes(std::span<const uint8_t> bytes);
  SharedBytes(const SharedBytes &other) noexcept;
  SharedBytes(SharedBytes &&other) noexcept;
  SharedBytes &operator=(const SharedBytes &other) noexcept;
  SharedBytes &operator=(SharedBytes &&other) noexcept;
  ~SharedBytes();

  const uint8_t *data() const noexcept;
  size_t size() const noexcept { return block_ ? block_->size : 0; }
  bool empty() const noexcept { return size() == 0; }
  std::span<const uint8_t> bytes() const noexcept { return {data(), size()}; }
  std::string_view view() const noexcept {
    return {reinterpret_cast<const char *>(data()), size()};
  }
  // Never null: an empty buffer yields a lone zero byte.
  const char *c_str() const noexcept { return reinterpret_cast<const char *>(data()); }
  // Number of records sharing these bytes (0 when empty); for tests.
  long useCount() const noexcept;

private:
  struct Block {
    std::atomic<long> refs;
    size_t size;
    uint8_t bytes[1]; // `size` bytes and the terminating zero
  };
  void release() noexcept;
  Block *block_ = nullptr;
};
