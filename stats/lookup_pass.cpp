// The reverse-lookup pass of TTrafficClass: one request at a time, walking
// the conversations in creation order, first for local names, then for
// remote ones, and starting over with every new conversation.
#include "stats/traffic_class.h"

#include "packet/text_format.h"

#include <algorithm>

namespace {

// Lookups per conversation, local and remote together: an address that never
// resolves stops costing queries after this many.
constexpr int32_t kMaxLookups = 6;

bool localDone(const TTrafficInfo &entry) {
  return !entry.LocalHost.empty() || entry.Lookups >= kMaxLookups;
}
bool remoteDone(const TTrafficInfo &entry) {
  return !entry.RemoteHost.empty() || entry.Lookups >= kMaxLookups;
}

} // namespace

void TTrafficClass::StartLookups() {
  if (!resolver_ || TotTraffic() == 0)
    return;
  LocalCursor = 0;
  RemoteCursor = -1;
  LookupNext();
}

// An entry once done stays done until Clear, so the done prefix only grows;
// skipping it sends the same requests as walking it, without a walk over
// every conversation each time a new one restarts the pass.
void TTrafficClass::passLocal() {
  if (LocalCursor == localDone_ && localDone(items_[size_t(LocalCursor)]))
    ++localDone_;
  ++LocalCursor;
}

void TTrafficClass::passRemote() {
  if (RemoteCursor == remoteDone_ && remoteDone(items_[size_t(RemoteCursor)]))
    ++remoteDone_;
  ++RemoteCursor;
}

void TTrafficClass::requestLookup(uint32_t address) {
  pending_ = true;
  pendingAddress_ = AddrToText(address);
  resolver_->Lookup(pendingAddress_);
}

void TTrafficClass::LookupNext() {
  const int32_t total = TotTraffic();
  if (total == 0)
    return;
  if (LocalCursor >= 0) {
    LocalCursor = std::max(LocalCursor, localDone_);
    while (LocalCursor < total) {
      TTrafficInfo &entry = items_[size_t(LocalCursor)];
      if (entry.LocalHost.empty() && entry.Lookups < kMaxLookups) {
        // Conversations of one local address usually follow each other.
        if (LocalCursor > 0) {
          const TTrafficInfo &previous = items_[size_t(LocalCursor - 1)];
          if (previous.LocalIP == entry.LocalIP)
            entry.LocalHost = previous.LocalHost;
        }
        if (entry.LocalHost.empty()) {
          ++entry.Lookups;
          requestLookup(entry.LocalIP);
          return;
        }
      }
      passLocal();
    }
    LocalCursor = -1;
    RemoteCursor = 0;
  }
  if (RemoteCursor >= 0) {
    RemoteCursor = std::max(RemoteCursor, remoteDone_);
    while (RemoteCursor < total) {
      TTrafficInfo &entry = items_[size_t(RemoteCursor)];
      if (entry.RemoteHost.empty() && entry.Lookups < kMaxLookups) {
        ++entry.Lookups;
        requestLookup(entry.RemoteIP);
        return;
      }
      passRemote();
    }
    RemoteCursor = -1;
  }
}

void TTrafficClass::LookupDone(int errorCode, const std::string &addressText,
                               const std::string &hostName) {
  std::unique_lock<std::recursive_mutex> guard;
  if (lock_)
    guard = std::unique_lock(*lock_);
  // Nothing awaited (the table was cleared after the request left), or an
  // answer to a request the pass has since replaced.
  if (!pending_ || addressText != pendingAddress_)
    return;
  pending_ = false;
  const int32_t total = TotTraffic();
  if (LocalCursor >= 0) {
    if (LocalCursor >= total)
      return;
    if (errorCode == 0)
      items_[size_t(LocalCursor)].LocalHost = lowerCase(hostName);
    passLocal();
  } else if (RemoteCursor >= 0) {
    if (RemoteCursor >= total)
      return;
    if (errorCode == 0)
      items_[size_t(RemoteCursor)].RemoteHost = lowerCase(hostName);
    passRemote();
  }
  LookupNext();
}
