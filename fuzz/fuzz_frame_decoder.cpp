// Any record the driver might hand over: the frame decoder must never read
// past the captured bytes, and a delivered payload is empty or exactly
// PayloadLen bytes, never more than were captured.
//
// Input: byte 0 picks the link type, bytes 1-4 the length on the wire
// (big-endian, any value), byte 5 the options; the rest is the captured frame.
#include "capture/monitor_pcap.h"

#include <QCoreApplication>

#include <cstring>
#include <memory>

namespace {

constexpr int kLinkTypes[] = {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2};
constexpr std::array<uint8_t, 6> kAdapterMac{0x02, 0x00, 0x5E, 0x10, 0x00, 0x01};

// One monitor per link type, prepared once: preparing reads the time zone.
TMonitorPcap *monitors[3];
size_t capturedBytes = 0;
bool ignoreData = false;

void check(TPacketSource &, const TPacketInfo &info) {
  if (info.FrameLen <= 0)
    __builtin_trap();
  if (!info.Payload.empty() &&
      (ignoreData || int64_t(info.Payload.size()) != info.PayloadLen ||
       info.Payload.size() > capturedBytes))
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  new QCoreApplication(*argc, *argv); // the monitors' notifiers need one
  for (size_t i = 0; i < 3; ++i) {
    monitors[i] = new TMonitorPcap;
    monitors[i]->AddrMask = "255.255.255.0";
    monitors[i]->PrepareDecoder(kLinkTypes[i], kAdapterMac);
    monitors[i]->OnPacketEvent = check;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 6)
    return 0;
  TMonitorPcap &monitor = *monitors[data[0] % 3];
  pcap_pkthdr header{};
  header.ts = {1200000000, 500000};
  header.len = uint32_t(data[1]) << 24 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 8 | data[4];
  ignoreData = data[5] & 1;
  monitor.IgnoreData = ignoreData;
  monitor.IgnoreNonIP = data[5] & 2;
  monitor.IgnoreLAN = data[5] & 4;
  // A block of exactly the captured size, so ASan sees any read past it.
  capturedBytes = size - 6;
  header.caplen = uint32_t(capturedBytes);
  std::unique_ptr<uint8_t[]> frame(new uint8_t[capturedBytes]);
  std::memcpy(frame.get(), data + 6, capturedBytes);
  monitor.HandleFrame(header, frame.get());
  return 0;
}
