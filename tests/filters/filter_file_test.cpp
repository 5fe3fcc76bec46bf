#include "filters/builtin_handlers.h"
#include "filters/filter_file.h"
#include "filters/handler_table.h"

#include "tests/support/file_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

int32_t fakePlugin(const void *, int32_t, TOutputProc) {
  return 0;
}

class FilterFile : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantor-flt-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = std::string(pattern) + "/";
    ClearFilterProcs();
    RegisterBuiltinHandlers();
    ASSERT_EQ(FilterProcCount, 3);
    ASSERT_TRUE(AddFilterProc({fakePlugin, "LTFake.so", "FK_Handler", "Fake handler"}));
  }
  void TearDown() override {
    fs::permissions(folder_, fs::perms::owner_all);
    fs::remove_all(folder_);
    ClearFilterProcs();
  }

  std::string write(const std::string &name, const std::string &content) {
    std::string path = folder_ + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  static std::string read(const std::string &path) { return ReadWholeFile(path); }
  std::vector<std::string> names() const { return FolderNames(folder_); }
  // Loads `content` into `filter` and returns the error message, empty when
  // the load succeeded.
  std::string load(TIPFilter &filter, const std::string &content) {
    try {
      LoadFilter(filter, write("case.flt", content));
    } catch (const EFilterFileError &error) {
      return error.what();
    }
    return {};
  }

  std::string folder_;
};

// The lines of a valid file with handler count `count` and no rows yet.
std::vector<std::string> baseLines(int count = 0) {
  std::vector<std::string> lines = {"version1", "Base", "0"};
  for (int i = 0; i < 40; ++i)
    lines.push_back(std::to_string(i));
  for (const char *line : {"1.2.3.4", "5.6.7.8", "80", "443", "1", "0"})
    lines.push_back(line);
  lines.push_back(std::to_string(count));
  return lines;
}

std::string joined(const std::vector<std::string> &lines, const char *end = "\r\n") {
  std::string text;
  for (const std::string &line : lines)
    text += line + end;
  return text;
}

TIPFilter sampleFilter() {
  TIPFilter filter;
  filter.Name = "Web and DNS";
  filter.AllProto = 0;
  filter.Protos = {6, 17, 1, 255, 255, 255, 255, 0};
  for (size_t i = 0; i < filter.IcmpTypes.size(); ++i)
    filter.IcmpTypes[i] = static_cast<uint8_t>(i == 0 ? 254 : 200 + i);
  filter.SIP = "192.168.1.10";
  filter.DIP = " 10.0.0.1 ";
  filter.SPort = 1234;
  filter.DPort = -53;
  filter.ReturnPkg = 1;
  filter.IgZero = 7;
  filter.ProcCount = 3;
  filter.Procs[0] = FilterProcs[2];
  filter.Procs[1] = FilterProcs[3];
  filter.Procs[2] = FilterProcs[0];
  return filter;
}

void expectSameStoredFields(const TIPFilter &a, const TIPFilter &b) {
  EXPECT_EQ(a.Name, b.Name);
  EXPECT_EQ(a.AllProto, b.AllProto);
  EXPECT_EQ(a.Protos, b.Protos);
  EXPECT_EQ(a.IcmpTypes, b.IcmpTypes);
  EXPECT_EQ(a.SIP, b.SIP);
  EXPECT_EQ(a.DIP, b.DIP);
  EXPECT_EQ(a.SPort, b.SPort);
  EXPECT_EQ(a.DPort, b.DPort);
  EXPECT_EQ(a.ReturnPkg, b.ReturnPkg);
  EXPECT_EQ(a.IgZero, b.IgZero);
  EXPECT_EQ(a.ProcCount, b.ProcCount);
  for (int i = 0; i < kMaxProcsPerFilter; ++i) {
    EXPECT_EQ(a.Procs[i].Proc, b.Procs[i].Proc) << "row " << i;
    EXPECT_EQ(a.Procs[i].DLLName, b.Procs[i].DLLName) << "row " << i;
    EXPECT_EQ(a.Procs[i].ProcName, b.Procs[i].ProcName) << "row " << i;
  }
}

TEST_F(FilterFile, SavedFileHasTheExactLinesAndLoadsBackUnchanged) {
  TIPFilter saved = sampleFilter();
  SaveFilter(saved, folder_);

  std::vector<std::string> lines = {"version1", "Web and DNS", "0",   "6",   "17", "1",
                                    "255",      "255",         "255", "255", "0",  "254"};
  for (int i = 1; i < 32; ++i)
    lines.push_back(std::to_string(200 + i));
  // The return switch comes before the empty-payload switch.
  for (const char *line :
       {"192.168.1.10", " 10.0.0.1 ", "1234", "-53", "1", "7", "3", "Internal",
        "FL_PrintTextMessage", "LTFake.so", "FK_Handler", "Internal", "FL_PrintStdHead"})
    lines.push_back(line);
  ASSERT_EQ(lines.size(), 50u + 2 * 3);
  EXPECT_EQ(read(folder_ + "Web and DNS.flt"), joined(lines));
  EXPECT_EQ(names(), std::vector<std::string>{"Web and DNS.flt"});

  TIPFilter loaded;
  LoadFilter(loaded, folder_ + "Web and DNS.flt");
  expectSameStoredFields(loaded, saved);
  EXPECT_EQ(loaded.Procs[1].Proc, fakePlugin);
  EXPECT_EQ(loaded.Procs[1].Desc, "Fake handler");
}

TEST_F(FilterFile, LineFeedAloneEndsALineToo) {
  TIPFilter crlf, lf;
  std::vector<std::string> lines = baseLines(1);
  lines.push_back("Internal");
  lines.push_back("FL_DumpMessage");
  ASSERT_EQ(load(crlf, joined(lines)), "");
  ASSERT_EQ(load(lf, joined(lines, "\n")), "");
  expectSameStoredFields(lf, crlf);
  EXPECT_EQ(lf.SIP, "1.2.3.4");
  EXPECT_EQ(lf.Procs[0].Proc, FL_DumpMessage);
  // The last line needs no line end at all.
  std::string text = joined(lines);
  text.resize(text.size() - 2);
  TIPFilter unended;
  ASSERT_EQ(load(unended, text), "");
  EXPECT_EQ(unended.Procs[0].ProcName, "FL_DumpMessage");
}

TEST_F(FilterFile, MissingFileOrUnknownFormatLeavesTheRecordUntouched) {
  ASSERT_TRUE(fs::create_directory(folder_ + "folder.flt"));
  struct Case {
    const char *label;
    std::string path;
    const char *message;
  } cases[] = {
      {"no file", folder_ + "absent.flt", "File Not Found"},
      {"a folder", folder_ + "folder.flt", "File Not Found"},
      {"letter case", write("a.flt", "Version1\r\nName\r\n"), "File Not Support"},
      {"trailing space", write("b.flt", "version1 \r\nName\r\n"), "File Not Support"},
      {"leading space", write("c.flt", " version1\r\nName\r\n"), "File Not Support"},
      {"other version", write("d.flt", "version2\r\nName\r\n"), "File Not Support"},
      {"empty file", write("e.flt", ""), "File Not Support"},
      {"lone CR", write("f.flt", "version1\rName\r\n"), "File Not Support"},
  };
  for (const Case &c : cases) {
    TIPFilter filter;
    filter.Name = "untouched";
    filter.AllProto = 5;
    try {
      LoadFilter(filter, c.path);
      ADD_FAILURE() << c.label << ": loaded";
    } catch (const EFilterFileError &error) {
      EXPECT_STREQ(error.what(), c.message) << c.label;
    }
    EXPECT_EQ(filter.Name, "untouched") << c.label;
    EXPECT_EQ(filter.AllProto, 5) << c.label;
  }
}

TEST_F(FilterFile, BadNumberLineFailsAndKeepsWhatWasReadBefore) {
  // A file cut after line 49: the handler count reads as an empty line.
  std::vector<std::string> cut = baseLines();
  cut.pop_back();
  TIPFilter filter;
  filter.ProcCount = 9;
  EXPECT_EQ(load(filter, joined(cut)), "'' is not a valid integer value");
  EXPECT_EQ(filter.Name, "Base");
  EXPECT_EQ(filter.DIP, "5.6.7.8");
  EXPECT_EQ(filter.ReturnPkg, 1);
  EXPECT_EQ(filter.IgZero, 0);
  EXPECT_EQ(filter.ProcCount, 9);

  // Line 46 (SPort) not a number: everything up to DIP stays, SPort does not.
  std::vector<std::string> bad = baseLines();
  bad[45] = "80x";
  TIPFilter partly;
  partly.SPort = 21;
  EXPECT_EQ(load(partly, joined(bad)), "'80x' is not a valid integer value");
  EXPECT_EQ(partly.SIP, "1.2.3.4");
  EXPECT_EQ(partly.DIP, "5.6.7.8");
  EXPECT_EQ(partly.SPort, 21);

  std::vector<std::string> emptyProto = baseLines();
  emptyProto[3] = "";
  TIPFilter proto;
  EXPECT_EQ(load(proto, joined(emptyProto)), "'' is not a valid integer value");
  EXPECT_EQ(proto.Name, "Base");
}

TEST_F(FilterFile, ProtocolAndIcmpLinesKeepTheLowEightBits) {
  std::vector<std::string> lines = baseLines();
  lines[3] = "300";
  lines[4] = "-1";
  lines[5] = "-2";
  lines[11] = "256";
  lines[12] = "$1FF";
  TIPFilter filter;
  ASSERT_EQ(load(filter, joined(lines)), "");
  EXPECT_EQ(filter.Protos[0], 44);
  EXPECT_EQ(filter.Protos[1], 255);
  EXPECT_EQ(filter.Protos[2], 254);
  EXPECT_EQ(filter.IcmpTypes[0], 0);
  EXPECT_EQ(filter.IcmpTypes[1], 255);
}

TEST_F(FilterFile, AddressLinesKeepTheirSpaces) {
  std::vector<std::string> lines = baseLines();
  lines[43] = " 1.2.3.4";
  lines[44] = "5.6.7.8 \t";
  TIPFilter filter;
  ASSERT_EQ(load(filter, joined(lines)), "");
  EXPECT_EQ(filter.SIP, " 1.2.3.4");
  EXPECT_EQ(filter.DIP, "5.6.7.8 \t");
}

TEST_F(FilterFile, HandlerRowsResolveByModuleAndName) {
  std::vector<std::string> lines = baseLines(4);
  for (const char *line : {"LTGone.so", "FK_Handler", "LTFake.so", "FK_Handler", "internal",
                           "FL_DumpMessage", "Internal", "FL_DumpMessage"})
    lines.push_back(line);
  TIPFilter filter;
  ASSERT_EQ(load(filter, joined(lines)), "");
  ASSERT_EQ(filter.ProcCount, 4);
  // A module that is no longer there: the row keeps its names, without entry.
  EXPECT_EQ(filter.Procs[0].Proc, nullptr);
  EXPECT_EQ(filter.Procs[0].DLLName, "LTGone.so");
  EXPECT_EQ(filter.Procs[0].ProcName, "FK_Handler");
  EXPECT_EQ(filter.Procs[1].Proc, fakePlugin);
  EXPECT_EQ(filter.Procs[2].Proc, nullptr) << "module names compare with letter case";
  EXPECT_EQ(filter.Procs[3].Proc, FL_DumpMessage);
  EXPECT_EQ(filter.Procs[3].Desc, "Dump IP Package");

  // Saving it again keeps the unresolved names.
  SaveFilter(filter, folder_);
  std::string text = read(folder_ + "Base.flt");
  EXPECT_NE(text.find("\r\n4\r\nLTGone.so\r\nFK_Handler\r\nLTFake.so\r\n"), std::string::npos);
}

TEST_F(FilterFile, HandlerCountSetsTheChainAndClearsTheRest) {
  TIPFilter filter;
  for (auto &row : filter.Procs)
    row = FilterProcs[0];

  ASSERT_EQ(load(filter, joined(baseLines(0))), "");
  EXPECT_EQ(filter.ProcCount, 0);
  for (const TCustFilters &row : filter.Procs)
    EXPECT_TRUE(row.Proc == nullptr && row.DLLName.empty() && row.ProcName.empty());

  // Rows the file lacks read as empty names that resolve to nothing.
  std::vector<std::string> shortRows = baseLines(2);
  shortRows.push_back("Internal");
  ASSERT_EQ(load(filter, joined(shortRows)), "");
  EXPECT_EQ(filter.ProcCount, 2);
  EXPECT_EQ(filter.Procs[0].DLLName, "Internal");
  EXPECT_EQ(filter.Procs[0].ProcName, "");
  EXPECT_EQ(filter.Procs[0].Proc, nullptr);
  EXPECT_EQ(filter.Procs[1].DLLName, "");
}

TEST_F(FilterFile, HandlerCountAboveTheChainReadsSixtyFourRows) {
  std::vector<std::string> lines = baseLines(70);
  for (int i = 0; i < 70; ++i) {
    lines.push_back("Internal");
    lines.push_back(i == 63 ? "FL_PrintTextMessage" : "FL_PrintStdHead");
  }
  TIPFilter filter;
  ASSERT_EQ(load(filter, joined(lines)), "");
  EXPECT_EQ(filter.ProcCount, kMaxProcsPerFilter);
  EXPECT_EQ(filter.Procs[0].Proc, FL_PrintStdHead);
  EXPECT_EQ(filter.Procs[63].Proc, FL_PrintTextMessage);

  // Saved again, it holds the 64 rows it has.
  SaveFilter(filter, folder_);
  std::string text = read(folder_ + "Base.flt");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 50 + 2 * 64);
}

TEST_F(FilterFile, FailedSaveThrowsAndLeavesNoTemporaryFile) {
  TIPFilter filter = sampleFilter();
  try {
    SaveFilter(filter, folder_ + "absent/");
    ADD_FAILURE() << "saved into a missing folder";
  } catch (const EFilterFileError &error) {
    EXPECT_STREQ(error.what(), "No such file or directory");
  }

  // The file name is taken by a folder: the rename fails after the write.
  ASSERT_TRUE(fs::create_directory(folder_ + "Web and DNS.flt"));
  EXPECT_THROW(SaveFilter(filter, folder_), EFilterFileError);
  EXPECT_EQ(names(), std::vector<std::string>{"Web and DNS.flt"});
}

TEST_F(FilterFile, SaveIntoReadOnlyFolderKeepsTheOldFile) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root writes into read-only folders";
  std::string old = write("Web and DNS.flt", "old content");
  ASSERT_EQ(chmod(folder_.c_str(), 0500), 0);
  EXPECT_THROW(SaveFilter(sampleFilter(), folder_), EFilterFileError);
  EXPECT_EQ(read(old), "old content");
  EXPECT_EQ(names(), std::vector<std::string>{"Web and DNS.flt"});
}

TEST_F(FilterFile, SaveReplacesTheWholeFile) {
  TIPFilter filter = sampleFilter();
  write("Web and DNS.flt", std::string(5000, 'x'));
  filter.ProcCount = 0;
  SaveFilter(filter, folder_.substr(0, folder_.size() - 1)); // folder without "/"
  std::string text = read(folder_ + "Web and DNS.flt");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 50);
  EXPECT_EQ(text.find('x'), std::string::npos);
  EXPECT_EQ(names(), std::vector<std::string>{"Web and DNS.flt"});
}

} // namespace
