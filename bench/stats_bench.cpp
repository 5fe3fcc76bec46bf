// Costs of the statistics table on the packet path: a packet of a known
// conversation as the packet handler counts it (AddPacket, then
// UpdateServices), with 100 to 100,000 conversations in the table; filling the
// table; and the memory one conversation takes.
#include "stats/traffic_class.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace {

constexpr uint8_t kProtocols[] = {kProtoTcp, kProtoUdp};
constexpr int32_t kServicePorts[] = {80, 443, 53, 22, 25, 110, 143, 993, 8080, 3306, 5432, 6379};

// One packet of conversation `n` (in either direction): a few local
// addresses, a distinct remote address per conversation, a dozen services.
void fillPacket(TPacketInfo &p, uint32_t n, bool isSend) {
  const uint32_t local = 0x0A00A8C0u | (n & 3u) << 16; // 192.168.n%4.10
  const uint32_t remote =
      0x0Au | ((n >> 16) & 0xFFu) << 8 | ((n >> 8) & 0xFFu) << 16 | (n & 0xFFu) << 24;
  const int32_t servicePort = kServicePorts[n % std::size(kServicePorts)];
  const int32_t clientPort = 40000 + int32_t(n % 20000);
  p.IpProto = kProtocols[(n / std::size(kServicePorts)) % 2];
  p.IsSend = isSend;
  p.SrcAddr = isSend ? local : remote;
  p.DstAddr = isSend ? remote : local;
  p.SrcPort = isSend ? clientPort : servicePort;
  p.DstPort = isSend ? servicePort : clientPort;
  p.FrameLen = 60 + int32_t(n % 1400);
  p.CaptureTime += 1e-9;
}

TPacketInfo basePacket() {
  TPacketInfo p;
  p.EtherType = kEtherTypeIPv4;
  p.CaptureTime = 45000.0;
  return p;
}

void fillTable(TTrafficClass &table, uint32_t conversations) {
  TPacketInfo p = basePacket();
  for (uint32_t n = 0; n < conversations; ++n) {
    fillPacket(p, n, true);
    table.AddPacket(p);
    table.UpdateServices();
  }
}

// Packets of known conversations in a pseudo-random order, drawn before the
// clock starts: conversation number times two, plus one when sent. Long
// enough to visit nearly every conversation of the largest table.
std::vector<uint32_t> knownPackets(uint32_t conversations) {
  std::mt19937 random(12345);
  std::vector<uint32_t> sequence(1u << 20);
  for (uint32_t &v : sequence)
    v = (random() % conversations) << 1 | (random() & 1u);
  return sequence;
}

template <bool kLocked> void BM_KnownConversationPacket(benchmark::State &state) {
  const auto conversations = uint32_t(state.range(0));
  TTrafficClass table;
  std::recursive_mutex statsLock;
  fillTable(table, conversations);
  const std::vector<uint32_t> sequence = knownPackets(conversations);
  const size_t mask = sequence.size() - 1;
  TPacketInfo p = basePacket();
  size_t i = 0;
  for (auto _ : state) {
    const uint32_t v = sequence[i++ & mask];
    fillPacket(p, v >> 1, (v & 1u) != 0);
    if constexpr (kLocked) {
      std::lock_guard guard(statsLock); // as the packet handler holds it
      table.AddPacket(p);
      table.UpdateServices();
    } else {
      table.AddPacket(p);
      table.UpdateServices();
    }
  }
  if (table.TotTraffic() != int32_t(conversations))
    state.SkipWithError("a packet made a new conversation");
  state.SetItemsProcessed(state.iterations());
  state.counters["services"] = table.TotService();
}
BENCHMARK(BM_KnownConversationPacket<true>)
    ->Name("BM_KnownConversationPacket/locked")
    ->Arg(100)
    ->Arg(10'000)
    ->Arg(100'000);
BENCHMARK(BM_KnownConversationPacket<false>)
    ->Name("BM_KnownConversationPacket/unlocked")
    ->Arg(100)
    ->Arg(10'000)
    ->Arg(100'000);

// Swallows every request, like a resolver that never answers: each new
// conversation then restarts the lookup pass while a request is pending.
class SilentResolver : public TReverseResolver {
public:
  void Lookup(const std::string &addressText) override { benchmark::DoNotOptimize(addressText); }
};

// Filling an empty table with new conversations, per conversation.
template <bool kLookups> void BM_NewConversations(benchmark::State &state) {
  const auto conversations = uint32_t(state.range(0));
  for (auto _ : state) {
    auto table =
        std::make_unique<TTrafficClass>(kLookups ? std::make_unique<SilentResolver>() : nullptr);
    fillTable(*table, conversations);
    benchmark::DoNotOptimize(table->TotTraffic());
    state.PauseTiming(); // not the freeing
    table.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * conversations);
}
BENCHMARK(BM_NewConversations<false>)
    ->Name("BM_NewConversations/no_lookups")
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewConversations<true>)
    ->Name("BM_NewConversations/lookups_pending")
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond);

// Bytes in use by the allocator (the heap and its separately mapped blocks).
size_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Heap bytes per conversation (host names empty): bytes in use before and
// after filling the table.
void BM_MemoryPerConversation(benchmark::State &state) {
  const auto conversations = uint32_t(state.range(0));
  double perConversation = 0;
  for (auto _ : state) {
    const size_t before = heapInUse();
    auto table = std::make_unique<TTrafficClass>();
    fillTable(*table, conversations);
    const size_t after = heapInUse();
    perConversation = double(after - before) / conversations;
    benchmark::DoNotOptimize(table->TotTraffic());
  }
  state.counters["bytes_per_conversation"] = perConversation;
}
BENCHMARK(BM_MemoryPerConversation)
    ->Arg(100)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
