#pragma once

#include "filters/handler_table.h"
#include "filters/plugin_api/vantor_plugin.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

// Destinations remembered by a filter whose ReturnPkg is 1, so their return
// traffic passes. Shared by every copy of the filter record; only RunFilter
// (under the filter lock) changes it.
class TReturnPairs; // filters/return_pairs.h

// The numeric form of an address condition (SIP or DIP), so that matching a
// packet compares numbers instead of building the packet address's dotted
// text. Re-parsed whenever the condition's text differs from the one it was
// parsed from, so editing a copied filter stays correct.
class TAddrCondition {
public:
  // True when the dotted text of `addr` (network order) equals `text` exactly.
  bool Matches(const std::string &text, uint32_t addr) {
    if (!parsed_ || text != text_)
      parse(text);
    return canonical_ && addr == addr_;
  }

private:
  void parse(const std::string &text);
  std::string text_;
  bool parsed_ = false;
  bool canonical_ = false; // text_ is the dotted text of addr_
  uint32_t addr_ = 0;
};

// One filter: conditions on a packet and the chain of handlers it feeds.
struct TIPFilter {
  std::string Name;
  int32_t AllProto = -1;               // -1: every protocol passes
  std::array<uint8_t, 8> Protos{};     // 255: empty entry
  std::array<uint8_t, 32> IcmpTypes{}; // 254 first: every type; 255: empty
  std::string SIP;                     // exact dotted text; empty: any
  std::string DIP;
  int32_t SPort = 0; // 0: any
  int32_t DPort = 0;
  int32_t IgZero = 0; // 1: empty payloads never pass
  TOutputProc OutProc = nullptr;
  int32_t ProcCount = 0;
  int32_t ReturnPkg = 0;                 // 1: remember destinations, pass their return traffic
  std::shared_ptr<TReturnPairs> Returns; // the RetIPs/RetPorts pairs; created when first needed
  std::array<TCustFilters, kMaxProcsPerFilter> Procs{};
  // RunFilter's parsed SIP and DIP; not part of the filter's meaning.
  TAddrCondition SipTest_{};
  TAddrCondition DipTest_{};
};

inline constexpr int kMaxIPFilters = 256;

// The filters of the run: entry 0 is "All Data", then the filter files, then
// filters created in the editor. Entries are never removed during a run.
extern std::array<TIPFilter, kMaxIPFilters> IPFilters;
extern int32_t IPFilterCount;

// Matches one packet; when it passes, writes the announcement items and runs
// the handler chain. Returns whether it passed.
bool RunFilter(TIPFilter &filter, const TFilterPacket &packet);

// Releases the remembered pairs of every table entry.
void FreeFilterLists();
