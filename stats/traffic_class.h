#pragma once

#include "packet/packet_info.h"
#include "stats/reverse_resolver.h"
#include "stats/traffic_info.h"

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What the capture has counted since the last Clear: one entry per
// conversation of IPv4 ICMP, TCP or UDP, one row per service plus a totals
// row, and the host names a background pass of reverse lookups finds.
//
// The table has no lock of its own: its owner calls AddPacket and every
// reader under one lock (given to SetLock), which LookupDone takes as well.
class TTrafficClass : public QObject {
public:
  // `resolver` may be null: then no names are looked up.
  explicit TTrafficClass(std::unique_ptr<TReverseResolver> resolver = nullptr,
                         QObject *owner = nullptr);
  ~TTrafficClass() override;

  // The lock that guards the table; LookupDone runs under it. Null: none.
  void SetLock(std::recursive_mutex *lock) { lock_ = lock; }

  // Forgets every conversation and service row, and a pending lookup.
  void Clear();
  // Counts one packet; packets other than IPv4 ICMP, TCP and UDP are ignored.
  void AddPacket(const TPacketInfo &packet);
  // Brings the service rows up to date with the conversations; AddPacket
  // already keeps them so, and callers still call it after every AddPacket.
  void UpdateServices();

  int32_t TotTraffic() const { return int32_t(items_.size()); }
  int32_t TotService() const { return int32_t(services_.size()); }
  // The index-th conversation in key order, or null past the end. Valid
  // until the next AddPacket, UpdateServices or Clear.
  const TTrafficInfo *GetTraffic(int32_t index);
  // Row `index`: 0 is the totals row, then the services in the order their
  // first conversation appeared; null past the end. Valid as GetTraffic's.
  const TServiceInfo *GetService(int32_t index) const;
  // The four counters summed over all conversations; the rest zero or empty.
  void GetTotals(TServiceInfo &totals) const;
  // Lower-case name of a TCP/UDP port or an ICMP type; empty otherwise.
  static std::string GetServiceName(uint16_t protocol, uint16_t port);

  // Completion of a reverse lookup of `addressText` (errorCode 0: success).
  // Runs on the main thread; takes the table's lock. A completion for any
  // other request than the one awaited is dropped: the capture thread may
  // have restarted the pass between the resolver's delivery and this lock.
  void LookupDone(int errorCode, const std::string &addressText, const std::string &hostName);

private:
  // What one packet adds to its conversation, its key laid out as in
  // TTrafficInfo so the two compare alike.
  struct TPacketCounts {
    uint32_t LocalIP = 0;
    uint32_t RemoteIP = 0;
    uint16_t Port = 0;
    uint16_t Protocol = 0;
    int32_t PacketsSent = 0;
    int32_t PacketsRecv = 0;
    int64_t BytesSent = 0;
    int64_t BytesRecv = 0;
  };
  // The part of a conversation that every one of its packets touches, kept
  // apart from its TTrafficInfo so that a busy table's working set stays
  // small: the open-addressing index holds these records themselves, so a
  // packet of a known conversation reads and writes one place in memory.
  // GetTraffic copies the counters into the entry it hands out. Packed to
  // 44 bytes; its 64-bit fields are only ever copied, never referenced.
#pragma pack(push, 4)
  struct THotSlot {
    uint32_t LocalIP = 0; // the key, laid out as in TTrafficInfo
    uint32_t RemoteIP = 0;
    uint16_t Port = 0;
    uint16_t Protocol = 0; // 0: a free slot (a conversation's is 1, 6 or 17)
    int32_t PacketsSent = 0;
    int32_t PacketsRecv = 0;
    int64_t BytesSent = 0;
    int64_t BytesRecv = 0;
    TDateTime LastSeen = 0;
  };
#pragma pack(pop)
  static_assert(offsetof(TPacketCounts, RemoteIP) == 4 && offsetof(TPacketCounts, Port) == 8 &&
                offsetof(TPacketCounts, Protocol) == 10);
  static_assert(offsetof(THotSlot, RemoteIP) == 4 && offsetof(THotSlot, Port) == 8 &&
                offsetof(THotSlot, Protocol) == 10 && sizeof(THotSlot) == 44);

  // Elements in chunks of 2^kShift: they never move, and growing copies none.
  template <typename T, int kShift> class TChunked {
  public:
    T &operator[](size_t index) { return chunks_[index >> kShift][index & kMask]; }
    const T &operator[](size_t index) const { return chunks_[index >> kShift][index & kMask]; }
    size_t size() const { return size_; }
    T &emplace_back() {
      if (size_ == chunks_.size() << kShift)
        chunks_.push_back(std::make_unique<T[]>(kMask + 1));
      return (*this)[size_++];
    }
    void clear() {
      chunks_.clear();
      chunks_.shrink_to_fit();
      size_ = 0;
    }

  private:
    static constexpr size_t kMask = (size_t(1) << kShift) - 1;
    std::vector<std::unique_ptr<T[]>> chunks_;
    size_t size_ = 0;
  };

  struct TServiceSlot {
    uint32_t key; // the 4 key bytes of the row
    uint32_t row; // into services_; kEmptySlot when free
  };
  static constexpr uint32_t kEmptySlot = UINT32_MAX;

  uint64_t hashTrafficKey(const void *key) const;
  size_t homeSlot(uint64_t hash) const;
  size_t findSlot(const void *key) const; // the key's slot, or the free one its probe ends on
  void addTraffic(const TPacketCounts &counts, TDateTime captureTime, size_t slot);
  void growTrafficSlots();
  uint32_t serviceRowOf(uint32_t key) const;
  void addServiceHost(const TTrafficInfo &conversation);
  void growServiceSlots();
  void resetIndexes();
  void sortKeyOrder();
  static std::string lowerCase(std::string text);

  void StartLookups();
  void LookupNext();
  void requestLookup(uint32_t address);
  void passLocal();
  void passRemote();

  // Conversations in creation order; entries never move.
  TChunked<TTrafficInfo, 8> items_;
  // Linear probing over the 12 key bytes, kept at most 80% full.
  std::vector<THotSlot> slots_;
  uint64_t seed_[2] = {};
  // Every index in key order up to sortedCount_, the newer ones after it;
  // GetTraffic merges them in when asked.
  std::vector<uint32_t> keyOrder_;
  size_t sortedCount_ = 0;

  // Row 0 is the totals row; rows stay current as packets arrive.
  std::vector<TServiceInfo> services_;
  std::vector<TServiceSlot> serviceSlots_; // a power of two, at most half full
  int serviceShift_ = 0;                   // 64 minus its log2

  std::recursive_mutex *lock_ = nullptr;

  // The reverse-lookup pass: positions in the local and the remote phase
  // (-1 outside the phase), whether a request awaits its completion, and the
  // first entry whose local (remote) name may still be looked up: entries
  // before it are named or out of tries, and stay so until Clear.
  int32_t LocalCursor = -1;
  int32_t RemoteCursor = -1;
  bool pending_ = false;
  std::string pendingAddress_; // the address text of the awaited request
  int32_t localDone_ = 0;
  int32_t remoteDone_ = 0;
  std::unique_ptr<TReverseResolver> resolver_;
};
