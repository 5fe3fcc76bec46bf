#pragma once

#include <string>

// The command-line walk the bench tools share: a name in `flags` stands
// alone, every other "--name" takes the next argument as its value. Returns
// the problem, or an empty text when every option was taken.
template <typename OnFlag, typename OnValue>
std::string WalkOptions(int argc, char **argv, OnFlag onFlag, OnValue onValue) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (onFlag(name))
      continue;
    if (i + 1 >= argc)
      return "missing value for " + name;
    if (!onValue(name, argv[++i]))
      return "unknown option " + name;
  }
  return {};
}
