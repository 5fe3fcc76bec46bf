#include "packet/names.h"
#include "packet/port_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// ---- Parsing the file's lines ----

// Every slot of `names` that holds a name, as "port=name" texts.
std::vector<std::string> namedSlots(const std::vector<std::string> &names) {
  std::vector<std::string> named;
  for (size_t port = 0; port < names.size(); ++port)
    if (!names[port].empty())
      named.push_back(std::to_string(port) + "=" + names[port]);
  return named;
}

struct LineCase {
  const char *why;
  std::string_view content;
  std::vector<std::string> named;
};

TEST(ParsePortNamesTest, ReadsNameBeforeFirstBlankAndPortBeforeFirstSlash) {
  using namespace std::string_view_literals;
  const LineCase cases[] = {
      {"one blank", "www 80/tcp", {"80=www"}},
      {"several blanks", "web   80/tcp", {"80=web"}},
      {"case kept, tail ignored", "Www 9999/udp alias # note", {"9999=Www"}},
      {"exactly five characters", "ab 1/", {"1=ab"}},
      {"blank before the slash", "web 80 /tcp", {"80=web"}},
      {"text after the number", "web 80x/tcp", {"80=web"}},
      {"plus sign", "web +80/tcp", {"80=web"}},
      {"hexadecimal with 0x", "web 0x50/tcp", {"80=web"}},
      {"hexadecimal with $", "web $50/tcp", {"80=web"}},
      {"control codes trimmed", "web \001\03780\002/tcp", {"80=web"}},
      {"tab after the blank", "web \t80/tcp", {"80=web"}},
      {"tab kept in the name", "w\teb 80/tcp", {"80=w\teb"}},
      {"NUL in the number text", "web \00080/tcp"sv, {"80=web"}},
      {"comment line", "#www 80/tcp", {}},
      {"tab only between name and port", "www\t80/tcp", {}},
      {"leading blank", " www 80/tcp", {}},
      {"no slash", "www 80", {}},
      {"slash before the blank", "w/w 80/tcp", {}},
      {"port 0", "www 0/tcp", {}},
      {"port 10000", "www 10000/tcp", {}},
      {"negative port", "www -80/tcp", {}},
      {"not a number", "www http/tcp", {}},
      {"four characters", "a 1/", {}},
  };
  for (const auto &c : cases) {
    std::vector<std::string> names = ParsePortNames(c.content);
    ASSERT_EQ(names.size(), size_t(kPortNamesSlots)) << c.why;
    EXPECT_EQ(namedSlots(names), c.named) << c.why;
  }
}

TEST(ParsePortNamesTest, SplitsLinesAtCrLfLfAndLoneCr) {
  std::vector<std::string> names = ParsePortNames("a1 1/x\rb2 2/x\r\nc3 3/x\nd4 4/x\r\re5 5/x\r");
  EXPECT_EQ(namedSlots(names), (std::vector<std::string>{"1=a1", "2=b2", "3=c3", "4=d4", "5=e5"}));
}

TEST(ParsePortNamesTest, LaterLineForTheSamePortReplacesTheName) {
  std::vector<std::string> names = ParsePortNames("www 80/tcp\nssh 22/tcp\nweb 80/udp\n");
  EXPECT_EQ(namedSlots(names), (std::vector<std::string>{"22=ssh", "80=web"}));
}

TEST(ParsePortNamesTest, NoSlotsOnlyWhenThereAreNoLines) {
  EXPECT_TRUE(ParsePortNames("").empty());
  // A file of blank or unusable lines still has lines.
  std::vector<std::string> blankLine = ParsePortNames("\n");
  EXPECT_EQ(blankLine.size(), size_t(kPortNamesSlots));
  EXPECT_TRUE(namedSlots(blankLine).empty());
  EXPECT_EQ(ParsePortNames("#comment only").size(), size_t(kPortNamesSlots));
}

// ---- Lookups, with and without a "ports.txt" in the current folder ----

// Runs each test in an empty temporary folder with the file state forgotten.
class PortsFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    oldFolder_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "vantor-ports-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::current_path(folder_);
    ResetPortNamesForTesting();
  }
  void TearDown() override {
    fs::current_path(oldFolder_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    ResetPortNamesForTesting();
  }
  void writePorts(std::string_view content) {
    std::ofstream file(folder_ / "ports.txt", std::ios::binary);
    file.write(content.data(), std::streamsize(content.size()));
    ASSERT_TRUE(file.good());
  }

  fs::path oldFolder_;
  fs::path folder_;
};

struct PortCase {
  int32_t port;
  const char *expected;
};

struct PairCase {
  int32_t src;
  int32_t dst;
  const char *expected;
};

TEST_F(PortsFolderTest, WithoutFileBuiltInNamesThenPortInBrackets) {
  const PortCase cases[] = {
      {80, "HTTP"},
      {0, "LOOPBACK"},
      {5900, "VNC"},
      {20, "FTP_DATA"},
      {66, "SQL*NET"},
      {139, "NETBIOS-SESS"},
      {8080, "<8080>"},
      {2, "<2>"},
      {5901, "<5901>"},
      {6000, "<6000>"},
      {9999, "<9999>"},
      {70000, "<70000>"},
      {65536, "<65536>"},
      {-1, "<-1>"},
      {-80, "<-80>"},
      {INT32_MAX, "<2147483647>"},
      {INT32_MIN, "<-2147483648>"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(PortName(c.port), c.expected) << "port " << c.port;
  EXPECT_EQ(PortNamesSize(), 0);
}

TEST_F(PortsFolderTest, WithoutFilePairTakesTheEarlierTableRowThenALowSourcePort) {
  const PairCase cases[] = {
      {443, 80, "HTTP"},
      {80, 443, "HTTP"},
      {1434, 1433, "MSSQLSRV"},
      {5900, 0, "LOOPBACK"},
      {162, 161, "SNMP"},
      {1025, 80, "HTTP"},
      {80, 50000, "HTTP"},
      {-1, 22, "SSH"},
      {22, 70000, "SSH"},
      {500, 6000, "<500>"},
      {5000, 6000, "<6000>"},
      {1023, 1024, "<1023>"},
      {1024, 1023, "<1023>"},
      {1024, 1025, "<1025>"},
      {-5, 70000, "<-5>"},
      {70000, -5, "<-5>"},
      {INT32_MIN, INT32_MAX, "<-2147483648>"},
      {INT32_MAX, 8080, "<8080>"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(PortPairName(c.src, c.dst), c.expected) << c.src << " -> " << c.dst;
}

TEST_F(PortsFolderTest, WithoutFileEveryBuiltInPairIsNamedByItsEarlierRow) {
  // Both directions of a conversation must get the same name, whatever the ports.
  constexpr size_t rows = std::size(WellKnownSvcs);
  for (size_t first = 0; first < rows; ++first) {
    const TWellKnownSvc &earlier = WellKnownSvcs[first];
    ASSERT_EQ(PortName(earlier.Number), earlier.Name);
    for (size_t second = first + 1; second < rows; ++second) {
      int32_t later = WellKnownSvcs[second].Number;
      ASSERT_EQ(PortPairName(earlier.Number, later), earlier.Name)
          << earlier.Number << "/" << later;
      ASSERT_EQ(PortPairName(later, earlier.Number), earlier.Name)
          << later << "/" << earlier.Number;
    }
  }
}

TEST_F(PortsFolderTest, FileNamesWinOverBuiltInNames) {
  writePorts("www 80/tcp\nweb 80/udp\nalt 8080/tcp\nlast 9999/tcp\n");
  EXPECT_EQ(PortNamesSize(), -1);
  EXPECT_EQ(PortName(80), "web");
  EXPECT_EQ(PortNamesSize(), kPortNamesSlots);
  const PortCase cases[] = {
      {8080, "alt"},
      {9999, "last"},
      {22, "SSH"},
      {0, "LOOPBACK"},
      {8081, "<8081>"},
      {10000, "<10000>"},
      {-1, "<-1>"},
      {-9999, "<-9999>"},
      {INT32_MAX, "<2147483647>"},
      {INT32_MIN, "<-2147483648>"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(PortName(c.port), c.expected) << "port " << c.port;
  EXPECT_EQ(FilePortName(80), "web");
  EXPECT_EQ(FilePortName(22), "");
  EXPECT_EQ(FilePortName(-80), "");
  EXPECT_EQ(FilePortName(kPortNamesSlots), "");
}

TEST_F(PortsFolderTest, PairPrefersTheDestinationsFileNameThenTheSources) {
  writePorts("web 80/tcp\r\ntls 443/tcp\r\nalt 8080/tcp\r\n");
  const PairCase cases[] = {
      {80, 443, "tls"},    {443, 80, "web"},       {8080, 80, "web"},   {80, 8080, "alt"},
      {8080, 22, "alt"},   {22, 8080, "alt"},      {22, 21, "FTP_CTL"}, {-80, 443, "tls"},
      {443, 70000, "tls"}, {5000, 6000, "<6000>"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(PortPairName(c.src, c.dst), c.expected) << c.src << " -> " << c.dst;
}

TEST_F(PortsFolderTest, EmptyFileLeavesBuiltInNames) {
  writePorts("");
  EXPECT_EQ(PortName(80), "HTTP");
  EXPECT_EQ(PortNamesSize(), 0);
}

TEST_F(PortsFolderTest, FileWithOnlyUnusableLinesLeavesBuiltInNames) {
  writePorts("# services\nwww\t80/tcp\n www 443/tcp\n");
  EXPECT_EQ(PortPairName(443, 80), "HTTP");
  EXPECT_EQ(PortNamesSize(), kPortNamesSlots);
}

TEST_F(PortsFolderTest, LoneCarriageReturnsEndLines) {
  writePorts("web 80/tcp\rtls 443/tcp\r");
  EXPECT_EQ(PortName(80), "web");
  EXPECT_EQ(PortName(443), "tls");
}

TEST_F(PortsFolderTest, FileIsLookedForOnlyOnce) {
  EXPECT_EQ(PortName(80), "HTTP");
  writePorts("www 80/tcp\n");
  EXPECT_EQ(PortName(80), "HTTP");
  EXPECT_EQ(PortPairName(1025, 80), "HTTP");

  ResetPortNamesForTesting();
  EXPECT_EQ(PortPairName(1025, 80), "www");
  fs::remove(folder_ / "ports.txt");
  EXPECT_EQ(PortName(80), "www");
}

TEST_F(PortsFolderTest, UnreadableFileCountsAsNoFile) {
  // A folder of that name exists but cannot be read as a file.
  fs::create_directory(folder_ / "ports.txt");
  EXPECT_EQ(PortName(80), "HTTP");
  EXPECT_EQ(PortNamesSize(), 0);
}

TEST_F(PortsFolderTest, RacingFirstLookupsAllSeeTheLoadedFile) {
  writePorts("www 80/tcp\n");
  constexpr int kThreads = 8;
  std::vector<std::string> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&seen, i] { seen[size_t(i)] = PortPairName(1025, 80); });
  for (std::thread &thread : threads)
    thread.join();
  for (const std::string &name : seen)
    EXPECT_EQ(name, "www");
}

} // namespace
