#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// One record of a capture file a test writes.
struct PcapRecord {
  uint32_t seconds = 0;
  uint32_t microseconds = 0;
  std::vector<uint8_t> bytes; // the captured bytes
  uint32_t wireLen = 0;       // 0: as many as captured
};

// Writes the classic pcap format in host byte order: a 24-byte file header,
// then per record a 16-byte header and the captured bytes. False when the
// file cannot be written.
inline bool WritePcapFile(const std::string &path, uint32_t linkType,
                          const std::vector<PcapRecord> &records) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (!file)
    return false;
  bool ok = true;
  const auto put = [&](uint32_t value, size_t bytes) {
    ok = ok && std::fwrite(&value, bytes, 1, file) == 1;
  };
  put(0xA1B2C3D4, 4); // microsecond time stamps
  put(2, 2);
  put(4, 2);
  put(0, 4);     // time zone
  put(0, 4);     // accuracy
  put(65535, 4); // snap length
  put(linkType, 4);
  for (const PcapRecord &r : records) {
    put(r.seconds, 4);
    put(r.microseconds, 4);
    put(uint32_t(r.bytes.size()), 4);
    put(r.wireLen ? r.wireLen : uint32_t(r.bytes.size()), 4);
    ok = ok && std::fwrite(r.bytes.data(), 1, r.bytes.size(), file) == r.bytes.size();
  }
  return std::fclose(file) == 0 && ok;
}
