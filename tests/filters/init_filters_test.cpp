#include "filters/builtin_handlers.h"
#include "filters/filter_file.h"
#include "filters/handler_table.h"
#include "filters/ip_filter.h"
#include "filters/plugin_modules.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#ifndef VANTOR_TEST_PLUGIN_DIR
#error "VANTOR_TEST_PLUGIN_DIR names the folder of the built test plug-ins"
#endif

namespace {

namespace fs = std::filesystem;

std::vector<std::string> gItems;
void sink(const char *text) {
  gItems.emplace_back(text);
}

// Whether the library at `path` is loaded in this process right now.
bool isLoaded(const std::string &path) {
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle)
    dlclose(handle);
  return handle != nullptr;
}

std::string filterText(const std::string &name, const std::string &dll = "Internal",
                       const std::string &proc = "FL_PrintTextMessage") {
  std::string text = "version1\r\n" + name + "\r\n-1\r\n";
  for (int i = 0; i < 40; ++i)
    text += "0\r\n";
  text += "\r\n\r\n0\r\n0\r\n0\r\n0\r\n1\r\n" + dll + "\r\n" + proc + "\r\n";
  return text;
}

class InitFiltersTest : public ::testing::Test {
protected:
  void SetUp() override {
    char exe[] = "/tmp/vantor-exe-XXXXXX";
    char settings[] = "/tmp/vantor-cfg-XXXXXX";
    ASSERT_NE(mkdtemp(exe), nullptr);
    ASSERT_NE(mkdtemp(settings), nullptr);
    exe_ = std::string(exe) + "/";
    settings_ = std::string(settings) + "/";
    gItems.clear();
  }
  void TearDown() override {
    UnloadFilterModules();
    ClearFilterProcs();
    for (const std::string &folder : {exe_, settings_}) {
      chmod(folder.c_str(), 0700);
      fs::remove_all(folder);
    }
  }

  // Copies a built test plug-in into the executable folder under `name`.
  std::string install(const std::string &plugin, const std::string &name,
                      const std::string &folder = "") {
    std::string path = (folder.empty() ? exe_ : folder) + name;
    fs::copy_file(std::string(VANTOR_TEST_PLUGIN_DIR) + plugin + ".so", path,
                  fs::copy_options::overwrite_existing);
    chmod(path.c_str(), 0755);
    return path;
  }
  void writeFilter(const std::string &fileName, const std::string &content) {
    std::ofstream(settings_ + fileName, std::ios::binary) << content;
  }

  std::string exe_, settings_;
};

struct Row {
  std::string dll, proc, desc;
};

void expectRows(const std::vector<Row> &rows) {
  ASSERT_EQ(FilterProcCount, static_cast<int32_t>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_NE(FilterProcs[i].Proc, nullptr) << "row " << i;
    EXPECT_EQ(FilterProcs[i].DLLName, rows[i].dll) << "row " << i;
    EXPECT_EQ(FilterProcs[i].ProcName, rows[i].proc) << "row " << i;
    EXPECT_EQ(FilterProcs[i].Desc, rows[i].desc) << "row " << i;
  }
}

const std::vector<Row> kBuiltIn = {
    {"Internal", "FL_PrintStdHead", "Print IP Header"},
    {"Internal", "FL_DumpMessage", "Dump IP Package"},
    {"Internal", "FL_PrintTextMessage", "Print Text Package"},
};

TEST_F(InitFiltersTest, WithoutPluginsOrFilesHoldsTheBuiltInsAndAllData) {
  // Names that only look like plug-ins are not loaded.
  install("same_name_a", "ltlower.so");
  install("same_name_a", "LTversioned.so.1");
  install("same_name_a", "libLTprefixed.so");
  writeFilter("notes.txt", filterText("Not a filter file"));

  InitFilters(exe_, settings_);
  expectRows(kBuiltIn);
  EXPECT_EQ(FilterProcs[0].Proc, FL_PrintStdHead);
  EXPECT_EQ(FilterProcs[1].Proc, FL_DumpMessage);
  EXPECT_EQ(FilterProcs[2].Proc, FL_PrintTextMessage);
  EXPECT_EQ(FilterDLLCount, 0);

  ASSERT_EQ(IPFilterCount, 1);
  const TIPFilter &all = IPFilters[0];
  EXPECT_EQ(all.Name, "All Data");
  EXPECT_EQ(all.AllProto, -1);
  EXPECT_EQ(all.Protos, (std::array<uint8_t, 8>{}));
  EXPECT_EQ(all.IcmpTypes, (std::array<uint8_t, 32>{}));
  EXPECT_TRUE(all.SIP.empty() && all.DIP.empty());
  EXPECT_EQ(all.SPort | all.DPort | all.IgZero | all.ReturnPkg, 0);
  ASSERT_EQ(all.ProcCount, 2);
  EXPECT_EQ(all.Procs[0].Proc, FL_PrintStdHead);
  EXPECT_EQ(all.Procs[1].Proc, FL_DumpMessage);
  EXPECT_EQ(all.Procs[1].DLLName, "Internal");
  EXPECT_EQ(all.Procs[2].Proc, nullptr);
  for (const TIPFilter &filter : IPFilters)
    EXPECT_NE(filter.Returns, nullptr);
}

TEST_F(InitFiltersTest, RegistersWellBehavedHandlersAndSkipsTheRest) {
  // Installed out of order: the listing is sorted by name.
  install("unterminated_text", "LT6_unterminated.so");
  install("same_name_b", "LT5_sameB.so");
  install("same_name_a", "LT4_sameA.so");
  std::string zero = install("zero_count", "LT3_zero.so");
  std::string missing = install("missing_export", "LT2_missing.so");
  install("unexported_name", "LT1_unexported.so");

  InitFilters(exe_, settings_);

  const std::string longHandlerDesc(512, 'H');
  std::vector<Row> rows = kBuiltIn;
  rows.push_back({"LT1_unexported.so", "UN_First", "Unexported name handler 0"});
  rows.push_back({"LT1_unexported.so", "UN_Third", "Unexported name handler 2"});
  rows.push_back({"LT4_sameA.so", "SN_Handler", "Shared name handler A"});
  rows.push_back({"LT5_sameB.so", "SN_Handler", "Shared name handler B"});
  rows.push_back({"LT6_unterminated.so", "UT_Handler", longHandlerDesc});
  expectRows(rows);

  struct Module {
    std::string file, desc;
  } modules[] = {{"LT1_unexported.so", "Unexported name module"},
                 {"LT3_zero.so", "Zero count module 1.0"},
                 {"LT4_sameA.so", "Same name module A"},
                 {"LT5_sameB.so", "Same name module B"},
                 {"LT6_unterminated.so", std::string(512, 'D')}};
  ASSERT_EQ(FilterDLLCount, 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_NE(FilterDLLs[i].Handle, nullptr);
    EXPECT_EQ(FilterDLLs[i].Path, exe_ + modules[i].file);
    EXPECT_EQ(FilterDLLs[i].Desc, modules[i].desc);
  }
  // A module without handlers stays loaded; one lacking an export is released.
  EXPECT_TRUE(isLoaded(zero));
  EXPECT_FALSE(isLoaded(missing));

  // The same procedure name in two modules: two rows, told apart by module.
  int32_t indexA = -1, indexB = -1;
  TFilterProc procA = FindFilterProc("LT4_sameA.so", "SN_Handler", indexA);
  TFilterProc procB = FindFilterProc("LT5_sameB.so", "SN_Handler", indexB);
  EXPECT_EQ(indexA, 5);
  EXPECT_EQ(indexB, 6);
  ASSERT_TRUE(procA && procB);
  EXPECT_NE(procA, procB);

  TFilterPacket packet{};
  packet.FrameLen = 1514;
  packet.Payload = reinterpret_cast<const uint8_t *>("");
  FilterProcs[5].Proc(&packet, sizeof packet, sink);
  FilterProcs[6].Proc(&packet, sizeof packet, sink);
  FilterProcs[6].Proc(VANTOR_NOTIFY_CAPSTOP, VANTOR_NOTIFY_SIZE, sink);
  FilterProcs[3].Proc(&packet, sizeof packet, sink);
  EXPECT_EQ(gItems,
            (std::vector<std::string>{"same_name_a packet 1514", "same_name_b packet 1514",
                                      "same_name_b notification 8", "unexported_name first"}));

  UnloadFilterModules();
  EXPECT_EQ(FilterDLLCount, 0);
  EXPECT_FALSE(isLoaded(zero));
  EXPECT_EQ(IPFilters[0].Returns, nullptr);
}

// A plug-in runs with the program's capture rights, so one that any user
// could have replaced must not load.
TEST_F(InitFiltersTest, PluginsOthersMayWriteAreNotLoaded) {
  install("same_name_a", "LTa_good.so");
  std::string open = install("same_name_b", "LTb_open.so");
  ASSERT_EQ(chmod(open.c_str(), 0757), 0);
  // A link to a library that lies in a folder anyone may write.
  std::string shared = exe_ + "shared/";
  ASSERT_TRUE(fs::create_directory(shared));
  ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
  fs::create_symlink(install("zero_count", "zero.so", shared), exe_ + "LTc_link.so");

  InitFilters(exe_, settings_);
  ASSERT_EQ(FilterDLLCount, 1);
  EXPECT_EQ(FilterDLLs[0].Path, exe_ + "LTa_good.so");
  EXPECT_EQ(FilterProcCount, 4);
  EXPECT_FALSE(isLoaded(open));

  // A folder anyone may write: nothing in it loads, not even a link to a
  // library kept safe elsewhere (anyone could have made or replaced it).
  UnloadFilterModules();
  std::string safe = settings_ + "safe/";
  ASSERT_TRUE(fs::create_directory(safe));
  ASSERT_EQ(chmod(safe.c_str(), 0755), 0);
  fs::create_symlink(install("same_name_a", "kept.so", safe), exe_ + "LTd_link.so");
  ASSERT_EQ(chmod(exe_.c_str(), 0777), 0);
  InitFilters(exe_, settings_);
  EXPECT_EQ(FilterDLLCount, 0);
  expectRows(kBuiltIn);
}

TEST_F(InitFiltersTest, LoadsFilterFilesInNameOrderAndSkipsBadOnes) {
  install("same_name_a", "LTsame.so");
  writeFilter("d.flt", filterText("Fourth"));
  writeFilter("c.flt", filterText("Third", "LTsame.so", "SN_Handler"));
  writeFilter("b2.flt", "version1\r\nBroken\r\nnot a number\r\n");
  writeFilter("b1.flt", filterText("Second", "LTgone.so", "SN_Handler"));
  writeFilter("a.flt", filterText("First"));
  writeFilter("e.flt", "Version1\r\n");
  writeFilter("f.flt.bak", filterText("Backup"));
  fs::create_directory(settings_ + "g.flt");

  InitFilters(exe_, settings_);
  ASSERT_EQ(IPFilterCount, 5);
  const char *names[] = {"All Data", "First", "Second", "Third", "Fourth"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(IPFilters[i].Name, names[i]);
    EXPECT_NE(IPFilters[i].Returns, nullptr);
  }
  EXPECT_EQ(IPFilters[1].Procs[0].Proc, FL_PrintTextMessage);
  EXPECT_EQ(IPFilters[2].Procs[0].Proc, nullptr);
  EXPECT_EQ(IPFilters[2].Procs[0].DLLName, "LTgone.so");
  // A filter file naming a plug-in handler runs it through its chain.
  ASSERT_NE(IPFilters[3].Procs[0].Proc, nullptr);
  TFilterPacket packet{};
  packet.FrameLen = 60;
  packet.Payload = reinterpret_cast<const uint8_t *>("");
  IPFilters[3].Procs[0].Proc(&packet, sizeof packet, sink);
  EXPECT_EQ(gItems, std::vector<std::string>{"same_name_a packet 60"});
}

TEST_F(InitFiltersTest, FullTablesRefuseTheSurplus) {
  // 70 modules of two handlers each: 64 modules load, and the handler table
  // fills up part way through module 62.
  for (int i = 0; i < 70; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "LT%03d.so", i);
    install("unexported_name", name);
  }
  for (int i = 0; i < 300; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%03d.flt", i);
    writeFilter(name, filterText(name));
  }
  InitFilters(exe_, settings_);

  EXPECT_EQ(FilterDLLCount, kMaxFilterDLLs);
  EXPECT_EQ(FilterDLLs[63].Path, exe_ + "LT063.so");
  EXPECT_EQ(FilterProcCount, kMaxFilterProcs);
  EXPECT_EQ(FilterProcs[126].DLLName, "LT061.so");
  EXPECT_EQ(FilterProcs[126].ProcName, "UN_Third");
  EXPECT_EQ(FilterProcs[127].DLLName, "LT062.so");
  EXPECT_EQ(FilterProcs[127].ProcName, "UN_First");

  EXPECT_EQ(IPFilterCount, kMaxIPFilters);
  EXPECT_EQ(IPFilters[1].Name, "f000.flt");
  EXPECT_EQ(IPFilters[255].Name, "f254.flt");
}

TEST(ExecutableFolderTest, IsTheFolderOfTheRunningProgram) {
  std::string expected = fs::canonical("/proc/self/exe").parent_path().string() + "/";
  EXPECT_EQ(ExecutableFolder(), expected);
}

} // namespace
