// One tick of the main window with 10,000 conversations in the table: the
// summary and both lists brought up to date (texts, the models'
// announcements, the columns that follow their contents), the output queue
// exchanged, and the views' updates and repaint (the events pending after the
// tick processed once). Either 1,000 conversations got a packet since the
// last tick, or none (a quiet network still pays for recomputing every
// text). The packets go through the pipeline outside the timed part.
#include "pipeline/capture_pipeline.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <string>

namespace {

constexpr int32_t kConversations = 10000;
constexpr int32_t kServicePorts[] = {80, 443, 53, 22, 25, 110, 143, 993, 8080, 3306, 5432, 6379};

// A packet sent in conversation `n`: one local address, a distinct remote
// address per conversation, a dozen services.
TPacketInfo sentPacket(uint32_t n) {
  TPacketInfo p;
  p.EtherType = kEtherTypeIPv4;
  p.CaptureTime = 45000.0;
  p.IpProto = kProtoTcp;
  p.IsSend = true;
  p.SrcAddr = 0x0A01A8C0u; // 192.168.1.10
  p.DstAddr = 0x0Au | ((n >> 16) & 0xFFu) << 8 | ((n >> 8) & 0xFFu) << 16 | (n & 0xFFu) << 24;
  p.SrcPort = 40000 + int32_t(n % 20000);
  p.DstPort = kServicePorts[n % std::size(kServicePorts)];
  p.FrameLen = 60 + int32_t(n % 1400);
  return p;
}

// Counts the paints of a widget, to show that the timed part repaints.
class TPaintCounter : public QObject {
public:
  int64_t Paints = 0;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Paint)
      ++Paints;
    return QObject::eventFilter(watched, event);
  }
};

class TPacketSourceStub : public TPacketSource {};

// The window as a capture leaves it: a table of 10,000 conversations shown.
// The filter passes nothing, so the tick's Data View part stays empty and
// the figure is the statistics display's.
class TWindowUnderLoad {
public:
  TWindowUnderLoad() {
    window_.resize(1100, 800);
    window_.show();
    // Ticks come from the benchmark only.
    window_.findChild<QTimer *>("Timer1")->stop();
    window_.findChild<QTreeView *>("lstTraffic")->viewport()->installEventFilter(&paints_);
    window_.findChild<QTreeView *>("lstService")->viewport()->installEventFilter(&paints_);
    TCapturePipeline &pipeline = window_.Pipeline();
    TIPFilter nothing = pipeline.CurrentFilter;
    nothing.AllProto = 0;
    nothing.Protos.fill(255);
    pipeline.SelectFilter(nothing);
    for (uint32_t n = 0; n < uint32_t(kConversations); ++n)
      pipeline.PacketArrived(source_, sentPacket(n));
    pipeline.Capturing = true;
    Tick();
  }
  ~TWindowUnderLoad() { window_.Pipeline().Capturing = false; }

  void Tick() {
    window_.Timer1Timer();
    QCoreApplication::processEvents();
  }

  // One packet to each of `count` conversations spread over the whole list,
  // a different set on each call.
  void AddPackets(int32_t count) {
    const uint32_t stride = uint32_t(kConversations / count);
    for (int32_t k = 0; k < count; ++k)
      window_.Pipeline().PacketArrived(source_, sentPacket(uint32_t(k) * stride + round_ % stride));
    ++round_;
  }

  int64_t Paints() const { return paints_.Paints; }

private:
  TfrmMain window_;
  TPacketSourceStub source_;
  TPaintCounter paints_;
  uint32_t round_ = 0;
};

void BM_WindowTick(benchmark::State &state) {
  const auto changed = int32_t(state.range(0));
  TWindowUnderLoad window;
  const int64_t paintsBefore = window.Paints();
  for (auto _ : state) {
    if (changed > 0)
      window.AddPackets(changed);
    const auto start = std::chrono::steady_clock::now();
    window.Tick();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
  }
  state.counters["paints"] = benchmark::Counter(double(window.Paints() - paintsBefore),
                                                benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_WindowTick)
    ->ArgName("changed")
    ->Arg(1000)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The window reads and writes its settings: a folder of its own.
  char folder[] = "/tmp/vantor-bench-ui-XXXXXX";
  if (!mkdtemp(folder))
    return 1;
  setenv("APPDATA", folder, 1);
  int status = 0;
  {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
      status = 1;
    } else {
      benchmark::RunSpecifiedBenchmarks();
      benchmark::Shutdown();
    }
  }
  std::filesystem::remove_all(folder);
  return status;
}
