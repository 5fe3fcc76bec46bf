#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TTrafficClass;
struct TTrafficInfo;
struct TServiceInfo;

// Columns of the conversation list, in display order.
enum ETrafficColumn {
  kSourceIpColumn,
  kDestIpColumn,
  kPackageTypeColumn,
  kServicePortColumn,
  kServiceNameColumn,
  kTrafficSendBytesColumn,
  kTrafficReceiveBytesColumn,
  kTrafficSendPackagesColumn,
  kTrafficReceivePackagesColumn,
  kTrafficColumnCount
};

// Columns of the service list, in display order.
enum EServiceColumn {
  kServiceColumn,
  kServiceSendBytesColumn,
  kServiceReceiveBytesColumn,
  kServiceSendPackagesColumn,
  kServiceReceivePackagesColumn,
  kHostsColumn,
  kServiceColumnCount
};

// The column captions; they are not translated ("Sevice Port" is the
// caption users know).
inline constexpr std::array<const char *, kTrafficColumnCount> kTrafficCaptions{
    "Source IP",  "Dest IP",       "Package Type",  "Sevice Port",     "Service Name",
    "Send Bytes", "Receive Bytes", "Send Packages", "Receive Packages"};
inline constexpr std::array<const char *, kServiceColumnCount> kServiceCaptions{
    "Service", "Send Bytes", "Receive Bytes", "Send Packages", "Receive Packages", "Hosts"};

using TTrafficRowTexts = std::array<std::string, kTrafficColumnCount>;
using TServiceRowTexts = std::array<std::string, kServiceColumnCount>;

// The cell texts of one row, as the lists show them.
TTrafficRowTexts TrafficRowTexts(const TTrafficInfo &conversation);
TServiceRowTexts ServiceRowTexts(const TServiceInfo &service);

// The interface texts the summary is made of.
struct TSummaryTexts {
  std::string BytesSent = "Bytes Sent";
  std::string Received = "Received";
  std::string PackageSent = "Package Sent";
};

// What one refresh changed in a list, for a view to announce.
struct TListChange {
  bool Rebuilt = false;      // every row was removed first
  int32_t FirstAppended = 0; // rows from here on are new
  int32_t Appended = 0;
  std::vector<std::pair<int32_t, int32_t>> ChangedCells; // (row, column) of rows kept
};

// The texts of the statistics page, brought up to date tick by tick the way
// the lists are kept: rows appended, a list rebuilt only when it has more
// rows than its table, a cell written only when its text changed. The window
// shows them through its models; the command-line tool writes them out.
class TStatisticsView {
public:
  // Call under the lock that guards the table.
  void Refresh(TTrafficClass &table, const TSummaryTexts &texts);
  // A start deletes the conversation rows (the service rows stay until the
  // next refresh overwrites them).
  void ClearTraffic();

  // Two lines joined by CR LF; empty before the first refresh.
  const std::string &Summary() const { return summary_; }
  const std::vector<TTrafficRowTexts> &TrafficRows() const { return traffic_; }
  const std::vector<TServiceRowTexts> &ServiceRows() const { return services_; }
  const TListChange &TrafficChange() const { return trafficChange_; }
  const TListChange &ServiceChange() const { return serviceChange_; }
  bool SummaryChanged() const { return summaryChanged_; }

private:
  std::string summary_;
  bool summaryChanged_ = false;
  std::vector<TTrafficRowTexts> traffic_;
  std::vector<TServiceRowTexts> services_;
  TListChange trafficChange_;
  TListChange serviceChange_;
};
