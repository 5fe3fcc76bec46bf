// Costs of RunFilter on the packet path: a passed TCP segment of 1460 bytes
// through "All Data" (announcement, header line, hex dump), and the three ways
// a packet is turned away or recognised early: the protocol test, the address
// test, and the return-pair look-up with 10,000 remembered pairs.
#include "filters/builtin_handlers.h"
#include "filters/handler_table.h"
#include "filters/ip_filter.h"
#include "filters/return_pairs.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

void discard(const char *text) {
  benchmark::DoNotOptimize(text);
}

uint32_t addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

struct Segment {
  std::vector<uint8_t> bytes;
  TFilterPacket packet{};
  explicit Segment(int32_t payloadLen) : bytes(size_t(payloadLen) + 1) {
    for (int32_t i = 0; i < payloadLen; ++i)
      bytes[size_t(i)] = uint8_t(i * 7);
    bytes.back() = 0;
    packet.FrameLen = 54 + payloadLen;
    packet.EtherType = 2048;
    packet.SrcAddr = addr(192, 168, 1, 20);
    packet.DstAddr = addr(93, 184, 216, 34);
    packet.SrcPort = 51234;
    packet.DstPort = 443;
    packet.IpProto = 6;
    packet.TcpFlagWord = 0x5018;
    packet.PayloadLen = payloadLen;
    packet.CaptureTime = 45000.5;
    packet.Payload = bytes.data();
  }
};

TIPFilter allData() {
  ClearFilterProcs();
  RegisterBuiltinHandlers();
  TIPFilter f;
  f.Name = "All Data";
  f.AllProto = -1;
  f.OutProc = discard;
  f.ProcCount = 2;
  int32_t index = 0;
  f.Procs[0] = {FindFilterProc("Internal", "FL_PrintStdHead", index), "Internal", "FL_PrintStdHead",
                ""};
  f.Procs[1] = {FindFilterProc("Internal", "FL_DumpMessage", index), "Internal", "FL_DumpMessage",
                ""};
  return f;
}

TIPFilter udpOnly() {
  TIPFilter f = allData();
  f.AllProto = 0;
  f.Protos.fill(255);
  f.Protos[0] = 17;
  return f;
}

void BM_AllDataTcp1460(benchmark::State &state) {
  TIPFilter f = allData();
  Segment s(1460);
  for (auto _ : state)
    benchmark::DoNotOptimize(RunFilter(f, s.packet));
}
BENCHMARK(BM_AllDataTcp1460);

void BM_RejectedByProtocol(benchmark::State &state) {
  TIPFilter f = udpOnly();
  Segment s(1460);
  for (auto _ : state) {
    benchmark::DoNotOptimize(RunFilter(f, s.packet));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RejectedByProtocol);

void BM_RejectedByAddress(benchmark::State &state) {
  TIPFilter f = allData();
  f.SIP = "192.168.1.21"; // one off the packet's source
  f.DIP = "93.184.216.34";
  Segment s(1460);
  for (auto _ : state) {
    benchmark::DoNotOptimize(RunFilter(f, s.packet));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RejectedByAddress);

// Same, but the source matches, so both conditions are compared.
void BM_RejectedByDestinationAddress(benchmark::State &state) {
  TIPFilter f = allData();
  f.SIP = "192.168.1.20";
  f.DIP = "93.184.216.35";
  Segment s(1460);
  for (auto _ : state) {
    benchmark::DoNotOptimize(RunFilter(f, s.packet));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RejectedByDestinationAddress);

// 10,000 remembered pairs; the filter passes nothing else (UDP only, SPort set),
// so a miss ends right after the return and protocol tests. A hit passes and
// runs an empty chain with the announcement, so the look-up alone is measured
// through TReturnPairs::Contains as RunFilter calls it.
TIPFilter withPairs() {
  TIPFilter f = udpOnly();
  f.ReturnPkg = 1;
  f.Returns = std::make_shared<TReturnPairs>();
  for (uint32_t i = 0; i < 10000; ++i)
    f.Returns->Remember(addr(10, uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)),
                        int32_t(1024 + i % 50000));
  return f;
}

void BM_ReturnTestMiss(benchmark::State &state) {
  TIPFilter f = withPairs();
  Segment s(1460); // TCP from 192.168.1.20:51234: not remembered, then rejected as TCP
  for (auto _ : state) {
    benchmark::DoNotOptimize(RunFilter(f, s.packet));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ReturnTestMiss);

void BM_ReturnTestHitLookup(benchmark::State &state) {
  TIPFilter f = withPairs();
  const TReturnPairs &pairs = *f.Returns;
  uint32_t i = 0;
  for (auto _ : state) {
    const uint32_t n = i++ % 10000;
    benchmark::DoNotOptimize(
        pairs.Contains(addr(10, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)), int32_t(1024 + n)));
  }
}
BENCHMARK(BM_ReturnTestHitLookup);

void BM_ReturnTestMissLookup(benchmark::State &state) {
  TIPFilter f = withPairs();
  const TReturnPairs &pairs = *f.Returns;
  uint32_t i = 0;
  for (auto _ : state) {
    const uint32_t n = i++ % 10000;
    benchmark::DoNotOptimize(
        pairs.Contains(addr(10, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)), int32_t(80)));
  }
}
BENCHMARK(BM_ReturnTestMissLookup);

// A whole return packet through RunFilter: look-up hit, announcement, no handlers.
void BM_ReturnPacketPassed(benchmark::State &state) {
  TIPFilter f = withPairs();
  f.Procs = {};
  f.ProcCount = 0;
  Segment s(100);
  s.packet.SrcAddr = addr(10, 0, 19, 136); // pair 5000
  s.packet.SrcPort = 1024 + 5000;
  for (auto _ : state)
    benchmark::DoNotOptimize(RunFilter(f, s.packet));
}
BENCHMARK(BM_ReturnPacketPassed);

} // namespace
