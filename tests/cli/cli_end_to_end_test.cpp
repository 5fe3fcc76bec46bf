// vantor-cli as its users run it: on capture files the tests write, with
// exact statistics tables, the items and the RTF view, the refusals and their
// exit statuses, and live captures between two network namespaces, stopped
// by -s, -c or ctrl-C.
#include "capture/pcap_binding.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/file_helpers.h"
#include "tests/support/netns.h"
#include "tests/support/pcap_file.h"
#include "tests/support/rtf_reader.h"
#include "tests/support/temp_folder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Mac = std::array<uint8_t, 6>;
constexpr Mac kOurMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr Mac kGatewayMac{0x02, 0x00, 0x00, 0x00, 0x00, 0xFE};
constexpr Mac kBroadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

QProcessEnvironment cliEnvironment(const std::string &settingsBase) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("APPDATA", QString::fromStdString(settingsBase));
  // Fixed separators and language: the tables below are exact.
  env.insert("LC_ALL", "C");
  env.remove("LANG");
  env.remove("LC_MESSAGES");
  return env;
}

QStringList toArgs(const std::vector<std::string> &args) {
  QStringList list;
  for (const std::string &arg : args)
    list << QString::fromStdString(arg);
  return list;
}

CliResult finish(QProcess &process, int timeoutMs = 30000) {
  CliResult result;
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << "vantor-cli did not end in time";
  }
  result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.out = process.readAllStandardOutput().toStdString();
  result.err += process.readAllStandardError().toStdString();
  return result;
}

// `prefix` runs the tool through another program (ip netns exec).
CliResult runCli(const std::string &settingsBase, const std::vector<std::string> &args,
                 const std::vector<std::string> &prefix = {}) {
  QProcess process;
  process.setProcessEnvironment(cliEnvironment(settingsBase));
  std::vector<std::string> all = prefix;
  all.push_back(VANTOR_CLI_PATH);
  all.insert(all.end(), args.begin(), args.end());
  process.start(QString::fromStdString(all.front()),
                toArgs(std::vector<std::string>(all.begin() + 1, all.end())));
  return finish(process);
}

QJsonObject readJson(const std::string &path) {
  QJsonParseError error{};
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray::fromStdString(ReadWholeFile(path)), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
  return doc.object();
}

// A table as rows of "caption=text" joined by "|", in the JSON's order.
std::vector<std::string> tableRows(const QJsonArray &rows, const std::vector<const char *> &keys) {
  std::vector<std::string> out;
  for (const QJsonValue &row : rows) {
    std::string line;
    for (const char *key : keys) {
      if (!line.empty())
        line += "|";
      line += row.toObject().value(key).toString().toStdString();
    }
    EXPECT_EQ(size_t(row.toObject().size()), keys.size()) << "no other keys";
    out.push_back(line);
  }
  return out;
}

const std::vector<const char *> kTrafficKeys{"Source IP",     "Dest IP",       "Package Type",
                                             "Sevice Port",   "Service Name",  "Send Bytes",
                                             "Receive Bytes", "Send Packages", "Receive Packages"};
const std::vector<const char *> kServiceKeys{"Service",       "Send Bytes",       "Receive Bytes",
                                             "Send Packages", "Receive Packages", "Hosts"};

std::vector<uint8_t> datagram(uint8_t protocol, std::vector<uint8_t> src, std::vector<uint8_t> dst,
                              uint16_t srcPort, uint16_t dstPort, size_t payload,
                              uint8_t icmpType = 8) {
  DatagramShape shape;
  shape.protocol = protocol;
  shape.src = std::move(src);
  shape.dst = std::move(dst);
  shape.srcPort = srcPort;
  shape.dstPort = dstPort;
  shape.icmpType = icmpType;
  // Letters only, so the view's text and the printed lines hold the same characters.
  shape.payload.resize(payload);
  for (size_t i = 0; i < payload; ++i)
    shape.payload[i] = uint8_t('A' + i % 26);
  return BuildDatagram(shape);
}

class CliOnFiles : public ::testing::Test {
protected:
  void SetUp() override {
    if (!LoadPacketDll())
      GTEST_SKIP() << "libpcap is not installed";
    settings_ = base_ + "Vantor/";
    std::filesystem::create_directories(settings_);
    // This host (kOurMac, 10.0.0.1) talks to a web server, a name server and
    // is pinged by a neighbour; one ARP frame besides.
    const std::vector<uint8_t> us{10, 0, 0, 1};
    records_ = {
        // 14 + 40 + 10 = 64 bytes sent to the web server
        {1700000000, 0,
         EthernetFrame(kGatewayMac, kOurMac, 0x0800,
                       datagram(6, us, {93, 184, 216, 34}, 40000, 80, 10))},
        // 14 + 28 + 20 = 62 bytes sent to the name server
        {1700000000, 10,
         EthernetFrame(kGatewayMac, kOurMac, 0x0800,
                       datagram(17, us, {8, 8, 8, 8}, 40001, 53, 20))},
        // an ARP request: 60 bytes, not IPv4
        {1700000000, 20, EthernetFrame(kBroadcast, kGatewayMac, 0x0806, Filled(46))},
        // 14 + 40 + 100 = 154 bytes received from the web server
        {1700000000, 30,
         EthernetFrame(kOurMac, kGatewayMac, 0x0800,
                       datagram(6, {93, 184, 216, 34}, us, 80, 40000, 100))},
        // 14 + 28 + 56 = 98 bytes: a neighbour's echo request
        {1700000000, 40,
         EthernetFrame(kOurMac, kGatewayMac, 0x0800, datagram(1, {10, 0, 0, 7}, us, 0, 0, 56, 8))},
    };
    capture_ = base_ + "traffic.pcap";
    ASSERT_TRUE(WritePcapFile(capture_, 1, records_));
  }
  CliResult run(const std::vector<std::string> &args) { return runCli(base_, args); }

  TempFolder temp_{"cli"};
  std::string base_ = temp_.path() + "/";
  std::string settings_;
  std::string capture_;
  std::vector<PcapRecord> records_;
};

TEST_F(CliOnFiles, JsonHoldsTheListsTheWindowWouldShow) {
  const std::string json = base_ + "stats.json";
  const CliResult r = run({"-r", capture_, "--mac", "02-00-00-00-00-01", "--json", json});
  ASSERT_EQ(r.status, 0) << r.err;
  const QJsonObject doc = readJson(json);

  const QJsonArray summary = doc.value("summary").toArray();
  ASSERT_EQ(summary.size(), 2);
  EXPECT_EQ(summary[0].toString().toStdString(), "Bytes Sent 126, Received 252");
  EXPECT_EQ(summary[1].toString().toStdString(), "Package Sent 2, Received 2");

  // Key order: local address, then the remote address's octets.
  EXPECT_EQ(tableRows(doc.value("conversations").toArray(), kTrafficKeys),
            (std::vector<std::string>{
                "10.0.0.1|8.8.8.8|UDP|53|dns|62|0|1|0",
                "10.0.0.1|10.0.0.7|ICMP|8|echo|0|98|0|1",
                "10.0.0.1|93.184.216.34|TCP|80|http|64|154|1|1",
            }));
  // Services in the order their first conversation appeared.
  EXPECT_EQ(tableRows(doc.value("services").toArray(), kServiceKeys), (std::vector<std::string>{
                                                                          "TOTALS|126|252|2|2|3",
                                                                          "http|64|154|1|1|1",
                                                                          "dns|62|0|1|0|1",
                                                                          "echo|0|98|0|1|1",
                                                                      }));
  const QJsonObject counters = doc.value("counters").toObject();
  EXPECT_EQ(counters.value("TotSendBytes").toInteger(), 126);
  EXPECT_EQ(counters.value("TotRecvBytes").toInteger(), 252);
  EXPECT_EQ(counters.value("TotSendPackets").toInteger(), 2);
  EXPECT_EQ(counters.value("TotRecvPackets").toInteger(), 2);
}

TEST_F(CliOnFiles, OptionsChangeWhatIsCounted) {
  struct Case {
    const char *what;
    std::vector<std::string> args;
    int sendPackets, recvPackets, recvBytes, conversations;
  };
  const Case cases[] = {
      // A file has no adapter: without --mac every frame counts as received.
      // The web server and the name server then look like local addresses.
      {"no hardware address", {}, 0, 4, 126 + 252, 4},
      {"non-IP frames kept", {"--mac", "02-00-00-00-00-01", "--keep-non-ip"}, 2, 3, 252 + 60, 3},
      {"first two packets", {"--mac", "02-00-00-00-00-01", "-c", "2"}, 2, 0, 0, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string json = base_ + "stats.json";
    std::vector<std::string> args{"-r", capture_, "--json", json};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliResult r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const QJsonObject doc = readJson(json);
    const QJsonObject counters = doc.value("counters").toObject();
    EXPECT_EQ(counters.value("TotSendPackets").toInteger(), c.sendPackets);
    EXPECT_EQ(counters.value("TotRecvPackets").toInteger(), c.recvPackets);
    EXPECT_EQ(counters.value("TotRecvBytes").toInteger(), c.recvBytes);
    EXPECT_EQ(doc.value("conversations").toArray().size(), c.conversations);
  }
}

TEST_F(CliOnFiles, ItemsAreLinesOnStandardOutputAndTheViewIsSavedAsRtf) {
  const std::string rtf = base_ + "view.rtf";
  const CliResult r = run({"-r", capture_, "--mac", "02-00-00-00-00-01", "--items", "--rtf", rtf});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find('\r'), std::string::npos) << "line breaks are line feeds";
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "no terminal styles into a pipe";
  // One announcement per IPv4 packet, each followed by the header handler's line.
  size_t announcements = 0;
  for (size_t at = r.out.find(" Package Got\n"); at != std::string::npos;
       at = r.out.find(" Package Got\n", at + 1))
    ++announcements;
  EXPECT_EQ(announcements, 4u);
  EXPECT_NE(r.out.find("TCP  PackLen=154 93.184.216.34:80 -> 10.0.0.1:40000"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("000016-51 52 53 54 55 56 57 58 59 5A 41 42 43 44 45 46 |QRSTUVWXYZABCDEF"),
            std::string::npos)
      << "the hex dump of the payload";

  const TRtfDocument doc = ReadRtf(ReadWholeFile(rtf));
  ASSERT_TRUE(doc.Ok) << doc.Error;
  std::string text;
  for (const TRtfLine &line : doc.Lines)
    text += line.Text + "\n";
  EXPECT_EQ(text, r.out) << "the saved view holds what was printed";
  bool sawGreyAnnouncement = false;
  for (const TRtfLine &line : doc.Lines)
    if (line.Text.find("Package Got") != std::string::npos)
      sawGreyAnnouncement = sawGreyAnnouncement || line.Colour == 12632256;
  EXPECT_TRUE(sawGreyAnnouncement);
}

TEST_F(CliOnFiles, FiltersComeFromTheSettingsFolder) {
  // A filter that passes nothing: no protocol in its list.
  std::string nothing = "version1\r\nNothing\r\n0\r\n";
  for (int i = 0; i < 40; ++i)
    nothing += "255\r\n";
  nothing += "\r\n\r\n0\r\n0\r\n0\r\n0\r\n0\r\n";
  {
    std::ofstream file(settings_ + "Nothing.flt", std::ios::binary);
    file << nothing;
  }
  const CliResult list = run({"--list-filters"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "All Data\nNothing\n");

  const std::string json = base_ + "stats.json";
  const CliResult r = run(
      {"-r", capture_, "--mac", "02-00-00-00-00-01", "-f", "Nothing", "--items", "--json", json});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "") << "nothing passes";
  EXPECT_EQ(readJson(json).value("conversations").toArray().size(), 3) << "still counted";
}

TEST_F(CliOnFiles, RefusalsSayWhyAndExitWithTheirStatus) {
  struct Case {
    const char *what;
    std::vector<std::string> args;
    int status;
    const char *message;
  };
  const Case cases[] = {
      {"bad argument", {"--frobnicate"}, 2, "usage: vantor-cli"},
      {"unknown filter", {"-r", capture_, "-f", "Missing"}, 2, "no filter is named \"Missing\""},
      {"unknown adapter", {"-i", "no-such-adapter0"}, 2, "no adapter is named"},
      {"missing file", {"-r", base_ + "absent.pcap"}, 1, "Cannot Open File"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const CliResult r = run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

TEST_F(CliOnFiles, ADamagedFileEndsWithItsErrorAfterWhatCouldBeRead) {
  // The last record claims more bytes than the file holds.
  std::string bytes = ReadWholeFile(capture_);
  bytes.resize(bytes.size() - 20);
  {
    std::ofstream file(capture_, std::ios::binary | std::ios::trunc);
    file << bytes;
  }
  const std::string json = base_ + "stats.json";
  const CliResult r = run({"-r", capture_, "--mac", "02-00-00-00-00-01", "--json", json});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("truncated"), std::string::npos) << r.err;
  EXPECT_EQ(readJson(json).value("counters").toObject().value("TotSendPackets").toInteger(), 2)
      << "what was read before the damage is kept";
}

// ------------------------------------------------------------- live captures

class CliLive : public ::testing::TestWithParam<const char *> {
protected:
  void SetUp() override {
    if (!net_.ready())
      GTEST_SKIP() << net_.error();
    if (std::string(GetParam()) == "driver" && !LoadPacketDll())
      GTEST_SKIP() << "libpcap is not installed";
    json_ = base_ + "live.json";
  }

  // Starts the tool inside side A on its veth end.
  void start(QProcess &process, const std::vector<std::string> &extra) {
    process.setProcessEnvironment(cliEnvironment(base_));
    std::vector<std::string> args{"netns",      "exec", net_.a().ns, VANTOR_CLI_PATH, "-i",
                                  net_.a().dev, "-e",   GetParam(),  "--json",        json_};
    args.insert(args.end(), extra.begin(), extra.end());
    process.setReadChannel(QProcess::StandardError);
    process.start("ip", toArgs(args));
    ASSERT_TRUE(process.waitForStarted());
    // The tool says so on its error stream once the capture is open.
    std::string said;
    while (said.find("capturing on") == std::string::npos) {
      ASSERT_TRUE(process.waitForReadyRead(20000)) << "no start: " << said;
      said += process.readAllStandardError().toStdString();
    }
  }

  void ping(int count) {
    const CommandOutput out = TestNetnsPair::exec(
        net_.b(), "ping -c " + std::to_string(count) + " -i 0.2 -W 1 " + net_.a().addrText);
    ASSERT_EQ(out.status, 0) << out.output;
  }

  // Packets of the ICMP rows between the two sides: {sent, received}.
  std::pair<int, int> icmpPackets() {
    const QJsonObject doc = readJson(json_);
    int sent = 0, received = 0;
    for (const QJsonValue &value : doc.value("conversations").toArray()) {
      const QJsonObject row = value.toObject();
      if (row.value("Package Type").toString() != "ICMP")
        continue;
      EXPECT_EQ(row.value("Source IP").toString().toStdString(), net_.a().addrText);
      EXPECT_EQ(row.value("Dest IP").toString().toStdString(), net_.b().addrText);
      sent += row.value("Send Packages").toString().toInt();
      received += row.value("Receive Packages").toString().toInt();
    }
    return {sent, received};
  }

  TestNetnsPair net_;
  TempFolder temp_{"cli-live"};
  std::string base_ = temp_.path() + "/";
  std::string json_;
};

TEST_P(CliLive, CountsAPingAndStopsAfterItsSeconds) {
  QProcess process;
  start(process, {"-s", "3"});
  ping(3);
  const CliResult r = finish(process);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(icmpPackets(), std::make_pair(3, 3)) << "three requests in, three replies out";
}

TEST_P(CliLive, StopsAtItsPacketCount) {
  QProcess process;
  start(process, {"-c", "2"});
  ping(4);
  const CliResult r = finish(process);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto [sent, received] = icmpPackets();
  EXPECT_EQ(sent + received, 2);
  const QJsonObject counters = readJson(json_).value("counters").toObject();
  EXPECT_EQ(counters.value("TotSendPackets").toInteger() +
                counters.value("TotRecvPackets").toInteger(),
            2);
}

TEST_P(CliLive, CtrlCStopsLikeTheStopButton) {
  QProcess process;
  start(process, {});
  ping(2);
  ASSERT_EQ(kill(pid_t(process.processId()), SIGINT), 0);
  const CliResult r = finish(process, 10000);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(icmpPackets(), std::make_pair(2, 2)) << "the last tick showed everything";
}

INSTANTIATE_TEST_SUITE_P(Engines, CliLive, ::testing::Values("driver", "raw"));

} // namespace
