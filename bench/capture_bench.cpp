// The driver engine's per-record cost: one 64-byte Ethernet/IPv4/UDP frame
// through the frame decoder, counted only, and delivered to a receiver that
// keeps a copy of the record (payload copies on).
#include "capture/monitor_pcap.h"

#include "tests/support/datagram_builder.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

constexpr std::array<uint8_t, 6> kOurMac{0x02, 0x00, 0x5E, 0x10, 0x00, 0x01};
constexpr std::array<uint8_t, 6> kOtherMac{0x02, 0x00, 0x5E, 0x10, 0x00, 0x02};

// The monitor's end-of-thread notifier wants an application object.
void ensureApplication() {
  static int argc = 1;
  static char name[] = "bench_capture";
  static char *argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
}

std::vector<uint8_t> frame64() {
  DatagramShape layout;
  layout.protocol = 17;
  layout.payload = Filled(22, 'a'); // 14 + 20 + 8 + 22 = 64 bytes
  const auto datagram = BuildDatagram(layout);
  std::vector<uint8_t> frame(kOurMac.begin(), kOurMac.end());
  frame.insert(frame.end(), kOtherMac.begin(), kOtherMac.end());
  frame.push_back(0x08);
  frame.push_back(0x00);
  frame.insert(frame.end(), datagram.begin(), datagram.end());
  return frame;
}

void runFrames(benchmark::State &state, TMonitorPcap &monitor) {
  const auto frame = frame64();
  pcap_pkthdr header{};
  header.ts = {1200000000, 500000};
  header.caplen = header.len = uint32_t(frame.size());
  monitor.PrepareDecoder(DLT_EN10MB, kOurMac);
  for (auto _ : state)
    monitor.HandleFrame(header, frame.data());
  benchmark::DoNotOptimize(monitor.TotRecvBytes());
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(std::to_string(frame.size()) + "-byte frames");
}

void BM_HandleFrameNoReceiver(benchmark::State &state) {
  ensureApplication();
  TMonitorPcap monitor;
  runFrames(state, monitor);
}
BENCHMARK(BM_HandleFrameNoReceiver);

void BM_HandleFrameCopyingReceiver(benchmark::State &state) {
  ensureApplication();
  TMonitorPcap monitor;
  TPacketInfo kept;
  monitor.OnPacketEvent = [&kept](TPacketSource &, const TPacketInfo &info) { kept = info; };
  runFrames(state, monitor);
  if (kept.Payload.size() != 22)
    state.SkipWithError("the payload was not copied");
}
BENCHMARK(BM_HandleFrameCopyingReceiver);

} // namespace
