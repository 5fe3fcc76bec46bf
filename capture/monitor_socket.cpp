#include "capture/monitor_socket.h"

#include "capture/capture_error.h"
#include "capture/interface_lookup.h"
#include "packet/datagram_decoder.h"
#include "packet/packet_clock.h"
#include "packet/text_format.h"
#include "packet/text_trim.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>

namespace {

// The notifier is level-triggered: stopping after this many datagrams lets
// the event loop paint and take input under a flood; the rest is read on the
// next notification.
constexpr int kMaxDatagramsPerNotification = 256;
constexpr int kMostDrainBatches = 64;

// Keeps only IPv4 in the kernel, so nothing else fills the receive queue.
// The ancillary load gives the skb protocol in host byte order.
sock_filter kIpv4Only[] = {
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, uint32_t(SKF_AD_OFF + SKF_AD_PROTOCOL)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
    BPF_STMT(BPF_RET | BPF_K, 0),
};

} // namespace

TMonitorSocket::TMonitorSocket(QObject *owner) : QObject(owner) {}

TMonitorSocket::~TMonitorSocket() {
  StopCapture();
}

void TMonitorSocket::PrepareCapture() {
  localAddr_ = TextToAddr(Addr);
  AddrMask = std::string(TrimControl(AddrMask));
  lanMask_ = AddrMask.empty() ? 0 : TextToAddr(AddrMask);
  totRecvBytes_ = 0;
  totSendBytes_ = 0;
  totRecvPackets_ = 0;
  totSendPackets_ = 0;
}

void TMonitorSocket::StartCapture() {
  StopCapture();
  PrepareCapture();
  ResetPacketClock();

  const unsigned ifIndex = InterfaceIndexOfAddress(localAddr_);
  if (ifIndex == 0)
    ThrowSocketError(EADDRNOTAVAIL, "bind");

  // Protocol 0 receives nothing until the bind below, so no datagram of
  // another interface or protocol is queued before the filter is in place.
  fd_ = socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    ThrowSocketError(errno, "socket");

  sock_fprog program{};
  program.len = static_cast<unsigned short>(std::size(kIpv4Only));
  program.filter = kIpv4Only;
  if (setsockopt(fd_, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0)
    ThrowSocketError(errno, "setsockopt");

  // ETH_P_ALL rather than ETH_P_IP: Linux hands the packets this host sends
  // only to ETH_P_ALL sockets.
  sockaddr_ll local{};
  local.sll_family = AF_PACKET;
  local.sll_protocol = htons(ETH_P_ALL);
  local.sll_ifindex = static_cast<int>(ifIndex);
  if (bind(fd_, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
    ThrowSocketError(errno, "bind");

  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &TMonitorSocket::ReadDatagram);
}

void TMonitorSocket::StopCapture() {
  // What the socket already holds was captured before the stop: it counts.
  // A receiver that stops the capture from inside a read wants no more.
  // The receive buffer holds a few thousand datagrams at most, so a bounded
  // number of batches empties it even while a flood goes on.
  if (fd_ >= 0 && !reading_) {
    for (int batch = 0; batch < kMostDrainBatches && readQueued() > 0; ++batch) {
    }
  }
  // The notifier goes before the descriptor it watches. Deleting it from
  // within its own activation (a receiver that stops the capture) is safe:
  // the notifier guards its emission against that.
  if (notifier_) {
    notifier_->setEnabled(false);
    notifier_.reset();
  }
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

void TMonitorSocket::ReadDatagram() {
  readQueued();
}

int TMonitorSocket::readQueued() {
  reading_ = true;
  struct ReadEnd {
    bool &reading;
    ~ReadEnd() { reading = false; }
  } readEnd{reading_};
  int read = 0;
  uint8_t buffer[kBufferSize];
  for (; read < kMaxDatagramsPerNotification && fd_ >= 0; ++read) {
    sockaddr_ll from{};
    socklen_t fromLen = sizeof from;
    // MSG_TRUNC makes the result the true length: segmentation offload hands
    // over datagrams far beyond the buffer, and they still count in full.
    const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT,
                               reinterpret_cast<sockaddr *>(&from), &fromLen);
    if (n <= 0)
      break;
    if (from.sll_protocol != htons(ETH_P_IP))
      continue;
    // Loopback hands every datagram to packet sockets twice, once leaving
    // and once arriving; the arriving copy alone counts it once.
    if (from.sll_hatype == ARPHRD_LOOPBACK && from.sll_pkttype == PACKET_OUTGOING)
      continue;
    const size_t present = std::min<size_t>(size_t(n), sizeof buffer);
    HandleDatagram({buffer, present}, size_t(n));
  }
  return read;
}

void TMonitorSocket::HandleDatagram(std::span<const uint8_t> bytes, size_t trueLength) {
  if (bytes.size() > size_t(kBufferSize))
    bytes = bytes.first(size_t(kBufferSize));
  TPacketInfo info;
  info.FrameLen = int32_t(std::min<size_t>(trueLength, size_t(INT32_MAX - kEthernetHeaderLen))) +
                  kEthernetHeaderLen;
  info.EtherType = kEtherTypeIPv4;
  DecodeAddresses(info, bytes);
  // Only the source decides: a datagram from this address to itself is sent.
  info.IsSend = info.SrcAddr == localAddr_;
  info.CaptureTime = PacketClockNow();

  if (lanMask_ != 0 && IgnoreLAN &&
      ((info.SrcAddr & lanMask_) == (info.DstAddr & lanMask_) || info.DstAddr == 0))
    return;

  if (info.IsSend) {
    totSendBytes_ += info.FrameLen;
    ++totSendPackets_;
  } else {
    totRecvBytes_ += info.FrameLen;
    ++totRecvPackets_;
  }

  if (!OnPacketEvent)
    return;
  DecodeTransport(info, bytes, kBufferSize, IgnoreData);
  OnPacketEvent(*this, info);
}
