#pragma once

#include <array>
#include <cstdint>
#include <string>

// One loaded plug-in module.
struct TCustFilterDLL {
  void *Handle = nullptr; // dlopen handle
  std::string Desc;       // from GetDLLDesVersion
  std::string Path;       // executable folder + file name
};

inline constexpr int kMaxFilterDLLs = 64;
extern std::array<TCustFilterDLL, kMaxFilterDLLs> FilterDLLs;
extern int32_t FilterDLLCount;

// Start-up of the filter subsystem: the built-in handlers, "All Data", the
// plug-ins "LT*.so" of `executableFolder` (in name order) and the filter files
// "*.flt" of `settingsFolder`. Failures of modules and files are skipped
// silently; capacities are never overrun. Folders end in "/".
void InitFilters(const std::string &executableFolder, const std::string &settingsFolder);
// The running program's folder (from /proc/self/exe), ending in "/".
std::string ExecutableFolder();
// dlclose of every module, then FreeFilterLists.
void UnloadFilterModules();
