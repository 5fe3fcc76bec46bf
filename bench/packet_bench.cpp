// Costs on the per-packet path: decoding a datagram, naming its ports, and
// the hex dump the default filter writes for every packet.
#include "packet/datagram_decoder.h"
#include "packet/names.h"
#include "packet/text_format.h"

#include "tests/support/datagram_builder.h"

#include <benchmark/benchmark.h>

namespace {

void BM_DecodeTcp60NoPayload(benchmark::State &state) {
  DatagramShape shape;
  shape.tcpDataWords = 10; // 40-byte TCP header with options: a 60-byte datagram
  shape.tcpFlags = 0x02;
  const auto d = BuildDatagram(shape);
  for (auto _ : state) {
    TPacketInfo info;
    DecodeDatagram(info, d, 2001, false);
    benchmark::DoNotOptimize(info);
  }
  state.SetLabel(std::to_string(d.size()) + " bytes");
}
BENCHMARK(BM_DecodeTcp60NoPayload);

void BM_DecodeTcp1500WithPayloadCopy(benchmark::State &state) {
  DatagramShape shape;
  shape.payload = Filled(1460);
  const auto d = BuildDatagram(shape);
  for (auto _ : state) {
    TPacketInfo info;
    DecodeDatagram(info, d, 2001, false);
    benchmark::DoNotOptimize(info.Payload.data());
  }
  state.SetLabel(std::to_string(d.size()) + " bytes");
}
BENCHMARK(BM_DecodeTcp1500WithPayloadCopy);

void BM_HexDumpText1460(benchmark::State &state) {
  const auto payload = Filled(1460);
  for (auto _ : state)
    benchmark::DoNotOptimize(HexDumpText(payload.data(), int32_t(payload.size())));
}
BENCHMARK(BM_HexDumpText1460);

void BM_PortName(benchmark::State &state) {
  const int32_t ports[] = {80, 443, 8080, 53, 51515, 3306, 0, 22};
  benchmark::DoNotOptimize(PortName(80)); // the one-time "ports.txt" look-up
  size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(PortName(ports[i++ & 7]));
}
BENCHMARK(BM_PortName);

void BM_PortPairName(benchmark::State &state) {
  const int32_t pairs[][2] = {{51515, 443}, {80, 50000}, {1025, 6000}, {53, 33000},
                              {5000, 6000}, {443, 80},   {22, 40000},  {40000, 3306}};
  benchmark::DoNotOptimize(PortPairName(80, 443));
  size_t i = 0;
  for (auto _ : state) {
    const auto &p = pairs[i++ & 7];
    benchmark::DoNotOptimize(PortPairName(p[0], p[1]));
  }
}
BENCHMARK(BM_PortPairName);

} // namespace
