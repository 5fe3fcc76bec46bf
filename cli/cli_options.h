#pragma once

#include "pipeline/capture_pipeline.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// What the command line asks for.
struct TCliOptions {
  bool Help = false;
  bool ListAdapters = false; // -L
  bool ListFilters = false;  // --list-filters
  std::string Adapter;       // -i; empty: the first adapter
  std::string CaptureFile;   // -r
  EEngineChoice Engine = EEngineChoice::Automatic;
  std::string FilterName = "All Data";
  int64_t PacketCount = 0; // -c; 0: no limit
  int64_t Seconds = 0;     // -s; 0: no limit
  bool Promiscuous = true;
  bool IgnoreNonIP = true;
  bool HaveMac = false;
  std::array<uint8_t, 6> Mac{};
  bool Items = false;
  std::string RtfFile;
  std::string JsonFile; // "-": standard output
};

// Parses the arguments after the program name. False with `error` set for
// anything it cannot take: unknown options, missing or bad values, options
// that cannot go together.
bool ParseCliOptions(const std::vector<std::string> &args, TCliOptions &options,
                     std::string &error);
// The one-line usage, and the full help text.
std::string CliUsage();
std::string CliHelp();
// "02-00-00-00-00-01" (or with ':'); false for anything else.
bool ParseMacText(const std::string &text, std::array<uint8_t, 6> &mac);
