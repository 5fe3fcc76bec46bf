// The road of a packet through the pipeline: the queue hand-over of the tick,
// the locks around the packet path and the notifications, start and stop with
// their notifications, exceptions inside a handler, and captures read from
// files the tests write (the driver engine's capture thread against the main
// thread's ticks).
#include "pipeline/capture_pipeline.h"

#include "capture/pcap_binding.h"
#include "filters/plugin_api/vantor_plugin.h"
#include "stats/traffic_class.h"
#include "tests/stats/stats_packets.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/pcap_file.h"
#include "tests/support/temp_folder.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Mac = std::array<uint8_t, 6>;
constexpr Mac kOurMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr Mac kPeerMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
constexpr uint16_t kEtherTypeArp = 0x0806;

// What reached the recording handler, in call order: "CAPSTAT", "CAPSTOP",
// or "P" and the packet's destination port.
struct HandlerLog {
  std::mutex lock;
  std::vector<std::string> calls;
  // Run inside each packet or notification call, after it is recorded;
  // onPacket may throw.
  std::function<void(const TFilterPacket &)> onPacket;
  std::function<void()> onNotification;
  std::vector<std::string> snapshot() {
    std::lock_guard guard(lock);
    return calls;
  }
};
HandlerLog *handlerLog = nullptr;

// Writes one item per call, named as recorded, so a packet can be followed
// from the handler to the flush.
int32_t recordingHandler(const void *data, int32_t size, TOutputProc output) {
  std::string call;
  TFilterPacket packet{};
  const bool notification = size == VANTOR_NOTIFY_SIZE;
  if (notification) {
    call = static_cast<const char *>(data);
  } else {
    std::memcpy(&packet, data, sizeof packet);
    call = "P" + std::to_string(packet.DstPort);
  }
  {
    std::lock_guard guard(handlerLog->lock);
    handlerLog->calls.push_back(call);
  }
  if (!notification && handlerLog->onPacket)
    handlerLog->onPacket(packet);
  if (notification && handlerLog->onNotification)
    handlerLog->onNotification();
  output(call.c_str());
  return 0;
}

// The handler's own items; RunFilter writes its announcement around them.
std::vector<std::string> handlerItems(const std::vector<std::string> &items) {
  std::vector<std::string> kept;
  for (const std::string &item : items)
    if (item.rfind("P", 0) == 0 || item.rfind("CAP", 0) == 0)
      kept.push_back(item);
  return kept;
}

// True when another thread cannot take the lock now: someone holds it.
bool heldElsewhere(std::recursive_mutex &mutex) {
  bool taken = false;
  std::thread probe([&] {
    taken = mutex.try_lock();
    if (taken)
      mutex.unlock();
  });
  probe.join();
  return !taken;
}

TPacketInfo udpTo(int32_t port) {
  return PortPacket(true, "10.0.0.1", 40000, "10.0.0.2", port, 60, kProtoUdp);
}

TPacketInfo arpFrame() {
  TPacketInfo p;
  p.FrameLen = 60;
  p.EtherType = kEtherTypeArp;
  return p;
}

// A UDP frame from this host (kOurMac, 10.0.0.1) to port `port` of a peer.
PcapRecord udpRecord(uint16_t port, uint32_t index) {
  DatagramShape shape;
  shape.protocol = 17;
  shape.src = {10, 0, 0, 1};
  shape.dst = {10, 0, 0, 2};
  shape.srcPort = 40000;
  shape.dstPort = port;
  shape.payload = Filled(16, 'a');
  return {1700000000u + index, index,
          EthernetFrame(kPeerMac, kOurMac, 0x0800, BuildDatagram(shape))};
}

class PacketSourceStub : public TPacketSource {};

class Pipeline : public ::testing::Test {
protected:
  void SetUp() override {
    handlerLog = &log_;
    pipeline_ = std::make_unique<TCapturePipeline>();
    // An empty folder: no plug-ins, no filter files.
    pipeline_->InitFilterSubsystem(folder_, folder_);
    pipeline_->CreateEngines(EEngineChoice::Automatic, nullptr);
    pipeline_->SelectFilter(recordingFilter());
    pipeline_->OnFlush = [this](const std::vector<std::string> &items) {
      flushes_.push_back(handlerItems(items));
      if (duringFlush_)
        duringFlush_();
    };
  }
  void TearDown() override {
    pipeline_.reset();
    handlerLog = nullptr;
  }

  static TIPFilter recordingFilter() {
    TIPFilter filter = IPFilters[0];
    filter.Name = "Record";
    filter.Procs = {};
    filter.Procs[0] = {&recordingHandler, "Test", "Record", "records every call"};
    filter.ProcCount = 1;
    return filter;
  }

  void feed(const TPacketInfo &packet) { pipeline_->PacketArrived(source_, packet); }

  bool needLibpcap() { return pipeline_->DriverAvailable(); }

  std::string writeCapture(const std::vector<PcapRecord> &records) {
    const std::string path = folder_ + "capture.pcap";
    EXPECT_TRUE(WritePcapFile(path, 1, records));
    return path;
  }

  TCaptureOptions fileOptions(const std::string &path) {
    TCaptureOptions options;
    options.CaptureFile = path;
    options.FileMac = kOurMac;
    return options;
  }

  // Runs the event loop until the capture ends by itself (or 10 s pass).
  bool waitForFinish() {
    QEventLoop loop;
    bool finished = false;
    QObject::connect(pipeline_.get(), &TCapturePipeline::CaptureFinished, &loop, [&] {
      finished = true;
      loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    return finished;
  }

  TempFolder temp_{"pipeline"};
  std::string folder_ = temp_.path() + "/";
  HandlerLog log_;
  PacketSourceStub source_;
  std::unique_ptr<TCapturePipeline> pipeline_;
  std::vector<std::vector<std::string>> flushes_;
  std::function<void()> duringFlush_;
};

using Strings = std::vector<std::string>;

// ------------------------------------------------------------ queue hand-over

TEST_F(Pipeline, ItemsWrittenDuringAFlushAppearOneTickLaterInOrder) {
  pipeline_->Capturing = true;
  feed(udpTo(1));
  feed(udpTo(2));
  duringFlush_ = [this] {
    duringFlush_ = nullptr;
    feed(udpTo(3));
    feed(udpTo(4));
  };
  pipeline_->Timer1Timer();
  pipeline_->Timer1Timer();
  pipeline_->Capturing = false;
  ASSERT_EQ(flushes_.size(), 2u);
  EXPECT_EQ(flushes_[0], (Strings{"P1", "P2"}));
  EXPECT_EQ(flushes_[1], (Strings{"P3", "P4"}));
}

TEST_F(Pipeline, ItemsBeforeTheFirstConversationWaitForIt) {
  int refreshes = 0;
  pipeline_->OnRefresh = [&refreshes](TTrafficClass &) { ++refreshes; };
  pipeline_->Capturing = true;
  feed(arpFrame()); // passes "All Data"-like conditions but counts no conversation
  pipeline_->Timer1Timer();
  EXPECT_EQ(refreshes, 0);
  EXPECT_TRUE(flushes_.empty());
  feed(udpTo(7));
  pipeline_->Timer1Timer();
  pipeline_->Capturing = false;
  EXPECT_EQ(refreshes, 1);
  ASSERT_EQ(flushes_.size(), 1u);
  EXPECT_EQ(flushes_[0], (Strings{"P0", "P7"}));
}

TEST_F(Pipeline, TickDoesNothingWhileIdleOrInsideItself) {
  feed(udpTo(1));
  pipeline_->Timer1Timer(); // idle
  EXPECT_TRUE(flushes_.empty());

  pipeline_->Capturing = true;
  int nested = 0;
  duringFlush_ = [&] {
    ++nested;
    pipeline_->Timer1Timer(); // arrives while the flush runs
  };
  pipeline_->Timer1Timer();
  pipeline_->Capturing = false;
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(flushes_.size(), 1u);
  EXPECT_FALSE(pipeline_->TimerBusy);
}

TEST_F(Pipeline, TickFailureReleasesTheLockAndClearsBusy) {
  pipeline_->Capturing = true;
  feed(udpTo(1));
  pipeline_->OnRefresh = [](TTrafficClass &) { throw std::runtime_error("refresh failed"); };
  EXPECT_THROW(pipeline_->Timer1Timer(), std::runtime_error);
  EXPECT_FALSE(pipeline_->TimerBusy);
  EXPECT_FALSE(heldElsewhere(pipeline_->StatsLock));

  // The items stay queued and come with the next tick that works.
  pipeline_->OnRefresh = nullptr;
  pipeline_->Timer1Timer();
  pipeline_->Capturing = false;
  ASSERT_EQ(flushes_.size(), 1u);
  EXPECT_EQ(flushes_[0], (Strings{"P1"}));
}

// ---------------------------------------------------------------------- locks

TEST_F(Pipeline, PacketPathHoldsBothLocksAndTheRefreshOnlyTheStatisticsLock) {
  bool statsHeld = false, filterHeld = false;
  log_.onPacket = [&](const TFilterPacket &) {
    statsHeld = heldElsewhere(pipeline_->StatsLock);
    filterHeld = heldElsewhere(pipeline_->FilterLock);
  };
  feed(udpTo(1));
  EXPECT_TRUE(statsHeld);
  EXPECT_TRUE(filterHeld);
  EXPECT_FALSE(heldElsewhere(pipeline_->StatsLock));
  EXPECT_FALSE(heldElsewhere(pipeline_->FilterLock));

  bool refreshStats = false, refreshFilter = true;
  pipeline_->OnRefresh = [&](TTrafficClass &) {
    refreshStats = heldElsewhere(pipeline_->StatsLock);
    refreshFilter = heldElsewhere(pipeline_->FilterLock);
  };
  bool flushStats = true;
  duringFlush_ = [&] { flushStats = heldElsewhere(pipeline_->StatsLock); };
  pipeline_->Capturing = true;
  pipeline_->Timer1Timer();
  pipeline_->Capturing = false;
  EXPECT_TRUE(refreshStats);
  EXPECT_FALSE(refreshFilter);
  EXPECT_FALSE(flushStats) << "the flush runs without a lock";
}

TEST_F(Pipeline, ApplyFilterNotifiesTheOldChainUnderBothLocks) {
  bool bothHeld = false;
  log_.onNotification = [&] {
    bothHeld = heldElsewhere(pipeline_->StatsLock) && heldElsewhere(pipeline_->FilterLock);
  };
  pipeline_->ApplyFilter(IPFilters[0]);
  EXPECT_EQ(log_.snapshot(), (Strings{"CAPSTOP"}));
  EXPECT_TRUE(bothHeld);
  EXPECT_EQ(pipeline_->CurrentFilter.Name, "All Data");
  feed(udpTo(5));
  EXPECT_EQ(log_.snapshot(), (Strings{"CAPSTOP"})) << "the new filter has no recording handler";
}

// ----------------------------------------------------------- handler failure

TEST_F(Pipeline, HandlerExceptionDropsThePacketIsReportedOnceAndTheCaptureGoesOn) {
  log_.onPacket = [](const TFilterPacket &packet) {
    if (packet.DstPort == 13)
      throw std::runtime_error("handler broke on port 13");
  };
  pipeline_->Capturing = true;
  ::testing::internal::CaptureStderr();
  for (int32_t port : {13, 14, 13, 15})
    feed(udpTo(port));
  const std::string reported = ::testing::internal::GetCapturedStderr();
  pipeline_->Timer1Timer();
  pipeline_->Capturing = false;

  EXPECT_EQ(pipeline_->PacketsDropped(), 2);
  const std::string message = "handler broke on port 13";
  ASSERT_NE(reported.find(message), std::string::npos) << reported;
  EXPECT_EQ(reported.find(message, reported.find(message) + 1), std::string::npos)
      << "reported once: " << reported;
  EXPECT_FALSE(heldElsewhere(pipeline_->StatsLock));
  EXPECT_FALSE(heldElsewhere(pipeline_->FilterLock));
  ASSERT_EQ(flushes_.size(), 1u);
  EXPECT_EQ(flushes_[0], (Strings{"P14", "P15"}));
  // The statistics had counted the dropped packets before the handler ran.
  TServiceInfo totals;
  pipeline_->Statistics()->GetTotals(totals);
  EXPECT_EQ(totals.PacketsSent, 4);
}

// ------------------------------------------------------- start and stop

TEST_F(Pipeline, StartsThatCannotRunLeaveThePipelineIdle) {
  if (!needLibpcap())
    GTEST_SKIP() << "libpcap is not installed";
  struct Case {
    const char *what;
    TCaptureOptions options;
    const char *errorStart;
  };
  TCaptureOptions none;
  none.AdapterIndex = -1;
  TCaptureOptions pastTheEnd;
  pastTheEnd.AdapterIndex = 100000;
  TCaptureOptions missingFile;
  missingFile.CaptureFile = folder_ + "missing.pcap";
  const Case cases[] = {
      {"no adapter selected", none, "No network adapter is selected"},
      {"index past the list", pastTheEnd, "No network adapter is selected"},
      {"missing file", missingFile, "Cannot Open File"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string error = pipeline_->StartCapture(c.options);
    EXPECT_EQ(error.rfind(c.errorStart, 0), 0u) << error;
    EXPECT_FALSE(pipeline_->Capturing);
  }
  EXPECT_TRUE(log_.snapshot().empty()) << "no CAPSTAT after a failed start";
  pipeline_->StopCapture(); // idle: nothing happens
  EXPECT_TRUE(log_.snapshot().empty());
}

TEST_F(Pipeline, FileCaptureRunsTheWholeSequenceAndTheLastTickFlushesEverything) {
  if (!needLibpcap())
    GTEST_SKIP() << "libpcap is not installed";
  std::vector<PcapRecord> records;
  for (uint16_t i = 1; i <= 5; ++i)
    records.push_back(udpRecord(i, i));
  // Both notifications go out under both locks: never amid a packet's items.
  std::vector<bool> notifiedUnderLocks;
  log_.onNotification = [&] {
    notifiedUnderLocks.push_back(heldElsewhere(pipeline_->StatsLock) &&
                                 heldElsewhere(pipeline_->FilterLock));
  };
  const std::string error = pipeline_->StartCapture(fileOptions(writeCapture(records)));
  ASSERT_EQ(error, "");
  EXPECT_TRUE(pipeline_->Capturing);
  ASSERT_TRUE(waitForFinish());
  EXPECT_EQ(pipeline_->EngineError(), "") << "a file read to its end is no failure";
  pipeline_->StopCapture();
  EXPECT_FALSE(pipeline_->Capturing);

  const Strings expected{"CAPSTAT", "P1", "P2", "P3", "P4", "P5", "CAPSTOP"};
  EXPECT_EQ(log_.snapshot(), expected);
  Strings shown;
  for (const Strings &flush : flushes_)
    shown.insert(shown.end(), flush.begin(), flush.end());
  EXPECT_EQ(shown, expected) << "the stop's last tick brings CAPSTOP too";
  EXPECT_EQ(pipeline_->TotSendPackets(), 5);
  EXPECT_EQ(pipeline_->TotRecvPackets(), 0);
  EXPECT_EQ(pipeline_->Statistics()->TotTraffic(), 5);
  EXPECT_EQ(notifiedUnderLocks, (std::vector<bool>{true, true}));

  // A tick after the stop changes nothing.
  const size_t flushCount = flushes_.size();
  pipeline_->Timer1Timer();
  EXPECT_EQ(flushes_.size(), flushCount);
}

TEST_F(Pipeline, PacketLimitStopsTheEngineAtThatPacket) {
  if (!needLibpcap())
    GTEST_SKIP() << "libpcap is not installed";
  std::vector<PcapRecord> records;
  for (uint16_t i = 1; i <= 50; ++i)
    records.push_back(udpRecord(i, i));
  pipeline_->SetPacketLimit(4);
  ASSERT_EQ(pipeline_->StartCapture(fileOptions(writeCapture(records))), "");
  ASSERT_TRUE(waitForFinish());
  pipeline_->StopCapture();
  EXPECT_EQ(pipeline_->EngineError(), "");
  EXPECT_EQ(pipeline_->PacketsArrived(), 4);
  EXPECT_EQ(pipeline_->TotSendPackets(), 4) << "the engine counted nothing past the limit";
  EXPECT_EQ(log_.snapshot(), (Strings{"CAPSTAT", "P1", "P2", "P3", "P4", "CAPSTOP"}));
}

TEST_F(Pipeline, BoundedQueueLosesNothingAndKeepsTheOrder) {
  if (!needLibpcap())
    GTEST_SKIP() << "libpcap is not installed";
  constexpr uint16_t kPackets = 3000;
  std::vector<PcapRecord> records;
  for (uint16_t i = 1; i <= kPackets; ++i)
    records.push_back(udpRecord(i, i));
  // A few packets' items per exchange: the capture thread must wait for the
  // ticks the queue asks for.
  pipeline_->SetQueueLimit(2048);
  QObject::connect(pipeline_.get(), &TCapturePipeline::QueueFull, pipeline_.get(),
                   [this] { pipeline_->Timer1Timer(); });
  ASSERT_EQ(pipeline_->StartCapture(fileOptions(writeCapture(records))), "");
  ASSERT_TRUE(waitForFinish());
  pipeline_->StopCapture();

  Strings shown;
  size_t largest = 0;
  for (const Strings &flush : flushes_) {
    shown.insert(shown.end(), flush.begin(), flush.end());
    largest = std::max(largest, flush.size());
  }
  Strings expected{"CAPSTAT"};
  for (uint16_t i = 1; i <= kPackets; ++i)
    expected.push_back("P" + std::to_string(i));
  expected.push_back("CAPSTOP");
  EXPECT_EQ(shown, expected);
  EXPECT_GT(flushes_.size(), 20u);
  EXPECT_LT(largest, 200u) << "the bound held the write side small";
}

} // namespace
