// One tick of the main window with 10,000 conversations in the table: the
// summary and both lists brought up to date (texts, the models'
// announcements, the columns that follow their contents), the output queue
// exchanged, and the views' updates and repaint (the events pending after the
// tick processed once). Either 1,000 conversations got a packet since the
// last tick, or none (a quiet network still pays for recomputing every
// text). The packets go through the pipeline outside the timed part.
#include "filters/builtin_handlers.h"
#include "pipeline/capture_pipeline.h"
#include "pipeline/rtf_writer.h"
#include "ui/data_view_writer.h"
#include "ui/document_lines.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QEvent>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTimer>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

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

// Items as "All Data" writes them for a stream of packets: the handlers'
// own header line and hex dump around the filter's announcement, payloads of
// 0 to 1460 bytes.
std::vector<std::string> *collectedItems = nullptr;
void collectItem(const char *text) {
  collectedItems->push_back(text);
}

std::vector<std::string> dataViewItems(size_t count) {
  std::vector<std::string> items;
  collectedItems = &items;
  std::vector<uint8_t> payload(1460);
  for (size_t i = 0; i < payload.size(); ++i)
    payload[i] = uint8_t(i * 7 + 13);
  for (uint32_t n = 0; items.size() < count; ++n) {
    TFilterPacket packet{};
    packet.FrameLen = 60 + int32_t(n % 1400);
    packet.EtherType = kEtherTypeIPv4;
    packet.SrcAddr = 0x0A01A8C0u;
    packet.DstAddr = 0x0100000Au + (n << 24);
    packet.SrcPort = 40000;
    packet.DstPort = 80;
    packet.IpProto = kProtoTcp;
    packet.IsSend = 1;
    packet.PayloadLen = int32_t((n * 389) % 1461);
    packet.CaptureTime = 45000.5;
    packet.Payload = payload.data();
    collectItem(" ");
    collectItem("<C>12632256");
    collectItem("20261211-12:00:00.000 - TCP Package Got");
    FL_PrintStdHead(&packet, int32_t(sizeof packet), collectItem);
    FL_DumpMessage(&packet, int32_t(sizeof packet), collectItem);
  }
  items.resize(count);
  collectedItems = nullptr;
  return items;
}

// One tick's flush of 10,000 items into a shown Data View, layout and paint
// included.
void BM_DataViewFlush(benchmark::State &state) {
  const std::vector<std::string> items = dataViewItems(size_t(state.range(0)));
  QPlainTextEdit view;
  view.setReadOnly(true);
  view.setUndoRedoEnabled(false);
  view.setLineWrapMode(QPlainTextEdit::NoWrap);
  view.resize(1000, 600);
  view.show();
  TDataViewWriter writer(&view);
  for (auto _ : state) {
    view.clear();
    QCoreApplication::processEvents();
    const auto start = std::chrono::steady_clock::now();
    writer.Flush(items);
    QCoreApplication::processEvents();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
  }
  state.counters["lines"] = double(TDocumentLines(*view.document()).LineCount());
}
BENCHMARK(BM_DataViewFlush)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

// Saving a Data View of 100,000 lines as RTF, from the document itself.
void BM_SaveDataViewAsRtf(benchmark::State &state) {
  QPlainTextEdit view;
  TDataViewWriter writer(&view);
  const std::vector<std::string> items = dataViewItems(1500);
  while (TDocumentLines(*view.document()).LineCount() < size_t(state.range(0)))
    writer.Flush(items);
  const std::string path = std::string(getenv("APPDATA")) + "/view.rtf";
  for (auto _ : state) {
    std::string error;
    if (!SaveRtf(path, TDocumentLines(*view.document()), error))
      state.SkipWithError(error.c_str());
  }
  state.counters["lines"] = double(TDocumentLines(*view.document()).LineCount());
  state.counters["MiB"] = double(std::filesystem::file_size(path)) / (1 << 20);
}
BENCHMARK(BM_SaveDataViewAsRtf)->Arg(100000)->Unit(benchmark::kMillisecond);

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
