#include "capture/monitor_pcap.h"

#include "packet/byte_reader.h"
#include "packet/datagram_decoder.h"
#include "packet/date_time.h"
#include "packet/text_format.h"
#include "packet/text_trim.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <exception>
#include <filesystem>
#include <system_error>

namespace {

constexpr int32_t kSnapLenHeadersOnly = 68;
constexpr int32_t kSnapLenWithData = 2000;
// A read that keeps failing (the device went away) ends the capture instead
// of spinning; a pause between failures keeps a transient one from doing so
// at once.
constexpr int kMostFailedReads = 5;
constexpr int32_t kFileRecordsPerRead = 4096;
// The kernel hands a partly filled buffer block to libpcap only when the
// block's timer (the 100 ms read time-out) expires: reading that long after
// a stop takes in every packet captured before it.
constexpr std::chrono::milliseconds kDrainTime{120};
constexpr std::chrono::milliseconds kFailedReadPause{20};

// Linux cooked capture headers (pcap-linktype(7): LINUX_SLL, LINUX_SLL2).
constexpr size_t kSllHeaderLen = 16;
constexpr size_t kSllPacketType = 0;
constexpr size_t kSllAddressLen = 4;
constexpr size_t kSllAddress = 6;
constexpr size_t kSllProtocol = 14;
constexpr size_t kSll2HeaderLen = 20;
constexpr size_t kSll2Protocol = 0;
constexpr size_t kSll2PacketType = 10;
constexpr size_t kSll2AddressLen = 11;
constexpr size_t kSll2Address = 12;
constexpr uint16_t kPacketOutgoing = 4; // PACKET_OUTGOING of <linux/if_packet.h>

// Ethernet offsets (IEEE 802.3 clause 3.2).
constexpr size_t kEtherDestination = 0;
constexpr size_t kEtherSource = 6;
constexpr size_t kEtherType = 12;

bool isSupportedLink(int linkType) {
  return linkType == DLT_EN10MB || linkType == DLT_LINUX_SLL || linkType == DLT_LINUX_SLL2;
}

// Only the capture thread writes the counters, so a plain load and store
// (no locked read-modify-write) is enough; readers on other threads see
// whole values.
template <typename T> void addTo(std::atomic<T> &counter, T amount) {
  counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
}

void deliverFrame(void *user, const pcap_pkthdr *header, const uint8_t *frame) {
  static_cast<TMonitorPcap *>(user)->HandleFrame(*header, frame);
}

} // namespace

TMonitorPcap::TMonitorPcap(QObject *owner) : QObject(owner) {
  PcapGetDriverVersion(driverVersion_);
  PcapGetPacketVersion(packetVersion_);
  GetAdapters();
  if (!adapterNames_.empty())
    MonAdapter = adapterNames_.front();
  // The capture thread makes no Qt calls: it signals the end of its body
  // through this eventfd, and the notifier runs the handler on our thread.
  endedFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (endedFd_ >= 0) {
    endedNotifier_ = std::make_unique<QSocketNotifier>(endedFd_, QSocketNotifier::Read);
    connect(endedNotifier_.get(), &QSocketNotifier::activated, this, [this] { onThreadEnded(); });
  }
}

TMonitorPcap::~TMonitorPcap() {
  StopCapture();
  endedNotifier_.reset();
  if (endedFd_ >= 0)
    close(endedFd_);
}

bool TMonitorPcap::GetAdapters() {
  adapterNames_.clear();
  adapterDescs_.clear();
  return PcapGetAdapterNames(&adapterNames_, &adapterDescs_, lastError_) > 0;
}

int32_t TMonitorPcap::GetAdapterAddresses(const std::string &adapter,
                                          std::vector<std::string> &addresses,
                                          std::vector<std::string> &masks,
                                          std::vector<std::string> &broadcasts) {
  addresses.clear();
  masks.clear();
  broadcasts.clear();
  std::vector<uint32_t> addressValues, maskValues, broadcastValues;
  const int count =
      PcapGetIPAddresses(adapter, addressValues, maskValues, broadcastValues, lastError_);
  for (int i = 0; i < count; ++i) {
    addresses.push_back(AddrToText(addressValues[size_t(i)]));
    masks.push_back(AddrToText(maskValues[size_t(i)]));
    broadcasts.push_back(AddrToText(broadcastValues[size_t(i)]));
  }
  return count;
}

void TMonitorPcap::StartCapture() {
  const bool readingFile = !CaptureFile.empty();
  if (!readingFile && (adapterNames_.empty() || MonAdapter.empty())) {
    lastError_ = "No Adaptors Found to Monitor";
    return;
  }
  // A thread that ended by itself but whose handler has not run yet still
  // holds the handle: that counts as running too.
  if (Connected() || handle_ || thread_.joinable()) {
    lastError_ = "PCap Driver Already Running";
    return;
  }
  Addr = std::string(TrimControl(Addr));
  AddrMask = std::string(TrimControl(AddrMask));
  // Counters, LanMask and the time-zone offset are taken before the open;
  // the link type and hardware address follow it.
  PrepareDecoder(DLT_EN10MB, {});
  connected_.store(false, std::memory_order_release);
  fileBytesRead_.store(0, std::memory_order_relaxed);
  fileSize_ = 0;

  auto handle =
      readingFile ? PcapOpenFile(CaptureFile, lastError_)
                  : PcapOpenAdapter(MonAdapter, IgnoreData ? kSnapLenHeadersOnly : kSnapLenWithData,
                                    Promiscuous, lastError_);
  if (!handle)
    return;
  if (!isSupportedLink(handle->LinkType)) {
    const std::string name = PcapLinkTypeName(handle->LinkType);
    lastError_ =
        "Unsupported link type " + std::to_string(handle->LinkType) +
        (name.empty() ? "" : " (" + name + ")") +
        (readingFile ? " in file \"" + CaptureFile + "\"" : " on adapter \"" + MonAdapter + "\"");
    PcapCloseAdapter(handle);
    return;
  }
  if (readingFile) {
    adapterMac_ = FileMac;
    lastError_.clear();
    std::error_code ignored;
    const auto size = std::filesystem::file_size(CaptureFile, ignored);
    fileSize_ = ignored ? 0 : int64_t(size);
  } else {
    // Without the hardware address every Ethernet frame counts as received;
    // the capture still starts and LastError tells why.
    PcapGetMacAddress(*handle, lastError_, adapterMac_);
  }
  linkType_ = handle->LinkType;
  handle_ = std::move(handle);

  terminate_.store(false, std::memory_order_release);
  try {
    thread_ = std::thread([this] { threadBody(); });
  } catch (const std::system_error &e) {
    lastError_ = std::string("Cannot start the capture thread: ") + e.what();
    PcapCloseAdapter(handle_);
    return;
  }
  connected_.store(true, std::memory_order_release);
}

void TMonitorPcap::StopCapture() {
  connected_.store(false, std::memory_order_release);
  if (thread_.joinable()) {
    // A live capture reads on for one buffer time-out, so the packets
    // captured before the stop are all counted; then the read is woken, as
    // without traffic it would wait on.
    if (CaptureFile.empty())
      std::this_thread::sleep_for(kDrainTime);
    terminate_.store(true, std::memory_order_release);
    if (handle_)
      PcapBreakLoop(*handle_);
    thread_.join();
    // The thread's end notice is ours now: a handler still to come must not
    // mistake it for the end of a later capture.
    if (endedFd_ >= 0) {
      uint64_t ended;
      [[maybe_unused]] const ssize_t n = read(endedFd_, &ended, sizeof ended);
    }
  }
  PcapCloseAdapter(handle_);
}

void TMonitorPcap::RequestStop() {
  // handle_ changes only on the owner's thread, and never while the capture
  // thread runs, so the capture thread may read it here.
  terminate_.store(true, std::memory_order_release);
  if (handle_)
    PcapBreakLoop(*handle_);
}

void TMonitorPcap::threadBody() {
  TPcapHandle *handle = handle_.get();
  if (handle) {
    try {
      if (CaptureFile.empty())
        readAdapter(*handle);
      else
        readFile(*handle);
    } catch (const std::exception &e) {
      // Thrown by the receiver; the binding broke the read off and rethrew it.
      handle->ErrorText = e.what();
    } catch (...) {
      handle->ErrorText = "Unknown exception in the packet receiver";
    }
  }
  if (endedFd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(endedFd_, &one, sizeof one);
  }
}

void TMonitorPcap::readAdapter(TPcapHandle &handle) {
  int failedReads = 0;
  while (!terminate_.load(std::memory_order_acquire)) {
    if (PcapReadPackets(handle, 0, deliverFrame, this) >= 0) {
      failedReads = 0;
      continue;
    }
    if (++failedReads >= kMostFailedReads)
      break; // ErrorText keeps the last read's reason
    std::this_thread::sleep_for(kFailedReadPause);
  }
}

void TMonitorPcap::readFile(TPcapHandle &handle) {
  // Reads in slices so the progress stays current; a read of a file never
  // waits, so 0 records means its end (or a stop, which breaks the loop).
  while (!terminate_.load(std::memory_order_acquire)) {
    const int records = PcapReadPackets(handle, kFileRecordsPerRead, deliverFrame, this);
    const int64_t offset = PcapFileOffset(handle);
    if (offset >= 0)
      fileBytesRead_.store(offset, std::memory_order_relaxed);
    if (records <= 0)
      break; // a damaged file ends the reading: ErrorText says why
  }
}

void TMonitorPcap::onThreadEnded() {
  uint64_t ended;
  if (read(endedFd_, &ended, sizeof ended) != ssize_t(sizeof ended))
    return; // StopCapture already joined the thread and took the notice
  if (!thread_.joinable())
    return;
  thread_.join();
  // The thread wrote ErrorText before it ended (joined above): why it stopped.
  // For a file an empty ErrorText means it was read to its end.
  if (handle_ && (!handle_->ErrorText.empty() || !CaptureFile.empty()))
    lastError_ = handle_->ErrorText;
  PcapCloseAdapter(handle_);
  connected_.store(false, std::memory_order_release);
  emit CaptureEnded();
}

void TMonitorPcap::PrepareDecoder(int linkType, const std::array<uint8_t, 6> &adapterMac) {
  linkType_ = linkType;
  adapterMac_ = adapterMac;
  lanMask_ = AddrMask.empty() ? 0 : TextToAddr(AddrMask);
  timeZoneOffset_ = -GetTimeZoneBias() / 1440.0;
  totRecvBytes_.store(0, std::memory_order_relaxed);
  totSendBytes_.store(0, std::memory_order_relaxed);
  totRecvPackets_.store(0, std::memory_order_relaxed);
  totSendPackets_.store(0, std::memory_order_relaxed);
}

void TMonitorPcap::HandleFrame(const pcap_pkthdr &header, const uint8_t *frame) {
  // Only the captured bytes exist; every field beyond them reads as 0.
  const ByteReader link(std::span<const uint8_t>(frame, frame ? header.caplen : 0));
  TPacketInfo info;
  size_t linkHeaderLen;
  switch (linkType_) {
  case DLT_EN10MB:
    linkHeaderLen = kEthernetHeaderLen;
    link.copy(kEtherDestination, info.DstMac.data(), info.DstMac.size());
    link.copy(kEtherSource, info.SrcMac.data(), info.SrcMac.size());
    info.EtherType = link.be16(kEtherType);
    info.IsSend = info.SrcMac == adapterMac_;
    break;
  case DLT_LINUX_SLL:
    // Cooked captures carry the direction: no hardware address to compare.
    linkHeaderLen = kSllHeaderLen;
    info.EtherType = link.be16(kSllProtocol);
    if (link.be16(kSllAddressLen) == info.SrcMac.size())
      link.copy(kSllAddress, info.SrcMac.data(), info.SrcMac.size());
    info.IsSend = link.be16(kSllPacketType) == kPacketOutgoing;
    break;
  case DLT_LINUX_SLL2:
    linkHeaderLen = kSll2HeaderLen;
    info.EtherType = link.be16(kSll2Protocol);
    if (link.u8(kSll2AddressLen) == info.SrcMac.size())
      link.copy(kSll2Address, info.SrcMac.data(), info.SrcMac.size());
    info.IsSend = link.u8(kSll2PacketType) == kPacketOutgoing;
    break;
  default:
    return;
  }
  // Counted as an Ethernet frame whatever the link header, so every link
  // type (and the raw engine) counts the same bytes for the same traffic.
  const int64_t frameLen = int64_t(header.len) - int64_t(linkHeaderLen) + kEthernetHeaderLen;
  if (frameLen <= 0 || frameLen > INT32_MAX)
    return;
  info.FrameLen = int32_t(frameLen);
  const std::span<const uint8_t> body = link.tail(linkHeaderLen);

  if (info.EtherType == kEtherTypeIPv4) {
    DecodeAddresses(info, body);
    if (IgnoreLAN && lanMask_ != 0 &&
        ((lanMask_ & info.SrcAddr) == (lanMask_ & info.DstAddr) || info.DstAddr == 0))
      return;
  } else if (IgnoreNonIP) {
    return;
  }
  if (info.IsSend) {
    addTo(totSendBytes_, int64_t(info.FrameLen));
    addTo(totSendPackets_, int32_t(1));
  } else {
    addTo(totRecvBytes_, int64_t(info.FrameLen));
    addTo(totRecvPackets_, int32_t(1));
  }
  if (!OnPacketEvent)
    return;

  if (info.EtherType == kEtherTypeIPv4) {
    // The datagram's payload may lie past the snap length: DecodeTransport
    // copies only from the bytes it is given.
    DecodeTransport(info, body, info.FrameLen - kEthernetHeaderLen, IgnoreData);
  } else {
    info.PayloadLen = info.FrameLen - kEthernetHeaderLen;
    if (info.PayloadLen <= 0)
      return;
    if (!IgnoreData) {
      // A frame cut by the snap length delivers what was captured.
      const size_t copied = std::min(body.size(), size_t(info.PayloadLen));
      info.PayloadLen = int32_t(copied);
      if (copied > 0)
        info.Payload = SharedBytes(body.first(copied));
    }
  }
  info.CaptureTime = DateTimeFromUnix(header.ts.tv_sec, header.ts.tv_usec, timeZoneOffset_);
  OnPacketEvent(*this, info);
}
