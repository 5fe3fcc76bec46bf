#pragma once

#include "filters/plugin_api/vantor_plugin.h"

#include <array>
#include <cstdint>
#include <string>

struct TIPFilter;

// One handler: a table row, and as a copy, one link of a filter's chain.
struct TCustFilters {
  TFilterProc Proc = nullptr; // null marks an empty row
  std::string DLLName;        // "Internal", or the plug-in's file name without folder
  std::string ProcName;
  std::string Desc;
};

inline constexpr int kMaxFilterProcs = 128;
inline constexpr int kMaxProcsPerFilter = 64;

// Every handler known to the run, filled once at start-up: rows 0-2 are the
// built-in handlers, then the plug-ins' in module order. A row's index names
// the handler for the rest of the run.
extern std::array<TCustFilters, kMaxFilterProcs> FilterProcs;
extern int32_t FilterProcCount;

// Appends a row; false (and nothing written) when the table is full.
bool AddFilterProc(const TCustFilters &row);
// The first row whose DLLName and ProcName equal the texts exactly; index -1
// and null when none does.
TFilterProc FindFilterProc(const std::string &dllName, const std::string &procName, int32_t &index);

// Calls the filter's chain from row 0 up to the first empty row (at most 64)
// with `data` and `size`, and the filter's output callback.
void CallHandlers(const TIPFilter &filter, const void *data, int32_t size);
// "CAPSTAT" / "CAPSTOP" to every handler of the filter's chain (size 8).
void NotifyCapStat(const TIPFilter &filter);
void NotifyCapStop(const TIPFilter &filter);

// Empties the table (start-up does this before it fills it; tests too).
void ClearFilterProcs();
