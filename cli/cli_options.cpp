#include "cli/cli_options.h"

#include "packet/number_parse.h"

#include <functional>
#include <optional>

namespace {

struct TCliOption {
  const char *ShortName; // "-i", or null
  const char *LongName;  // "--interface"
  bool TakesValue;
  std::function<bool(TCliOptions &, const std::string &value, std::string &error)> Apply;
};

bool flag(bool TCliOptions::*field, bool value, TCliOptions &options) {
  options.*field = value;
  return true;
}

bool positiveNumber(const std::string &name, const std::string &value, int64_t &target,
                    std::string &error) {
  const std::optional<int32_t> number = StrictInteger(value);
  if (!number || *number <= 0) {
    error = name + " needs a positive number, not \"" + value + "\"";
    return false;
  }
  target = *number;
  return true;
}

const std::vector<TCliOption> &optionTable() {
  static const std::vector<TCliOption> table{
      {"-h", "--help", false,
       [](TCliOptions &o, const std::string &, std::string &) {
         return flag(&TCliOptions::Help, true, o);
       }},
      {"-L", "--list-adapters", false,
       [](TCliOptions &o, const std::string &, std::string &) {
         return flag(&TCliOptions::ListAdapters, true, o);
       }},
      {nullptr, "--list-filters", false,
       [](TCliOptions &o, const std::string &, std::string &) {
         return flag(&TCliOptions::ListFilters, true, o);
       }},
      {"-i", "--interface", true,
       [](TCliOptions &o, const std::string &v, std::string &) {
         o.Adapter = v;
         return true;
       }},
      {"-r", "--read", true,
       [](TCliOptions &o, const std::string &v, std::string &) {
         o.CaptureFile = v;
         return true;
       }},
      {"-e", "--engine", true,
       [](TCliOptions &o, const std::string &v, std::string &error) {
         if (v == "driver")
           o.Engine = EEngineChoice::Driver;
         else if (v == "raw")
           o.Engine = EEngineChoice::Raw;
         else {
           error = "the engine is \"driver\" or \"raw\", not \"" + v + "\"";
           return false;
         }
         return true;
       }},
      {"-f", "--filter", true,
       [](TCliOptions &o, const std::string &v, std::string &) {
         o.FilterName = v;
         return true;
       }},
      {"-c", "--count", true,
       [](TCliOptions &o, const std::string &v, std::string &error) {
         return positiveNumber("-c", v, o.PacketCount, error);
       }},
      {"-s", "--seconds", true,
       [](TCliOptions &o, const std::string &v, std::string &error) {
         return positiveNumber("-s", v, o.Seconds, error);
       }},
      {nullptr, "--no-promiscuous", false,
       [](TCliOptions &o, const std::string &, std::string &) {
         return flag(&TCliOptions::Promiscuous, false, o);
       }},
      {nullptr, "--keep-non-ip", false,
       [](TCliOptions &o, const std::string &, std::string &) {
         return flag(&TCliOptions::IgnoreNonIP, false, o);
       }},
      {nullptr, "--mac", true,
       [](TCliOptions &o, const std::string &v, std::string &error) {
         if (!ParseMacText(v, o.Mac)) {
           error = "--mac needs a hardware address such as 02-00-00-00-00-01, not \"" + v + "\"";
           return false;
         }
         o.HaveMac = true;
         return true;
       }},
      {nullptr, "--items", false,
       [](TCliOptions &o, const std::string &, std::string &) {
         return flag(&TCliOptions::Items, true, o);
       }},
      {nullptr, "--rtf", true,
       [](TCliOptions &o, const std::string &v, std::string &) {
         o.RtfFile = v;
         return true;
       }},
      {nullptr, "--json", true,
       [](TCliOptions &o, const std::string &v, std::string &) {
         o.JsonFile = v;
         return true;
       }},
  };
  return table;
}

// The option an argument names, and where its attached value starts
// ("--json=x", "-c5"); null when none does.
const TCliOption *findOption(const std::string &arg, std::optional<std::string> &attached) {
  attached.reset();
  for (const TCliOption &option : optionTable()) {
    const std::string longName = option.LongName;
    if (arg == longName)
      return &option;
    if (option.TakesValue && arg.rfind(longName + "=", 0) == 0) {
      attached = arg.substr(longName.size() + 1);
      return &option;
    }
    if (!option.ShortName)
      continue;
    const std::string shortName = option.ShortName;
    if (arg == shortName)
      return &option;
    if (option.TakesValue && arg.size() > 2 && arg.rfind(shortName, 0) == 0) {
      attached = arg.substr(2);
      return &option;
    }
  }
  return nullptr;
}

bool checkCombination(const TCliOptions &options, std::string &error) {
  const bool reading = !options.CaptureFile.empty();
  if (reading && !options.Adapter.empty())
    error = "-i and -r cannot go together: capture on an adapter or read a file";
  else if (reading && options.Engine == EEngineChoice::Raw)
    error = "-r reads through the driver engine; it cannot go with -e raw";
  else if (options.HaveMac && !reading)
    error = "--mac applies to a file read with -r; a live capture uses the adapter's address";
  else if (options.Items && options.JsonFile == "-")
    error = "--items and --json - both write to standard output; give --json a file name";
  return error.empty();
}

} // namespace

bool ParseMacText(const std::string &text, std::array<uint8_t, 6> &mac) {
  if (text.size() != 17)
    return false;
  const char separator = text[2];
  if (separator != '-' && separator != ':')
    return false;
  for (size_t i = 0; i < 6; ++i) {
    const size_t at = i * 3;
    if (i > 0 && text[at - 1] != separator)
      return false;
    int value = 0;
    for (size_t k = at; k < at + 2; ++k) {
      const char c = text[k];
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return false;
      value = value * 16 + digit;
    }
    mac[i] = uint8_t(value);
  }
  return true;
}

bool ParseCliOptions(const std::vector<std::string> &args, TCliOptions &options,
                     std::string &error) {
  options = TCliOptions{};
  error.clear();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    std::optional<std::string> value;
    const TCliOption *option = findOption(arg, value);
    if (!option) {
      error = arg.rfind("-", 0) == 0 ? "unknown option \"" + arg + "\""
                                     : "unexpected argument \"" + arg + "\"";
      return false;
    }
    if (option->TakesValue && !value) {
      if (i + 1 >= args.size()) {
        error = std::string(option->ShortName ? option->ShortName : option->LongName) +
                " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!option->Apply(options, value.value_or(std::string()), error))
      return false;
  }
  return checkCombination(options, error);
}

std::string CliUsage() {
  return "usage: vantor-cli [-L | --list-filters] [-i NAME | -r FILE [--mac MAC]] "
         "[-e driver|raw] [-f FILTER] [-c N] [-s N] [--no-promiscuous] [--keep-non-ip] "
         "[--items] [--rtf FILE] [--json FILE|-]";
}

std::string CliHelp() {
  return CliUsage() + R"(

Captures IPv4 traffic like the Vantor window, without one: counts every
conversation and service, runs each packet through a filter, and writes what
the filter's handlers produce.

  -L, --list-adapters   list the adapters with their addresses, and the engine
      --list-filters    list the filters (settings folder and plug-ins)
  -i, --interface NAME  capture on this adapter (default: the first one)
  -r, --read FILE       read a pcap or pcapng file instead of capturing
      --mac MAC         with -r: the hardware address that counts as this
                        host's (without it every frame counts as received)
  -e, --engine E        "driver" (libpcap) or "raw" (packet socket); default:
                        the driver engine when libpcap loads
  -f, --filter NAME     the filter to apply (default "All Data")
  -c, --count N         stop after N packets
  -s, --seconds N       stop after N seconds
      --no-promiscuous  do not put the adapter in promiscuous mode
      --keep-non-ip     keep frames other than IPv4 (driver engine)
      --items           write the Data View items to standard output
      --rtf FILE        save the Data View as RTF at the end
      --json FILE|-     write the statistics as JSON at the end
  -h, --help            this text

Ctrl-C stops the capture like the Stop button. Exit status: 0 done, 1 the
capture could not start or failed, 2 bad arguments.
)";
}
