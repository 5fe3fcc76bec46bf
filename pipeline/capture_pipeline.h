#pragma once

#include "capture/adapters.h"
#include "filters/ip_filter.h"
#include "packet/packet_info.h"
#include "stats/reverse_resolver.h"

#include <QObject>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class TMonitorPcap;
class TMonitorSocket;
class TTrafficClass;

// Which engine serves the captures.
enum class EEngineChoice {
  Automatic, // the driver engine when libpcap loads, else the raw engine
  Driver,    // the driver engine only; none when libpcap does not load
  Raw,       // the raw engine even when libpcap is there
};

// What one start needs besides the pipeline's own state.
struct TCaptureOptions {
  int32_t AdapterIndex = -1; // entry of AdapterNames(); -1: none selected
  bool Promiscuous = true;   // driver engine only
  bool IgnoreNonIP = true;   // driver engine only
  // Driver engine only: read this capture file instead of the adapter, with
  // FileMac as this host's hardware address.
  std::string CaptureFile;
  std::array<uint8_t, 6> FileMac{};
};

// The running program's capture state and the road of every packet: both
// engines deliver to PacketArrived, which counts the packet into the
// statistics and runs it through the current filter, whose handlers queue
// items through OutputLine; the owner's once-a-second Timer1Timer refreshes
// what it shows and takes the queued items. Knows nothing of widgets: the
// window and the command-line tool drive it.
//
// Locks: StatsLock guards the statistics table and the write side of the
// output queue, FilterLock guards CurrentFilter. Whoever needs both takes
// StatsLock first. Both are held through scoped guards, so an exception
// anywhere releases them.
class TCapturePipeline : public QObject {
  Q_OBJECT
public:
  // The locks and the two output lists. The first pipeline created becomes
  // the one OutputLine writes to, until it is destroyed.
  explicit TCapturePipeline(QObject *owner = nullptr);
  ~TCapturePipeline() override; // stops a running capture first

  // The filter subsystem: built-in handlers, "All Data", the plug-ins of
  // `executableFolder`, the filter files of `settingsFolder`; every filter
  // writes through OutputLine, and CurrentFilter starts as "All Data".
  void InitFilterSubsystem(const std::string &executableFolder, const std::string &settingsFolder);
  // The engines and the statistics table. The driver engine exists when the
  // choice allows it and libpcap loads; the raw engine always exists.
  // `resolver` names conversation addresses; null: no lookups.
  void CreateEngines(EEngineChoice choice, std::unique_ptr<TReverseResolver> resolver);

  bool DriverAvailable() const { return DriverMonitor != nullptr; }
  TMonitorPcap *Driver() const { return DriverMonitor.get(); }
  TMonitorSocket *Raw() const { return RawMonitor.get(); }
  TTrafficClass *Statistics() const { return Stats.get(); }
  // "Using libpcap(Driver:... Lib:...)" or "Using RAW Socket".
  std::string EngineStatusText() const;

  // The system's adapters (GetAdapterRows): 0, or the errno of a failed
  // enumeration, which leaves the previous rows.
  int32_t RefreshAdapters();
  const TAdaptorRows &AdapterRows() const { return adapterRows_; }
  // The adapters a capture can be started on, in the engine's order: the
  // driver engine's adapters, or the rows of the enumeration.
  std::vector<std::string> AdapterNames() const;
  std::vector<std::string> AdapterDescriptions() const;
  // The IPv4 addresses and masks of entry `index` of AdapterNames().
  void AdapterAddresses(int32_t index, std::vector<std::string> &addresses,
                        std::vector<std::string> &masks);

  // Start: empties the statistics, configures and starts the engine in use,
  // sends "CAPSTAT" to the current filter. Returns the error text to show
  // when the engine did not start (the pipeline stays idle), else empty.
  std::string StartCapture(const TCaptureOptions &options);
  // Stop: stops the engine, sends "CAPSTOP", runs a last tick, then idle.
  // Nothing happens while idle.
  void StopCapture();
  // The tick: unless idle, running already, or no conversation is counted,
  // calls OnRefresh under StatsLock, exchanges the output lists, then hands
  // the taken items to OnFlush without any lock.
  void Timer1Timer();

  // Makes `filter` current: "CAPSTOP" to the old filter's handlers, then a
  // whole-value copy, both under the locks so no packet sees half of it.
  void ApplyFilter(const TIPFilter &filter);

  // Makes `filter` current before a capture, without notifications: the
  // filter a run starts with.
  void SelectFilter(const TIPFilter &filter);

  // The receiver of both engines' OnPacketEvent.
  void PacketArrived(TPacketSource &sender, const TPacketInfo &packetInfo);
  // The output sink every filter carries: appends one item to the write side.
  static void OutputLine(const char *text);

  // Stop after this many packets reach PacketArrived (0: no limit). The
  // engine is told to stop at the last one, and CaptureFinished follows.
  void SetPacketLimit(int64_t packets) { packetLimit_ = packets; }
  // Bounds the write side of the queue while the capture thread fills it
  // faster than ticks empty it (reading a file): past `bytes` the capture
  // thread waits for the next exchange and QueueFull asks the owner to tick
  // early. 0: no bound (a live capture never waits).
  void SetQueueLimit(size_t bytes) { queueLimit_ = bytes; }

  int64_t PacketsArrived() const { return packetsArrived_.load(std::memory_order_relaxed); }
  // Packets dropped because the statistics or a handler threw.
  int64_t PacketsDropped() const { return packetsDropped_.load(std::memory_order_relaxed); }
  // The engine in use's totals.
  int64_t TotSendBytes() const;
  int64_t TotRecvBytes() const;
  int64_t TotSendPackets() const;
  int64_t TotRecvPackets() const;
  // Why the last capture ended by itself (an engine failure); empty when it
  // was stopped, reached its packet limit, or read its file to the end.
  std::string EngineError() const;

  bool Capturing = false;
  bool TimerBusy = false;
  // Called by Timer1Timer under StatsLock with the table to show.
  std::function<void(TTrafficClass &table)> OnRefresh;
  // Called by Timer1Timer without a lock with the items taken from the
  // queue, in the order they were written.
  std::function<void(const std::vector<std::string> &items)> OnFlush;

  std::recursive_mutex StatsLock;
  std::recursive_mutex FilterLock;
  TIPFilter CurrentFilter; // guarded by FilterLock once a capture runs

signals:
  // The capture ended without Stop: the end of a capture file, the packet
  // limit, or an engine failure (EngineError). The owner calls StopCapture.
  void CaptureFinished();
  // The queue reached its bound; the owner should tick now.
  void QueueFull();

private:
  void appendOutput(const char *text);
  void reportDrop(const char *what);
  void waitForQueueRoom();
  void releaseQueueWaiters();
  void packetLimitReached();
  // A total of the engine in use; 0 before the engines exist.
  template <typename DriverCounter, typename RawCounter>
  int64_t engineTotal(DriverCounter driverCounter, RawCounter rawCounter) const;

  std::unique_ptr<TMonitorSocket> RawMonitor;
  std::unique_ptr<TMonitorPcap> DriverMonitor;
  std::unique_ptr<TTrafficClass> Stats;
  TAdaptorRows adapterRows_;
  int32_t adapterCount_ = 0;

  // The output queue: OutputWriteList and OutputReadList point at the two
  // lists, and only the tick exchanges them.
  std::vector<std::string> outputLists_[2];
  std::vector<std::string> *OutputWriteList = &outputLists_[0];
  std::vector<std::string> *OutputReadList = &outputLists_[1];

  const std::thread::id ownerThread_ = std::this_thread::get_id();
  int64_t packetLimit_ = 0;
  std::atomic<int64_t> packetsArrived_{0};
  std::atomic<int64_t> packetsDropped_{0};
  std::atomic<bool> limitReached_{false};
  std::string endError_;
  std::set<std::string> reportedDrops_; // under StatsLock

  size_t queueLimit_ = 0;
  std::atomic<size_t> writeBytes_{0};    // written under StatsLock
  std::atomic<bool> haveTraffic_{false}; // a tick would take the queue
  std::atomic<bool> tickRequested_{false};
  std::mutex queueWaitLock_;
  std::condition_variable queueRoom_;
  bool releaseWaiters_ = false; // under queueWaitLock_
};
