#pragma once

#include "cli/cli_options.h"

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;   // a capture that could not start or failed
inline constexpr int kExitBadUsage = 2; // arguments it cannot take

// Runs the tool with parsed options: the window's start-up (settings folder,
// filter files, plug-ins beside the executable), then a listing or one
// capture until its end, ctrl-C, -c or -s. Needs a QCoreApplication.
int RunCli(const TCliOptions &options);
