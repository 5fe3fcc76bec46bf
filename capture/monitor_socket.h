#pragma once

#include "packet/packet_info.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

class QSocketNotifier;

// The raw-socket engine: an AF_PACKET socket on the interface that holds
// `Addr`, keeping only IPv4 (filtered in the kernel), read on the thread that
// created the monitor through a QSocketNotifier. Needs CAP_NET_RAW.
class TMonitorSocket : public QObject, public TPacketSource {
  Q_OBJECT
public:
  // The receive buffer; longer datagrams are counted at their true length
  // and their payload is taken from these bytes only.
  static constexpr int32_t kBufferSize = 2001;

  explicit TMonitorSocket(QObject *owner = nullptr);
  ~TMonitorSocket() override;

  std::string Addr;     // local IPv4 address, dotted
  std::string AddrMask; // subnet mask for IgnoreLAN; empty means none
  bool IgnoreData = false;
  bool IgnoreLAN = false;
  TPacketEvent OnPacketEvent;

  int64_t TotRecvBytes() const { return totRecvBytes_; }
  int64_t TotSendBytes() const { return totSendBytes_; }
  int32_t TotRecvPackets() const { return totRecvPackets_; }
  int32_t TotSendPackets() const { return totSendPackets_; }
  bool IsOpen() const { return fd_ >= 0; }

  // Opens the socket on `Addr`. Throws ECaptureError naming the failing call
  // and errno; the caller then calls StopCapture.
  void StartCapture();
  // Reads what the socket still holds, then closes it; the counters keep
  // their values until the next start. Called by a receiver during a read,
  // it closes at once.
  void StopCapture();
  // One read notification: reads the datagrams waiting on the socket.
  void ReadDatagram();

  // What one received datagram goes through: `bytes` are the bytes received
  // (at most kBufferSize), `trueLength` its length as the kernel reported it.
  // Public so tests can feed datagrams without a socket.
  void HandleDatagram(std::span<const uint8_t> bytes, size_t trueLength);
  // The start-time state HandleDatagram relies on (LocalAddr, LanMask,
  // counters); StartCapture calls it before opening the socket.
  void PrepareCapture();

private:
  // Reads the datagrams waiting, at most a batch; returns how many were read.
  int readQueued();

  int fd_ = -1;
  bool reading_ = false;
  std::unique_ptr<QSocketNotifier> notifier_;
  uint32_t localAddr_ = 0;
  uint32_t lanMask_ = 0;
  int64_t totRecvBytes_ = 0;
  int64_t totSendBytes_ = 0;
  int32_t totRecvPackets_ = 0;
  int32_t totSendPackets_ = 0;
};
