#include "stats/traffic_class.h"

#include "packet/names.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <type_traits>

namespace {

// The index holds at most 80% of its slots and grows by half when that is
// reached: the slots then take between 55 and 83 bytes per conversation, and
// a probe for a known key reads at most about three slots on average, side by
// side. A fuller index would probe longer, an emptier one would be bigger and
// so miss the cache more often. It starts with room for 100 conversations.
constexpr size_t kInitialSlots = 128;
constexpr size_t kMaxLoadPercent = 80;
constexpr size_t kInitialServiceSlots = 64;

// The counters wrap around like the fixed-width fields they are, instead of
// overflowing into undefined behaviour after 2^31 packets.
template <typename T> T wrappingSum(T a, T b) {
  using U = std::make_unsigned_t<T>;
  return T(U(a) + U(b));
}

// By value, not by reference: THotSlot's fields may be unaligned.
template <typename Row, typename Delta> void addCounters(Row &row, const Delta &delta) {
  row.BytesSent = wrappingSum(row.BytesSent, delta.BytesSent);
  row.BytesRecv = wrappingSum(row.BytesRecv, delta.BytesRecv);
  row.PacketsSent = wrappingSum(row.PacketsSent, delta.PacketsSent);
  row.PacketsRecv = wrappingSum(row.PacketsRecv, delta.PacketsRecv);
}

uint64_t mix(uint64_t a, uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return uint64_t(product) ^ uint64_t(product >> 64);
}

int shiftFor(size_t slotCount) {
  return 64 - std::countr_zero(slotCount);
}

// The 4 service key bytes: Port and Protocol, laid out alike in both records.
uint32_t serviceKeyOf(const TServiceInfo &row) {
  uint32_t key;
  std::memcpy(&key, &row.Port, sizeof key);
  return key;
}
uint32_t serviceKeyOf(const TTrafficInfo &conversation) {
  uint32_t key;
  std::memcpy(&key, &conversation.Port, sizeof key);
  return key;
}

template <typename To, typename From> void copyTrafficKey(To &to, const From &from) {
  to.LocalIP = from.LocalIP;
  to.RemoteIP = from.RemoteIP;
  to.Port = from.Port;
  to.Protocol = from.Protocol;
}

bool sameTrafficKey(const void *a, const void *b) {
  return std::memcmp(a, b, kTrafficKeyLen) == 0;
}

} // namespace

TTrafficClass::TTrafficClass(std::unique_ptr<TReverseResolver> resolver, QObject *owner)
    : QObject(owner), resolver_(std::move(resolver)) {
  // A per-table seed keeps senders of crafted addresses from lining their
  // conversations up in one probe chain.
  std::random_device random;
  for (uint64_t &s : seed_)
    s = uint64_t(random()) << 32 | random();
  resetIndexes();
  if (resolver_)
    resolver_->SetCompletion(
        [this](int errorCode, const std::string &addressText, const std::string &hostName) {
          LookupDone(errorCode, addressText, hostName);
        });
}

TTrafficClass::~TTrafficClass() {
  // First the resolver, so that no completion can reach a half-destroyed table.
  resolver_.reset();
}

std::string TTrafficClass::lowerCase(std::string text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'Z')
      c = char(c - 'A' + 'a');
  return text;
}

void TTrafficClass::resetIndexes() {
  std::vector<THotSlot>(kInitialSlots).swap(slots_);
  serviceSlots_.assign(kInitialServiceSlots, TServiceSlot{0, kEmptySlot});
  serviceSlots_.shrink_to_fit();
  serviceShift_ = shiftFor(serviceSlots_.size());
}

void TTrafficClass::Clear() {
  items_.clear();
  std::vector<uint32_t>().swap(keyOrder_);
  sortedCount_ = 0;
  std::vector<TServiceInfo>().swap(services_);
  resetIndexes();
  // The cursors stay: no completion is awaited any more, and the next
  // conversation restarts the pass.
  pending_ = false;
  localDone_ = 0;
  remoteDone_ = 0;
}

uint64_t TTrafficClass::hashTrafficKey(const void *key) const {
  uint64_t addresses;
  uint32_t portProtocol;
  std::memcpy(&addresses, key, sizeof addresses);
  std::memcpy(&portProtocol, static_cast<const char *>(key) + 8, sizeof portProtocol);
  return mix(addresses ^ seed_[0], (uint64_t(portProtocol) << 32 | portProtocol) ^ seed_[1]);
}

// Any slot count works: the hash is scaled to it rather than masked.
size_t TTrafficClass::homeSlot(uint64_t hash) const {
  return size_t((static_cast<unsigned __int128>(hash) * slots_.size()) >> 64);
}

size_t TTrafficClass::findSlot(const void *key) const {
  size_t at = homeSlot(hashTrafficKey(key));
  while (slots_[at].Protocol != 0 && !sameTrafficKey(&slots_[at], key))
    if (++at == slots_.size())
      at = 0;
  return at;
}

void TTrafficClass::growTrafficSlots() {
  std::vector<THotSlot> previous(slots_.size() + slots_.size() / 2);
  previous.swap(slots_); // slots_ is now the larger one, empty
  for (const THotSlot &slot : previous)
    if (slot.Protocol != 0)
      slots_[findSlot(&slot)] = slot;
}

// A new conversation that starts with the packet's counts; `slot` is the free
// slot its key's probe ended on.
void TTrafficClass::addTraffic(const TPacketCounts &counts, TDateTime captureTime, size_t slot) {
  const uint32_t index = uint32_t(items_.size());
  TTrafficInfo &entry = items_.emplace_back();
  copyTrafficKey(entry, counts);
  addCounters(entry, counts);
  entry.FirstSeen = captureTime;
  entry.LastSeen = captureTime;
  keyOrder_.push_back(index);

  THotSlot hot;
  copyTrafficKey(hot, counts);
  addCounters(hot, counts);
  hot.LastSeen = captureTime;
  slots_[slot] = hot;
  if (items_.size() * 100 > slots_.size() * kMaxLoadPercent)
    growTrafficSlots();
  addServiceHost(entry);
}

void TTrafficClass::growServiceSlots() {
  serviceSlots_.assign(serviceSlots_.size() * 2, TServiceSlot{0, kEmptySlot});
  serviceShift_ = shiftFor(serviceSlots_.size());
  const size_t mask = serviceSlots_.size() - 1;
  // Row 0, the totals row, is never looked up by key.
  for (uint32_t row = 1; row < services_.size(); ++row) {
    const uint32_t key = serviceKeyOf(services_[row]);
    size_t at = size_t(mix(key ^ seed_[0], seed_[1]) >> serviceShift_);
    while (serviceSlots_[at].row != kEmptySlot)
      at = (at + 1) & mask;
    serviceSlots_[at] = TServiceSlot{key, row};
  }
}

// The row of a service key; the key must have one (every conversation's has).
uint32_t TTrafficClass::serviceRowOf(uint32_t key) const {
  const size_t mask = serviceSlots_.size() - 1;
  size_t at = size_t(mix(key ^ seed_[0], seed_[1]) >> serviceShift_);
  while (serviceSlots_[at].key != key || serviceSlots_[at].row == kEmptySlot)
    at = (at + 1) & mask;
  return serviceSlots_[at].row;
}

// A conversation just created counts as one more host of its service and of
// the totals row; a service seen for the first time gets a new row at the
// end. The rows thus stand as a rebuild from the conversations in creation
// order would place them.
void TTrafficClass::addServiceHost(const TTrafficInfo &conversation) {
  if (services_.empty())
    services_.emplace_back().ServiceName = "TOTALS";
  ++services_.front().Hosts;
  const uint32_t key = serviceKeyOf(conversation);
  const size_t mask = serviceSlots_.size() - 1;
  size_t at = size_t(mix(key ^ seed_[0], seed_[1]) >> serviceShift_);
  for (; serviceSlots_[at].row != kEmptySlot; at = (at + 1) & mask) {
    if (serviceSlots_[at].key == key) {
      ++services_[serviceSlots_[at].row].Hosts;
      return;
    }
  }
  const uint32_t rowIndex = uint32_t(services_.size());
  TServiceInfo &row = services_.emplace_back();
  row.Port = conversation.Port;
  row.Protocol = conversation.Protocol;
  row.ServiceName = conversation.ServiceName;
  row.Hosts = 1;
  if (services_.size() * 2 > serviceSlots_.size())
    growServiceSlots(); // places the new row too
  else
    serviceSlots_[at] = TServiceSlot{key, rowIndex};
}

void TTrafficClass::AddPacket(const TPacketInfo &packet) {
  const uint8_t protocol = packet.IpProto;
  if (packet.EtherType != kEtherTypeIPv4 ||
      (protocol != kProtoIcmp && protocol != kProtoTcp && protocol != kProtoUdp))
    return;

  // Selections rather than branches: the direction of consecutive packets is
  // unpredictable, and a mispredicted branch costs more than computing both.
  const bool send = packet.IsSend;
  TPacketCounts counts;
  counts.Protocol = protocol;
  counts.LocalIP = send ? packet.SrcAddr : packet.DstAddr;
  counts.RemoteIP = send ? packet.DstAddr : packet.SrcAddr;
  const uint16_t remotePort = uint16_t(send ? packet.DstPort : packet.SrcPort);
  const int32_t localPort = send ? packet.SrcPort : packet.DstPort;
  counts.BytesSent = send ? packet.FrameLen : 0;
  counts.BytesRecv = send ? 0 : packet.FrameLen;
  counts.PacketsSent = send;
  counts.PacketsRecv = !send;
  if (protocol == kProtoIcmp) {
    // Echo replies (type 0) join their echo requests (type 8).
    counts.Port = packet.IcmpMsgType == 0 ? 8 : packet.IcmpMsgType;
  } else {
    // Named after the well-known port, whichever side holds it; a client's
    // connections to one remote port share one entry whatever its own port.
    const bool localIsService = (remotePort >= 1024) & (localPort < 1024);
    counts.Port = localIsService ? uint16_t(localPort) : remotePort;
  }

  const size_t at = findSlot(&counts);
  const bool known = slots_[at].Protocol != 0;
  if (known) {
    THotSlot &hot = slots_[at];
    addCounters(hot, counts);
    hot.LastSeen = packet.CaptureTime;
  } else {
    addTraffic(counts, packet.CaptureTime, at); // may move every slot
  }
  uint32_t serviceKey;
  std::memcpy(&serviceKey, &counts.Port, sizeof serviceKey);
  addCounters(services_[serviceRowOf(serviceKey)], counts);
  addCounters(services_.front(), counts);
  if (!known)
    StartLookups();
}

void TTrafficClass::UpdateServices() {
  // Nothing left to do: AddPacket keeps every row current, so the rows
  // already equal a rebuild from all conversations, at a cost per packet
  // that does not grow with the table.
}

void TTrafficClass::sortKeyOrder() {
  if (sortedCount_ == keyOrder_.size())
    return;
  const auto less = [this](uint32_t a, uint32_t b) {
    return CompareTrafficKeys(&items_[a], &items_[b]) < 0;
  };
  const auto newer = keyOrder_.begin() + std::ptrdiff_t(sortedCount_);
  std::sort(newer, keyOrder_.end(), less);
  std::inplace_merge(keyOrder_.begin(), newer, keyOrder_.end(), less);
  sortedCount_ = keyOrder_.size();
}

const TTrafficInfo *TTrafficClass::GetTraffic(int32_t index) {
  if (index < 0 || index >= TotTraffic())
    return nullptr;
  sortKeyOrder();
  TTrafficInfo &entry = items_[keyOrder_[size_t(index)]];
  const THotSlot &hot = slots_[findSlot(&entry)];
  entry.BytesSent = hot.BytesSent;
  entry.BytesRecv = hot.BytesRecv;
  entry.PacketsSent = hot.PacketsSent;
  entry.PacketsRecv = hot.PacketsRecv;
  entry.LastSeen = hot.LastSeen;
  return &entry;
}

const TServiceInfo *TTrafficClass::GetService(int32_t index) const {
  if (index < 0 || index >= TotService())
    return nullptr;
  return &services_[size_t(index)];
}

void TTrafficClass::GetTotals(TServiceInfo &totals) const {
  totals = TServiceInfo{};
  // The totals row holds exactly these sums over all conversations.
  if (!services_.empty()) {
    const TServiceInfo &row = services_.front();
    totals.BytesSent = row.BytesSent;
    totals.BytesRecv = row.BytesRecv;
    totals.PacketsSent = row.PacketsSent;
    totals.PacketsRecv = row.PacketsRecv;
  }
}

std::string TTrafficClass::GetServiceName(uint16_t protocol, uint16_t port) {
  if (protocol == kProtoTcp || protocol == kProtoUdp)
    return lowerCase(PortName(port));
  if (protocol == kProtoIcmp)
    return lowerCase(IcmpTypeName(port));
  return {};
}
