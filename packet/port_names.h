#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Port names from the optional file "ports.txt" (services-file layout) in the
// current folder. The file is looked for once per run, on the first lookup.

inline constexpr int32_t kPortNamesSlots = 10000;

// The parsed file: one slot per port 0..9999, empty where the file names none.
// An empty vector means the file had no lines.
std::vector<std::string> ParsePortNames(std::string_view fileContent);

// Runs the one-time load if it has not run yet. Called by PortName and PortPairName.
void LoadPortNames();
// -1 before the load, 0 without a usable file, 10000 after a successful read.
int32_t PortNamesSize();
// The file's name for `port`, or empty. Runs the load first if needed.
const std::string &FilePortName(int32_t port);

// Tests: forget the loaded file so the next lookup looks for it again.
void ResetPortNamesForTesting();
