#include "filters/handler_table.h"

#include "filters/ip_filter.h"

std::array<TCustFilters, kMaxFilterProcs> FilterProcs;
int32_t FilterProcCount = 0;

bool AddFilterProc(const TCustFilters &row) {
  if (FilterProcCount < 0 || FilterProcCount >= kMaxFilterProcs)
    return false;
  FilterProcs[size_t(FilterProcCount)] = row;
  ++FilterProcCount;
  return true;
}

TFilterProc FindFilterProc(const std::string &dllName, const std::string &procName,
                           int32_t &index) {
  for (int32_t i = 0; i < FilterProcCount && i < kMaxFilterProcs; ++i) {
    const TCustFilters &row = FilterProcs[size_t(i)];
    if (row.DLLName == dllName && row.ProcName == procName) {
      index = i;
      return row.Proc;
    }
  }
  index = -1;
  return nullptr;
}

void CallHandlers(const TIPFilter &filter, const void *data, int32_t size) {
  // A chain without a sink has nowhere to write; handlers are not required to
  // check the callback before calling it.
  if (filter.OutProc == nullptr)
    return;
  for (const TCustFilters &row : filter.Procs) {
    if (row.Proc == nullptr)
      break;
    row.Proc(data, size, filter.OutProc);
  }
}

void NotifyCapStat(const TIPFilter &filter) {
  static constexpr char kText[] = VANTOR_NOTIFY_CAPSTAT;
  static_assert(sizeof kText == VANTOR_NOTIFY_SIZE);
  CallHandlers(filter, kText, VANTOR_NOTIFY_SIZE);
}

void NotifyCapStop(const TIPFilter &filter) {
  static constexpr char kText[] = VANTOR_NOTIFY_CAPSTOP;
  static_assert(sizeof kText == VANTOR_NOTIFY_SIZE);
  CallHandlers(filter, kText, VANTOR_NOTIFY_SIZE);
}

void ClearFilterProcs() {
  for (TCustFilters &row : FilterProcs)
    row = TCustFilters{};
  FilterProcCount = 0;
}
