#include "pipeline/capture_pipeline.h"

#include "capture/capture_error.h"
#include "capture/monitor_pcap.h"
#include "capture/monitor_socket.h"
#include "filters/handler_table.h"
#include "filters/plugin_modules.h"
#include "stats/traffic_class.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// The pipeline OutputLine writes to: TOutputProc carries no context.
std::atomic<TCapturePipeline *> activePipeline{nullptr};

// Reported drop messages are kept to tell repeats apart; past this many
// distinct ones the rest are only counted.
constexpr size_t kMostReportedDrops = 16;
constexpr std::chrono::milliseconds kQueueWaitSlice{100};

// Runs a clean-up on every way out of a scope.
template <typename F> class TOnExit {
public:
  explicit TOnExit(F action) : action_(std::move(action)) {}
  ~TOnExit() { action_(); }
  TOnExit(const TOnExit &) = delete;
  TOnExit &operator=(const TOnExit &) = delete;

private:
  F action_;
};

// Both locks in their one order.
class TBothLocks {
public:
  TBothLocks(std::recursive_mutex &stats, std::recursive_mutex &filter)
      : stats_(stats), filter_(filter) {}

private:
  std::lock_guard<std::recursive_mutex> stats_;
  std::lock_guard<std::recursive_mutex> filter_;
};

TFilterPacket filterPacketOf(const TPacketInfo &info) {
  TFilterPacket packet{};
  packet.FrameLen = info.FrameLen;
  packet.EtherType = info.EtherType;
  std::memcpy(packet.SrcMac, info.SrcMac.data(), sizeof packet.SrcMac);
  std::memcpy(packet.DstMac, info.DstMac.data(), sizeof packet.DstMac);
  packet.SrcAddr = info.SrcAddr;
  packet.DstAddr = info.DstAddr;
  packet.SrcPort = info.SrcPort;
  packet.DstPort = info.DstPort;
  packet.IpProto = info.IpProto;
  packet.TcpFlagWord = info.TcpFlagWord;
  packet.IsSend = info.IsSend ? 1 : 0;
  packet.IcmpMsgType = info.IcmpMsgType;
  packet.PayloadLen = info.PayloadLen;
  packet.CaptureTime = info.CaptureTime;
  // Never null; valid while the engine's record lives, which is the call.
  packet.Payload = info.Payload.data();
  return packet;
}

std::vector<std::string> rowTexts(const TAdaptorRows &rows, std::string TAdaptorInfo::*field) {
  std::vector<std::string> texts;
  for (const TAdaptorInfo &row : rows)
    texts.push_back(row.*field);
  return texts;
}

std::string firstOrEmpty(const std::vector<std::string> &texts) {
  return texts.empty() ? std::string() : texts.front();
}

} // namespace

TCapturePipeline::TCapturePipeline(QObject *owner) : QObject(owner) {
  TCapturePipeline *none = nullptr;
  activePipeline.compare_exchange_strong(none, this);
}

TCapturePipeline::~TCapturePipeline() {
  // What the hooks show may already be gone: a pipeline destroyed during a
  // capture stops without showing anything.
  OnRefresh = nullptr;
  OnFlush = nullptr;
  StopCapture();
  TCapturePipeline *self = this;
  activePipeline.compare_exchange_strong(self, nullptr);
  // The engines go before the table their packets feed.
  DriverMonitor.reset();
  RawMonitor.reset();
  Stats.reset();
}

void TCapturePipeline::InitFilterSubsystem(const std::string &executableFolder,
                                           const std::string &settingsFolder) {
  InitFilters(executableFolder, settingsFolder);
  for (int32_t i = 0; i < IPFilterCount; ++i)
    IPFilters[size_t(i)].OutProc = &TCapturePipeline::OutputLine;
  std::lock_guard filter(FilterLock);
  CurrentFilter = IPFilters[0];
}

void TCapturePipeline::CreateEngines(EEngineChoice choice,
                                     std::unique_ptr<TReverseResolver> resolver) {
  const auto receive = [this](TPacketSource &sender, const TPacketInfo &info) {
    PacketArrived(sender, info);
  };
  if (choice != EEngineChoice::Raw && LoadPacketDll()) {
    DriverMonitor = std::make_unique<TMonitorPcap>();
    DriverMonitor->OnPacketEvent = receive;
    connect(DriverMonitor.get(), &TMonitorPcap::CaptureEnded, this, [this] {
      // The thread also ends when the packet limit stopped it: no failure.
      endError_ = limitReached_.load() ? std::string() : DriverMonitor->LastError();
      emit CaptureFinished();
    });
  }
  Stats = std::make_unique<TTrafficClass>(std::move(resolver));
  Stats->SetLock(&StatsLock);
  RawMonitor = std::make_unique<TMonitorSocket>();
  RawMonitor->OnPacketEvent = receive;
}

std::string TCapturePipeline::EngineStatusText() const {
  if (!DriverMonitor)
    return "Using RAW Socket";
  return "Using libpcap(Driver:" + DriverMonitor->DriverVersion() +
         " Lib:" + DriverMonitor->PacketVersion() + ")";
}

int32_t TCapturePipeline::RefreshAdapters() {
  return GetAdapterRows(adapterCount_, adapterRows_);
}

std::vector<std::string> TCapturePipeline::AdapterNames() const {
  return DriverMonitor ? DriverMonitor->AdapterNameList()
                       : rowTexts(adapterRows_, &TAdaptorInfo::AdapterName);
}

std::vector<std::string> TCapturePipeline::AdapterDescriptions() const {
  return DriverMonitor ? DriverMonitor->AdapterDescList()
                       : rowTexts(adapterRows_, &TAdaptorInfo::Description);
}

void TCapturePipeline::AdapterAddresses(int32_t index, std::vector<std::string> &addresses,
                                        std::vector<std::string> &masks) {
  addresses.clear();
  masks.clear();
  const std::vector<std::string> names = AdapterNames();
  if (index < 0 || size_t(index) >= names.size())
    return;
  if (DriverMonitor) {
    std::vector<std::string> broadcasts;
    DriverMonitor->GetAdapterAddresses(names[size_t(index)], addresses, masks, broadcasts);
    return;
  }
  // The rows' arrays may be longer than their counts.
  const TAdaptorInfo &row = adapterRows_[size_t(index)];
  const size_t count = size_t(std::max(row.AddressCount, 0));
  addresses.assign(row.Addresses.begin(),
                   row.Addresses.begin() + std::min(count, row.Addresses.size()));
  masks.assign(row.Masks.begin(), row.Masks.begin() + std::min(count, row.Masks.size()));
}

std::string TCapturePipeline::StartCapture(const TCaptureOptions &options) {
  if (Capturing)
    return "A capture is already running";
  {
    std::lock_guard stats(StatsLock);
    Stats->Clear();
  }
  haveTraffic_.store(false, std::memory_order_relaxed);
  packetsArrived_.store(0, std::memory_order_relaxed);
  limitReached_.store(false);
  endError_.clear();
  {
    std::lock_guard wait(queueWaitLock_);
    releaseWaiters_ = false;
  }

  // The address and mask come from the enumeration row of the chosen
  // adapter, matched by name: the driver's list and the rows need not be in
  // the same order.
  const bool readingFile = !options.CaptureFile.empty();
  const std::vector<std::string> names = AdapterNames();
  const bool haveAdapter = options.AdapterIndex >= 0 && size_t(options.AdapterIndex) < names.size();
  if (!readingFile && !haveAdapter)
    return names.empty() ? "No Adaptors Found to Monitor" : "No network adapter is selected";
  std::string address, mask;
  if (haveAdapter) {
    const std::string &name = names[size_t(options.AdapterIndex)];
    for (const TAdaptorInfo &row : adapterRows_) {
      if (row.AdapterName == name && row.AddressCount > 0) {
        address = firstOrEmpty(row.Addresses);
        mask = firstOrEmpty(row.Masks);
        break;
      }
    }
    if (!DriverMonitor && address.empty())
      return "The adapter \"" + name + "\" has no IPv4 address to capture on";
  }

  RawMonitor->Addr = address;
  RawMonitor->AddrMask = mask;
  RawMonitor->IgnoreData = false;
  RawMonitor->IgnoreLAN = false;
  if (DriverMonitor) {
    DriverMonitor->MonAdapter = haveAdapter ? names[size_t(options.AdapterIndex)] : std::string();
    DriverMonitor->Addr = address;
    DriverMonitor->AddrMask = mask;
    DriverMonitor->IgnoreData = false;
    DriverMonitor->IgnoreLAN = false;
    DriverMonitor->IgnoreNonIP = options.IgnoreNonIP;
    DriverMonitor->Promiscuous = options.Promiscuous;
    DriverMonitor->CaptureFile = options.CaptureFile;
    DriverMonitor->FileMac = options.FileMac;
  } else if (readingFile) {
    return "Reading a capture file needs libpcap";
  }

  // The locks are held from before the engine starts until "CAPSTAT" is
  // out, so the handlers see the notification before the first packet.
  {
    TBothLocks locks(StatsLock, FilterLock);
    if (DriverMonitor) {
      DriverMonitor->StartCapture();
      if (!DriverMonitor->Connected())
        return DriverMonitor->LastError();
    } else {
      try {
        RawMonitor->StartCapture();
      } catch (const ECaptureError &e) {
        RawMonitor->StopCapture();
        return e.what();
      }
    }
    NotifyCapStat(CurrentFilter);
  }
  Capturing = true;
  return {};
}

void TCapturePipeline::StopCapture() {
  if (!Capturing)
    return;
  TOnExit idle([this] { Capturing = false; });
  releaseQueueWaiters();
  if (DriverMonitor)
    DriverMonitor->StopCapture();
  else if (RawMonitor)
    RawMonitor->StopCapture();
  {
    TBothLocks locks(StatsLock, FilterLock);
    NotifyCapStop(CurrentFilter);
  }
  Timer1Timer();
}

void TCapturePipeline::Timer1Timer() {
  if (!Capturing || TimerBusy)
    return;
  TimerBusy = true;
  TOnExit notBusy([this] { TimerBusy = false; });
  {
    // Checked under the lock: the capture thread may be adding the first
    // conversation right now.
    std::lock_guard stats(StatsLock);
    if (!Stats || Stats->TotTraffic() == 0)
      return;
    if (OnRefresh)
      OnRefresh(*Stats);
    std::swap(OutputWriteList, OutputReadList);
    writeBytes_.store(0, std::memory_order_relaxed);
  }
  {
    std::lock_guard wait(queueWaitLock_);
    tickRequested_.store(false, std::memory_order_relaxed);
  }
  queueRoom_.notify_all();
  // Only this thread touches the read side: no lock while it is shown.
  std::vector<std::string> &taken = *OutputReadList;
  TOnExit emptied([&taken] { taken.clear(); });
  if (OnFlush)
    OnFlush(taken);
}

void TCapturePipeline::ApplyFilter(const TIPFilter &filter) {
  TBothLocks locks(StatsLock, FilterLock);
  NotifyCapStop(CurrentFilter);
  CurrentFilter = filter;
}

void TCapturePipeline::SelectFilter(const TIPFilter &filter) {
  std::lock_guard lock(FilterLock);
  CurrentFilter = filter;
}

void TCapturePipeline::PacketArrived(TPacketSource & /*sender*/, const TPacketInfo &packetInfo) {
  // Packets the engine delivered before it took in the stop at the limit.
  if (packetLimit_ > 0 && packetsArrived_.load(std::memory_order_relaxed) >= packetLimit_)
    return;
  const int64_t arrived = packetsArrived_.fetch_add(1, std::memory_order_relaxed) + 1;
  {
    std::lock_guard stats(StatsLock);
    try {
      Stats->AddPacket(packetInfo);
      Stats->UpdateServices();
      if (!haveTraffic_.load(std::memory_order_relaxed) && Stats->TotTraffic() > 0)
        haveTraffic_.store(true, std::memory_order_relaxed);
      const TFilterPacket packet = filterPacketOf(packetInfo);
      std::lock_guard filter(FilterLock);
      RunFilter(CurrentFilter, packet);
    } catch (const std::exception &e) {
      reportDrop(e.what());
    } catch (...) {
      reportDrop("unknown exception");
    }
  }
  if (arrived == packetLimit_)
    packetLimitReached();
  if (queueLimit_ > 0 && writeBytes_.load(std::memory_order_relaxed) > queueLimit_ &&
      std::this_thread::get_id() != ownerThread_)
    waitForQueueRoom();
}

void TCapturePipeline::OutputLine(const char *text) {
  if (TCapturePipeline *pipeline = activePipeline.load(std::memory_order_acquire))
    pipeline->appendOutput(text);
}

void TCapturePipeline::appendOutput(const char *text) {
  if (!text)
    return;
  const size_t length = std::strlen(text);
  OutputWriteList->emplace_back(text, length);
  writeBytes_.store(writeBytes_.load(std::memory_order_relaxed) + length + sizeof(std::string),
                    std::memory_order_relaxed);
}

void TCapturePipeline::reportDrop(const char *what) {
  packetsDropped_.fetch_add(1, std::memory_order_relaxed);
  // Each distinct reason once: a handler failing on every packet must not
  // flood the terminal.
  if (reportedDrops_.size() >= kMostReportedDrops || !reportedDrops_.insert(what).second)
    return;
  std::fprintf(stderr, "Vantor: a packet was dropped: %s\n", what);
}

void TCapturePipeline::packetLimitReached() {
  limitReached_.store(true);
  if (DriverMonitor) {
    // On the capture thread: its end comes back as CaptureFinished.
    DriverMonitor->RequestStop();
    return;
  }
  // The raw engine reads on this thread: closing the socket ends its read
  // loop before another datagram is counted.
  if (RawMonitor)
    RawMonitor->StopCapture();
  QMetaObject::invokeMethod(this, &TCapturePipeline::CaptureFinished, Qt::QueuedConnection);
}

void TCapturePipeline::waitForQueueRoom() {
  std::unique_lock wait(queueWaitLock_);
  while (!releaseWaiters_ && haveTraffic_.load(std::memory_order_relaxed) &&
         writeBytes_.load(std::memory_order_relaxed) > queueLimit_) {
    if (!tickRequested_.exchange(true, std::memory_order_relaxed))
      QMetaObject::invokeMethod(this, &TCapturePipeline::QueueFull, Qt::QueuedConnection);
    // A request the owner could not serve (it was busy) is made again.
    if (queueRoom_.wait_for(wait, kQueueWaitSlice) == std::cv_status::timeout)
      tickRequested_.store(false, std::memory_order_relaxed);
  }
}

void TCapturePipeline::releaseQueueWaiters() {
  {
    std::lock_guard wait(queueWaitLock_);
    releaseWaiters_ = true;
  }
  queueRoom_.notify_all();
}

template <typename DriverCounter, typename RawCounter>
int64_t TCapturePipeline::engineTotal(DriverCounter driverCounter, RawCounter rawCounter) const {
  if (DriverMonitor)
    return (DriverMonitor.get()->*driverCounter)();
  return RawMonitor ? (RawMonitor.get()->*rawCounter)() : 0;
}

int64_t TCapturePipeline::TotSendBytes() const {
  return engineTotal(&TMonitorPcap::TotSendBytes, &TMonitorSocket::TotSendBytes);
}

int64_t TCapturePipeline::TotRecvBytes() const {
  return engineTotal(&TMonitorPcap::TotRecvBytes, &TMonitorSocket::TotRecvBytes);
}

int64_t TCapturePipeline::TotSendPackets() const {
  return engineTotal(&TMonitorPcap::TotSendPackets, &TMonitorSocket::TotSendPackets);
}

int64_t TCapturePipeline::TotRecvPackets() const {
  return engineTotal(&TMonitorPcap::TotRecvPackets, &TMonitorSocket::TotRecvPackets);
}

std::string TCapturePipeline::EngineError() const {
  return endError_;
}
