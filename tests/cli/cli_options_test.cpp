// What the command line accepts, and the clear refusals of what it cannot take.
#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

struct Accepted {
  const char *what;
  Args args;
  std::function<bool(const TCliOptions &)> holds;
};

TEST(CliOptions, AcceptsEveryOptionInItsForms) {
  const Accepted cases[] = {
      {"nothing: capture on the first adapter",
       {},
       [](const TCliOptions &o) {
         return o.Adapter.empty() && o.CaptureFile.empty() && o.FilterName == "All Data" &&
                o.Engine == EEngineChoice::Automatic && o.Promiscuous && o.IgnoreNonIP &&
                !o.Items && o.PacketCount == 0 && o.Seconds == 0;
       }},
      {"listings",
       {"-L", "--list-filters"},
       [](const TCliOptions &o) { return o.ListAdapters && o.ListFilters; }},
      {"adapter, engine, filter, limits",
       {"-i", "eth1", "-e", "raw", "-f", "My Filter", "-c", "10", "-s", "5"},
       [](const TCliOptions &o) {
         return o.Adapter == "eth1" && o.Engine == EEngineChoice::Raw &&
                o.FilterName == "My Filter" && o.PacketCount == 10 && o.Seconds == 5;
       }},
      {"attached values",
       {"-c5", "--interface=eth2", "--engine=driver", "--json=-"},
       [](const TCliOptions &o) {
         return o.PacketCount == 5 && o.Adapter == "eth2" && o.Engine == EEngineChoice::Driver &&
                o.JsonFile == "-";
       }},
      {"file with its hardware address",
       {"-r", "in.pcap", "--mac", "02:00:5e:10:00:0A"},
       [](const TCliOptions &o) {
         return o.CaptureFile == "in.pcap" && o.HaveMac &&
                o.Mac == std::array<uint8_t, 6>{0x02, 0x00, 0x5E, 0x10, 0x00, 0x0A};
       }},
      {"check buttons off, outputs",
       {"--no-promiscuous", "--keep-non-ip", "--items", "--rtf", "v.rtf"},
       [](const TCliOptions &o) {
         return !o.Promiscuous && !o.IgnoreNonIP && o.Items && o.RtfFile == "v.rtf";
       }},
      {"help", {"-h"}, [](const TCliOptions &o) { return o.Help; }},
  };
  for (const Accepted &c : cases) {
    SCOPED_TRACE(c.what);
    TCliOptions options;
    std::string error;
    ASSERT_TRUE(ParseCliOptions(c.args, options, error)) << error;
    EXPECT_TRUE(c.holds(options));
  }
}

TEST(CliOptions, RefusesWhatItCannotTakeWithTheReason) {
  const std::pair<Args, const char *> cases[] = {
      {{"--bogus"}, "unknown option \"--bogus\""},
      {{"stray"}, "unexpected argument \"stray\""},
      {{"-i"}, "-i needs a value"},
      {{"--json"}, "--json needs a value"},
      {{"-e", "pcap"}, "the engine is \"driver\" or \"raw\""},
      {{"-c", "0"}, "-c needs a positive number"},
      {{"-c", "ten"}, "-c needs a positive number"},
      {{"-s", "-3"}, "-s needs a positive number"},
      {{"-s", "99999999999"}, "-s needs a positive number"},
      {{"--mac", "02-00-00-00-00"}, "--mac needs a hardware address"},
      {{"--mac", "02-00-00-00-00-0G"}, "--mac needs a hardware address"},
      {{"-r", "f.pcap", "-i", "eth0"}, "-i and -r cannot go together"},
      {{"-r", "f.pcap", "-e", "raw"}, "cannot go with -e raw"},
      {{"--mac", "02-00-00-00-00-01"}, "--mac applies to a file"},
      {{"--items", "--json", "-"}, "both write to standard output"},
  };
  for (const auto &[args, expected] : cases) {
    SCOPED_TRACE(args.front());
    TCliOptions options;
    std::string error;
    EXPECT_FALSE(ParseCliOptions(args, options, error));
    EXPECT_NE(error.find(expected), std::string::npos) << error;
  }
}

} // namespace
