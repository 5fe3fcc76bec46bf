#include "settings/file_config.h"

#include "tests/support/file_helpers.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Entries = std::vector<std::pair<std::string, std::string>>;

Entries entriesOf(const TFileConfig &config) {
  EXPECT_EQ(config.Keys.size(), config.Values.size());
  Entries result;
  for (size_t i = 0; i < config.Keys.size() && i < config.Values.size(); ++i)
    result.emplace_back(config.Keys[i], config.Values[i]);
  return result;
}

TFileConfig storeFrom(std::string_view text) {
  TFileConfig config;
  config.LoadFromText(text);
  return config;
}

struct ParseCase {
  const char *name;
  std::string text;
  Entries expected;
};

void PrintTo(const ParseCase &c, std::ostream *out) {
  *out << c.name;
}

class ParseText : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseText, GivesTheEntries) {
  EXPECT_EQ(entriesOf(storeFrom(GetParam().text)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseText,
    ::testing::Values(
        ParseCase{"TrimsKeyAndValue",
                  "  Form_Caption  =  My title  \r\n",
                  {{"Form_Caption", "My title"}}},
        ParseCase{"TrimsControlsButNotDelete", "\t\x01k\x1f=\x02v\x7f\r\n", {{"k", "v\x7f"}}},
        ParseCase{"FirstEqualsSplits", "a=b=c\r\n", {{"a", "b=c"}}},
        ParseCase{"EmptyKeyAndValue", "=x\r\n=\r\nk=\r\n", {{"", "x"}, {"", ""}, {"k", ""}}},
        ParseCase{
            "LinesWithoutEqualsDropped", "\r\n[General]\r\n; note\r\n   \r\nk=v\r\n", {{"k", "v"}}},
        ParseCase{"CrLf", "a=1\r\nb=2\r\n", {{"a", "1"}, {"b", "2"}}},
        ParseCase{"LfOnly", "a=1\nb=2\n", {{"a", "1"}, {"b", "2"}}},
        ParseCase{"LastLineWithoutEnd", "a=1\r\nb=2", {{"a", "1"}, {"b", "2"}}},
        // A lone CR is no line end: the line goes on after it.
        ParseCase{"LoneCrDropped", "a=1\rb=2\r\nc\r=3\n", {{"a", "1b=2"}, {"c", "3"}}},
        ParseCase{"CrCrLf", "a=1\r\r\nb=2\n", {{"a", "1"}, {"b", "2"}}},
        ParseCase{"CtrlZEndsTheText",
                  "a=1\r\n\x1a"
                  "b=2\r\n",
                  {{"a", "1"}}},
        ParseCase{"CtrlZInsideALine",
                  "a=1\x1a"
                  "b=2\r\nc=3\r\n",
                  {{"a", "1"}}},
        ParseCase{"ZeroByteKept", std::string("k=a\0b\n", 6), {{"k", std::string("a\0b", 3)}}},
        ParseCase{"DuplicatesKept", "k=1\r\nK=2\r\n", {{"k", "1"}, {"K", "2"}}},
        ParseCase{"Empty", "", {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FileConfigText, LoadReplacesEarlierEntries) {
  TFileConfig config = storeFrom("old=1\r\n");
  config.LoadFromText("new=2\r\n");
  EXPECT_EQ(entriesOf(config), (Entries{{"new", "2"}}));
}

struct MatchCase {
  const char *name;
  std::string stored, query;
  bool matches;
};

void PrintTo(const MatchCase &c, std::ostream *out) {
  *out << c.name;
}

class KeyMatching : public ::testing::TestWithParam<MatchCase> {};

// A match answers with the stored value and adds nothing; a miss records the
// query with its default.
TEST_P(KeyMatching, FindsTheStoredKey) {
  const MatchCase &c = GetParam();
  TFileConfig config;
  config.WriteString(c.stored, "stored");
  EXPECT_EQ(config.ReadString(c.query, "default"), c.matches ? "stored" : "default");
  EXPECT_EQ(config.Keys.size(), c.matches ? 1u : 2u);
  EXPECT_EQ(config.Keys[0], c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyMatching,
    ::testing::Values(MatchCase{"AsciiCase", "lang", "LANG", true},
                      MatchCase{"Exact", "Form_Caption", "Form_Caption", true},
                      MatchCase{"DigitsAndPunctuation", "a_1[", "A_1[", true},
                      // '[' and '{' differ only in the bit that folds letters.
                      MatchCase{"NotALetter", "[", "{", false},
                      MatchCase{"Prefix", "LANG", "LAN", false},
                      MatchCase{"Longer", "LANG", "LANGX", false}, MatchCase{"Empty", "", "", true},
                      MatchCase{"Umlaut", "ÄBC", "äbc", true},
                      MatchCase{"UmlautMixed", "xÄy", "XäY", true},
                      MatchCase{"SharpS", "straße", "STRASSE", true},
                      MatchCase{"KelvinSign", "\xE2\x84\xAA", "k", true},
                      MatchCase{"AccentDiffers", "é", "e", false},
                      MatchCase{"NonAsciiDiffers", "äbc", "öbc", false},
                      // Latin-1 bytes are no UTF-8: Ä and ä stay different
                      // rather than both turning into U+FFFD.
                      MatchCase{"LegacyBytesNotConfused", "\xC4", "\xE4", false},
                      MatchCase{"LegacyBytesAsciiFolded", "\xC4x", "\xC4X", true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FileConfigKeys, FirstMatchWinsAndOnlyItChanges) {
  TFileConfig config = storeFrom("k=1\r\nK=2\r\n");
  EXPECT_EQ(config.ReadString("k", "x"), "1");
  EXPECT_EQ(config.WriteString("K", "3"), 0);
  EXPECT_EQ(config.ReadInteger("k", 0), 3);
  EXPECT_EQ(config.SaveText(), "k=3\r\nK=2\r\n");
}

TEST(FileConfigKeys, MatchKeepsTheStoredCase) {
  TFileConfig config = storeFrom("lang=2052\r\n");
  EXPECT_EQ(config.ReadString("LANG", "1033"), "2052");
  EXPECT_EQ(config.WriteString("Lang", "2052"), 0);
  EXPECT_EQ(config.SaveText(), "lang=2052\r\n");
}

struct IntegerCase {
  const char *name;
  std::string stored;
  int32_t defaultValue;
  int32_t expected;
  std::string storedAfter;
};

void PrintTo(const IntegerCase &c, std::ostream *out) {
  *out << c.name;
}

class ReadInteger : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ReadInteger, ConvertsOrRepairs) {
  const IntegerCase &c = GetParam();
  TFileConfig config;
  config.WriteString("n", c.stored);
  EXPECT_EQ(config.ReadInteger("N", c.defaultValue), c.expected);
  EXPECT_EQ(entriesOf(config), (Entries{{"n", c.storedAfter}}));
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadInteger,
    ::testing::Values(
        IntegerCase{"Decimal", "1033", 0, 1033, "1033"}, IntegerCase{"Negative", "-7", 0, -7, "-7"},
        IntegerCase{"Blanks", " 42 ", 0, 42, " 42 "}, IntegerCase{"Dollar", "$1f", 0, 31, "$1f"},
        IntegerCase{"ZeroX", "0X10", 0, 16, "0X10"}, IntegerCase{"X", "x10", 0, 16, "x10"},
        IntegerCase{"TrailingLetters", "12abc", 5, 5, "5"}, IntegerCase{"Empty", "", -3, -3, "-3"},
        IntegerCase{"TooLarge", "2147483648", 9, 9, "9"},
        IntegerCase{"Largest", "2147483647", 9, 2147483647, "2147483647"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FileConfigRecords, MissingKeysRecordTheirDefaultsInOrder) {
  TFileConfig config = storeFrom("b=1\r\na=2\r\n");
  EXPECT_EQ(config.ReadInteger("missing", -1), -1);
  EXPECT_EQ(config.ReadString("z", "zz"), "zz");
  EXPECT_EQ(config.WriteString("y", "yy"), 0);
  EXPECT_EQ(config.ReadString("Z", "other"), "zz");
  EXPECT_EQ(config.ReadInteger("MISSING", 4), -1);
  EXPECT_EQ(config.SaveText(), "b=1\r\na=2\r\nmissing=-1\r\nz=zz\r\ny=yy\r\n");
}

TEST(FileConfigRecords, SysEntriesStayInMemory) {
  TFileConfig config;
  config.WriteString("_sys_Running", "1");
  config.WriteString("_SYS_x", "2");
  config.WriteString("_sys", "_x");
  config.WriteString("k", "v");
  EXPECT_EQ(config.ReadString("_sys_Running", "0"), "1");
  EXPECT_EQ(config.SaveText(), "_SYS_x=2\r\n_sys=_x\r\nk=v\r\n");
}

TEST(FileConfigRecords, ValueSpacesAreSavedAndTrimmedOnReload) {
  TFileConfig config;
  config.WriteString("k", " x ");
  EXPECT_EQ(config.ReadString("k", ""), " x ");
  std::string text = config.SaveText();
  EXPECT_EQ(text, "k= x \r\n");
  config.LoadFromText(text);
  EXPECT_EQ(config.ReadString("k", ""), "x");
}

class FileConfigFile : public ::testing::Test {
protected:
  void SetUp() override { config_.SetFileName(path_); }
  void writeFile(const std::string &text) { std::ofstream(path_, std::ios::binary) << text; }

  TempFolder temp_{"config"};
  std::string folder_ = temp_.path();
  std::string path_ = folder_ + "/Vantor.ini";
  TFileConfig config_;
};

TEST_F(FileConfigFile, FileNameIsKeptWithoutTouchingTheFile) {
  EXPECT_EQ(TFileConfig().GetFileName(), "");
  EXPECT_EQ(config_.GetFileName(), path_);
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(FileConfigFile, FirstRunRecordsDefaultsAndCreatesTheFile) {
  EXPECT_EQ(config_.Load(), -1);
  EXPECT_TRUE(config_.Keys.empty());
  EXPECT_EQ(config_.ReadString("LANG", "1033"), "1033");
  EXPECT_EQ(config_.Save(), 0);
  EXPECT_EQ(ReadWholeFile(path_), "LANG=1033\r\n");
  EXPECT_EQ(FolderNames(folder_), std::vector<std::string>{"Vantor.ini"});
}

TEST_F(FileConfigFile, LoadThatCannotOpenLeavesTheEntries) {
  config_.WriteString("kept", "1");
  EXPECT_EQ(config_.Load(), -1); // missing
  ASSERT_TRUE(fs::create_directory(path_));
  EXPECT_EQ(config_.Load(), -1); // a folder
  config_.SetFileName("");
  EXPECT_EQ(config_.Load(), -1);
  EXPECT_EQ(entriesOf(config_), (Entries{{"kept", "1"}}));
}

TEST_F(FileConfigFile, LoadReplacesTheEntriesWithTheFile) {
  config_.WriteString("old", "1");
  writeFile("[General]\r\nlang=2052\r\n; note\r\n\r\n  Form_Caption  =  My title  \r\n");
  EXPECT_EQ(config_.Load(), 0);
  EXPECT_EQ(entriesOf(config_), (Entries{{"lang", "2052"}, {"Form_Caption", "My title"}}));
  EXPECT_EQ(config_.ReadString("LANG", "1033"), "2052");
  EXPECT_EQ(config_.Save(), 0);
  EXPECT_EQ(ReadWholeFile(path_), "lang=2052\r\nForm_Caption=My title\r\n");
}

// /proc/self/mem is a regular file whose first page is never mapped, so the
// first read fails with an input/output error.
TEST_F(FileConfigFile, ReadErrorFailsTheLoad) {
  config_.WriteString("old", "1");
  config_.SetFileName("/proc/self/mem");
  EXPECT_EQ(config_.Load(), -1);
  EXPECT_TRUE(config_.Keys.empty());
  EXPECT_TRUE(config_.Values.empty());
}

TEST_F(FileConfigFile, SaveAndLoadRoundTrip) {
  config_.WriteString("", "=odd");
  config_.ReadString("Form_Caption", "Vantor = traffic");
  config_.ReadInteger("Left", -20);
  config_.WriteString("Tab", "a\tb");
  TFileConfig before = config_;
  ASSERT_EQ(config_.Save(), 0);
  TFileConfig again;
  again.SetFileName(path_);
  ASSERT_EQ(again.Load(), 0);
  EXPECT_EQ(entriesOf(again), entriesOf(before));
}

TEST_F(FileConfigFile, SaveIntoAMissingFolderFails) {
  config_.SetFileName(folder_ + "/absent/Vantor.ini");
  config_.WriteString("k", "v");
  EXPECT_EQ(config_.Save(), -1);
  EXPECT_EQ(entriesOf(config_), (Entries{{"k", "v"}}));
  EXPECT_FALSE(fs::exists(folder_ + "/absent"));
  EXPECT_TRUE(FolderNames(folder_).empty());
}

// The write runs out of room part way (the file size limit binds root as
// well); the old file must survive whole, and nothing is lost in memory.
TEST_F(FileConfigFile, FailedSaveLeavesTheOldFileIntact) {
  writeFile("LANG=1031\r\n");
  ASSERT_EQ(config_.Load(), 0);
  config_.WriteString("Form_Caption", "a caption far longer than the limit");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int result = config_.Save();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(ReadWholeFile(path_), "LANG=1031\r\n");
  EXPECT_EQ(FolderNames(folder_), std::vector<std::string>{"Vantor.ini"});
  EXPECT_EQ(entriesOf(config_),
            (Entries{{"LANG", "1031"}, {"Form_Caption", "a caption far longer than the limit"}}));
}

TEST_F(FileConfigFile, SaveIntoAReadOnlyFolderFails) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root writes into read-only folders";
  writeFile("LANG=1031\r\n");
  ASSERT_EQ(config_.Load(), 0);
  config_.WriteString("LANG", "2052");
  ASSERT_EQ(chmod(folder_.c_str(), 0500), 0);
  EXPECT_EQ(config_.Save(), -1);
  EXPECT_EQ(ReadWholeFile(path_), "LANG=1031\r\n");
}

} // namespace
