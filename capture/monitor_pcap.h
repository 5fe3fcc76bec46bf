#pragma once

#include "capture/pcap_binding.h"
#include "packet/packet_info.h"

#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QSocketNotifier;

// The packet-driver engine over libpcap: whole frames, promiscuous mode,
// non-IP frames kept or dropped, read on a capture thread of its own. It
// never throws: failures leave Connected() false and LastError() set.
class TMonitorPcap : public QObject, public TPacketSource {
  Q_OBJECT
public:
  explicit TMonitorPcap(QObject *owner = nullptr); // queries the library and the adapters
  ~TMonitorPcap() override;                        // stops a running capture

  const std::vector<std::string> &AdapterNameList() const { return adapterNames_; }
  const std::vector<std::string> &AdapterDescList() const { return adapterDescs_; }
  const std::string &DriverVersion() const { return driverVersion_; }
  const std::string &PacketVersion() const { return packetVersion_; }
  bool Connected() const { return connected_.load(std::memory_order_acquire); }
  const std::string &LastError() const { return lastError_; }

  std::string MonAdapter; // adapter to capture on; the first one after construction
  std::string Addr;
  std::string AddrMask;
  bool IgnoreData = false;
  bool IgnoreLAN = false;
  bool IgnoreNonIP = false;
  bool Promiscuous = false;
  // When not empty, StartCapture reads this pcap or pcapng file instead of
  // MonAdapter, as fast as the receiver takes the records, and the capture
  // ends by itself at the end of the file (CaptureEnded, LastError empty).
  std::string CaptureFile;
  // A file has no adapter: frames from this hardware address count as sent.
  std::array<uint8_t, 6> FileMac{};
  TPacketEvent OnPacketEvent; // called on the capture thread

  // Written by the capture thread; safe to read from any thread.
  int64_t TotRecvBytes() const { return totRecvBytes_.load(std::memory_order_relaxed); }
  int64_t TotSendBytes() const { return totSendBytes_.load(std::memory_order_relaxed); }
  int32_t TotRecvPackets() const { return totRecvPackets_.load(std::memory_order_relaxed); }
  int32_t TotSendPackets() const { return totSendPackets_.load(std::memory_order_relaxed); }

  // Bytes of CaptureFile read so far and its size (0 and 0 for an adapter).
  int64_t FileBytesRead() const { return fileBytesRead_.load(std::memory_order_relaxed); }
  int64_t FileSize() const { return fileSize_; }

  bool GetAdapters();
  int32_t GetAdapterAddresses(const std::string &adapter, std::vector<std::string> &addresses,
                              std::vector<std::string> &masks,
                              std::vector<std::string> &broadcasts);
  void StartCapture();
  // Ends the capture thread and closes the adapter. A live capture first
  // reads for one read time-out more, so nothing captured before the stop is
  // lost; a file stops at once. Harmless while idle.
  void StopCapture();
  // Asks the capture thread to end after the record it is handling; the
  // receiver may call it on the capture thread. The end arrives as
  // CaptureEnded, and no further record is decoded or counted.
  void RequestStop();

  // The decoder state a capture sets up before its thread starts: link type,
  // the adapter's hardware address, LanMask from AddrMask, the time-zone
  // offset, and zeroed counters. Public so tests and benchmarks can feed
  // records without an adapter.
  void PrepareDecoder(int linkType, const std::array<uint8_t, 6> &adapterMac);
  // What the capture thread runs for each record of a read.
  void HandleFrame(const pcap_pkthdr &header, const uint8_t *frame);

signals:
  // Emitted on the owner's thread after the capture thread ended by itself
  // (an exception in the receiver, or a read failure that cannot recover).
  void CaptureEnded();

private:
  void onThreadEnded();
  void threadBody();
  void readFile(TPcapHandle &handle);
  void readAdapter(TPcapHandle &handle);

  std::vector<std::string> adapterNames_;
  std::vector<std::string> adapterDescs_;
  std::string driverVersion_;
  std::string packetVersion_;
  std::string lastError_;
  std::atomic<bool> connected_{false};
  std::unique_ptr<TPcapHandle> handle_;
  std::thread thread_;
  std::atomic<bool> terminate_{false};
  int endedFd_ = -1; // eventfd the thread signals when its body returns
  std::unique_ptr<QSocketNotifier> endedNotifier_;

  int linkType_ = 0;
  std::array<uint8_t, 6> adapterMac_{};
  uint32_t lanMask_ = 0;
  double timeZoneOffset_ = 0;
  std::atomic<int64_t> totRecvBytes_{0};
  std::atomic<int64_t> totSendBytes_{0};
  std::atomic<int32_t> totRecvPackets_{0};
  std::atomic<int32_t> totSendPackets_{0};
  std::atomic<int64_t> fileBytesRead_{0};
  int64_t fileSize_ = 0;
};
