#include "cli/cli_options.h"
#include "cli/cli_run.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("Vantor");

  std::vector<std::string> args(argv + 1, argv + argc);
  TCliOptions options;
  std::string error;
  if (!ParseCliOptions(args, options, error)) {
    std::fprintf(stderr, "vantor-cli: %s\n%s\n", error.c_str(), CliUsage().c_str());
    return kExitBadUsage;
  }
  if (options.Help) {
    std::fputs(CliHelp().c_str(), stdout);
    return kExitOk;
  }
  return RunCli(options);
}
