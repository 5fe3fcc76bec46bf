#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Handlers write through a plain C callback without context, so the tests
// collect the items in one process-wide list.
inline std::vector<std::string> gItems;
inline void sink(const char *text) {
  gItems.emplace_back(text);
}

// An IPv4 address in network byte order from its four octets.
inline uint32_t addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}
