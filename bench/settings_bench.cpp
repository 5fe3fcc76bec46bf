// Cost of a ReadString that finds its key at the end of a language store of
// 60 entries: the worst case of the lookups the main window's timer makes on
// every tick. Keys look like those of the interface texts, many of them of
// equal length and sharing long prefixes, so the case-insensitive comparison
// has to run into each key.
#include "settings/file_config.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace {

constexpr const char *kControls[] = {
    "btStart",    "btStop",     "btClear",   "btFilter",  "btAbout",   "btExit",
    "lbAdapter",  "lbFilter",   "lbPackets", "lbBytes",   "lbSent",    "lbReceived",
    "chkIgZero",  "chkResolve", "chkPorts",  "edAddress", "edMask",    "edPort",
    "gbProtocol", "gbAddress",  "rbTcp",     "rbUdp",     "rbIcmp",    "rbAll",
    "pnStatus",   "tmRefresh",  "cbAdapter", "cbFilter",  "lvTraffic", "lvServices"};

TFileConfig languageStore() {
  TFileConfig config;
  for (const char *form : {"fmMain", "fmFilter"})
    for (const char *control : kControls)
      if (config.Keys.size() < 60)
        config.WriteString(std::string(form) + "_" + control + "_Caption", "Some caption text");
  return config;
}

void readLast(benchmark::State &state, bool otherCase) {
  TFileConfig config = languageStore();
  std::string key = config.Keys.back();
  if (otherCase)
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
  const size_t size = config.Keys.size();
  for (auto _ : state) {
    std::string value = config.ReadString(key, "default");
    benchmark::DoNotOptimize(value);
  }
  if (config.Keys.size() != size || size != 60)
    state.SkipWithError("the key was not found among 60 entries");
  state.counters["keys"] = double(size);
}

void BM_ReadStringLastKey(benchmark::State &state) {
  readLast(state, false);
}
void BM_ReadStringLastKeyOtherCase(benchmark::State &state) {
  readLast(state, true);
}

BENCHMARK(BM_ReadStringLastKey);
BENCHMARK(BM_ReadStringLastKeyOtherCase);

} // namespace
