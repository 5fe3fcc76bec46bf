#include "packet/byte_reader.h"

#include <cstring>

uint32_t ByteReader::rawAddr(size_t offset) const noexcept {
  uint32_t value = 0;
  if (has(offset, 4))
    std::memcpy(&value, bytes_.data() + offset, 4);
  return value;
}

void ByteReader::copy(size_t offset, uint8_t *out, size_t count) const noexcept {
  if (has(offset, count))
    std::memcpy(out, bytes_.data() + offset, count);
  else
    std::memset(out, 0, count);
}
