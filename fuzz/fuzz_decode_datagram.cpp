// Any bytes, any length, any limit: the decoder must never read past the
// bytes present, and the payload is empty or exactly PayloadLen bytes.
#include "packet/datagram_decoder.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3)
    return 0;
  const int32_t limit = int32_t(uint16_t(data[0] << 8 | data[1])) - 100; // also negative limits
  const bool ignoreData = data[2] & 1;
  // A private copy, so ASan sees any read past the end of the datagram.
  const size_t length = size - 3;
  auto *datagram = new uint8_t[length ? length : 1];
  std::memcpy(datagram, data + 3, length);
  TPacketInfo info;
  DecodeDatagram(info, std::span<const uint8_t>(datagram, length), limit, ignoreData);
  if (!info.Payload.empty()) {
    if (ignoreData || int64_t(info.Payload.size()) != info.PayloadLen ||
        info.Payload.size() > length)
      __builtin_trap();
  }
  delete[] datagram;
  return 0;
}
